#include "image/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

MappedFile MappedFile::open(const char* path) {
    MappedFile file;
    if (path == nullptr) return file;
    // Non-blocking, so a FIFO cannot stall the open; it is refused below as not a regular file.
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) return file;
    file.file_ = descriptor;

    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0 ||
        static_cast<uint64_t>(status.st_size) > SIZE_MAX) {
        return file;
    }
    const size_t size = static_cast<size_t>(status.st_size);
    void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
    if (view == MAP_FAILED) return file;
    file.data_ = static_cast<const uint8_t*>(view);
    file.size_ = size;
    return file;
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) munmap(const_cast<uint8_t*>(data_), size_);
    if (file_ >= 0) close(static_cast<int>(file_));
}
