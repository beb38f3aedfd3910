#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

// A decoded bitmap: width × height pixels of packed red, green, blue bytes, bottom row first.
// The record and `rgb` are separate `malloc` blocks; the receiver frees `rgb`, then the record.
struct Image {
    int32_t width;
    int32_t height;
    unsigned char* rgb;
};

struct ImageRelease {
    void operator()(Image* image) const {
        std::free(image->rgb);
        std::free(image);
    }
};
// An image's owner, which frees both blocks.
using ImagePtr = std::unique_ptr<Image, ImageRelease>;

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
