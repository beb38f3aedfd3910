#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

// A read-only private mapping of a whole file, owned by this object: unmapped and closed when it
// goes. Move-only. Empty (false) when the file cannot be opened or mapped, which includes an
// empty file and anything that is not a regular file.
class MappedFile {
public:
    static MappedFile open(const char* path);

    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept { swap(other); }
    MappedFile& operator=(MappedFile&& other) noexcept {
        swap(other);
        return *this;
    }
    ~MappedFile();

    explicit operator bool() const { return data_ != nullptr; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    void swap(MappedFile& other) noexcept {
        std::swap(file_, other.file_);
        std::swap(mapping_, other.mapping_);
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
    }

    // The platform's open file (a descriptor or a handle; -1 for none) and, where the platform
    // has one, its mapping object (0 for none).
    intptr_t file_ = -1;
    intptr_t mapping_ = 0;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};
