#pragma once

// A read-only copy of some bytes that ends exactly where an inaccessible page begins, so a
// read of even one byte past the end faults at once, with or without a sanitizer.

#include <cstddef>
#include <cstdint>
#include <vector>

class GuardedBytes {
public:
    explicit GuardedBytes(const std::vector<uint8_t>& bytes);
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    ~GuardedBytes();

    // Null when the pages could not be had.
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    void* region_ = nullptr;
    size_t regionBytes_ = 0;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};
