#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct Rgb {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV5HeaderSize = 124;

// A 24-bit BMP file with the 14-byte file header, rows bottom first and padded to 4 bytes;
// `pixel(x, y)` counts rows from the bottom. A `headerSize` other than 40 gives a header of
// that length whose leading fields are those of the 40-byte one, the rest zero.
std::string bmpFile(int width, int height, const std::function<Rgb(int x, int y)>& pixel,
                    uint32_t headerSize = kInfoHeaderSize);
