// The whole file through a read-only view of a read-only file mapping.

#include <windows.h>

#include <cstdint>

#include "image/mapped_file.h"

namespace {

HANDLE handleOf(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

MappedFile MappedFile::open(const char* path) {
    MappedFile file;
    if (path == nullptr) return file;
    // A directory cannot be opened this way, which is what refuses it.
    const HANDLE handle =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return file;
    file.file_ = reinterpret_cast<intptr_t>(handle);

    // Fails for an empty file.
    const HANDLE mapping = CreateFileMappingA(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) return file;
    file.mapping_ = reinterpret_cast<intptr_t>(mapping);

    // Asked once the mapping exists: the file cannot shrink below a mapped size.
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size) || size.QuadPart <= 0 ||
        static_cast<uint64_t>(size.QuadPart) > SIZE_MAX) {
        return file;
    }
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) return file;
    file.data_ = static_cast<const uint8_t*>(view);
    file.size_ = static_cast<size_t>(size.QuadPart);
    return file;
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) UnmapViewOfFile(data_);
    if (mapping_ != 0) CloseHandle(handleOf(mapping_));
    if (file_ != -1) CloseHandle(handleOf(file_));
}
