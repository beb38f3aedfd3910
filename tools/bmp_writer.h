#pragma once

// BMP files put together field by field, for the sample textures, the loader benchmark and
// the tests: one writer, so that every file they make follows the same layout.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bmp_writer {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV5HeaderSize = 124;

// BMP fields are little-endian whatever the host, so they are put together byte by byte.
void put16(Bytes& out, uint32_t value);
void put32(Bytes& out, uint32_t value);

// The fields of a BMP file, set one call at a time, so each use states only what it changes.
struct Bmp {
    bool fileHeader = true;
    uint32_t headerSize = kInfoHeaderSize;  // 12 writes a core header; more pads an info header
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t imageSize = 0;
    uint32_t coloursUsed = 0;
    std::vector<uint32_t> masks;          // written right after the header
    Bytes table;                          // colour table bytes, as stored
    Bytes gap;                            // between the table and the pixels
    std::optional<uint32_t> pixelOffset;  // default: where the pixels really start
    Bytes pixels;

    Bmp& headerless() { return fileHeader = false, *this; }
    Bmp& header(uint32_t size) { return headerSize = size, *this; }
    Bmp& size(int32_t w, int32_t h) { return width = w, height = h, *this; }
    Bmp& bits(uint16_t count) { return bitCount = count, *this; }
    Bmp& compressed(uint32_t method) { return compression = method, *this; }
    Bmp& bitfields(std::vector<uint32_t> m) { return compression = 3, masks = m, *this; }
    Bmp& colours(uint32_t used) { return coloursUsed = used, *this; }
    Bmp& palette(Bytes t) { return table = t, *this; }
    Bmp& offset(uint32_t o) { return pixelOffset = o, *this; }
    // The pixel bytes; `sized` also states their number in the header.
    Bmp& data(Bytes p) { return pixels = p, *this; }
    Bmp& sized(Bytes p) { return imageSize = static_cast<uint32_t>(p.size()), data(std::move(p)); }
};

Bytes encode(const Bmp& bmp);

struct Rgb {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};
using PixelAt = std::function<Rgb(int x, int y)>;

// Rows of 24-bit pixels, bottom row first, each padded to 4 bytes; `pixel(x, y)` counts rows
// from the bottom.
Bytes rows24(int width, int height, const PixelAt& pixel);

// A whole 24-bit file. A `headerSize` other than 40 gives a header of that length whose
// leading fields are those of the 40-byte one, the rest zero.
Bytes file24(int width, int height, const PixelAt& pixel, uint32_t headerSize = kInfoHeaderSize);

// False, with the reason on stderr, where the file cannot be written whole.
bool writeFile(const std::string& path, const Bytes& bytes);

}  // namespace bmp_writer
