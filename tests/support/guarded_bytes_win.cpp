#include <windows.h>

#include <cstring>

#include "tests/support/guarded_bytes.h"

// The data pages and the guard page are two regions reserved back to back, so the guard's
// protection cannot be widened by any change to the data's.
GuardedBytes::GuardedBytes(const std::vector<uint8_t>& bytes) : size_(bytes.size()) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t granule = system.dwAllocationGranularity;
    const size_t dataBytes = (bytes.size() + granule - 1) / granule * granule;
    regionBytes_ = dataBytes + granule;
    region_ = VirtualAlloc(nullptr, regionBytes_, MEM_RESERVE, PAGE_NOACCESS);
    if (region_ == nullptr) return;
    uint8_t* guard = static_cast<uint8_t*>(region_) + dataBytes;
    if (dataBytes > 0 && VirtualAlloc(region_, dataBytes, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
        return;
    }
    uint8_t* start = guard - bytes.size();
    if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
    DWORD previous = 0;
    if (dataBytes > 0 && !VirtualProtect(region_, dataBytes, PAGE_READONLY, &previous)) return;
    data_ = start;
}

GuardedBytes::~GuardedBytes() {
    if (region_ != nullptr) VirtualFree(region_, 0, MEM_RELEASE);
}
