#pragma once

#include <cstdint>

// A decoded bitmap: width × height pixels of packed red, green, blue bytes, bottom row first.
// The record and `rgb` are separate `malloc` blocks; the receiver frees `rgb`, then the record.
struct Image {
    int32_t width;
    int32_t height;
    unsigned char* rgb;
};
