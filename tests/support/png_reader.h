#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A PNG reduced to 8-bit red, green, blue, rows top-down as the file stores them. Alpha and
// transparency are dropped: the comparisons that use it are about colour only.
struct RgbPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
};

// False when the file cannot be opened or libpng rejects it.
bool readPng(const std::string& path, RgbPicture* picture);
