#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "tests/support/guarded_bytes.h"

GuardedBytes::GuardedBytes(const std::vector<uint8_t>& bytes) : size_(bytes.size()) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t dataPages = (bytes.size() + page - 1) / page;
    regionBytes_ = (dataPages + 1) * page;
    void* region =
        mmap(nullptr, regionBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return;
    region_ = region;
    uint8_t* guard = static_cast<uint8_t*>(region) + dataPages * page;
    uint8_t* start = guard - bytes.size();
    if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
    if (mprotect(guard, page, PROT_NONE) != 0 ||
        mprotect(region, dataPages * page, PROT_READ) != 0) {
        return;
    }
    data_ = start;
}

GuardedBytes::~GuardedBytes() {
    if (region_ != nullptr) munmap(region_, regionBytes_);
}
