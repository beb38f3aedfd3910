#include "tools/bmp_writer.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace bmp_writer {

void put16(Bytes& out, uint32_t value) {
    out.push_back(value & 0xFF);
    out.push_back(value >> 8 & 0xFF);
}

void put32(Bytes& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

namespace {

Bytes dibHeader(const Bmp& bmp) {
    Bytes dib;
    put32(dib, bmp.headerSize);
    if (bmp.headerSize == kCoreHeaderSize) {
        put16(dib, static_cast<uint32_t>(bmp.width));
        put16(dib, static_cast<uint32_t>(bmp.height));
        put16(dib, 1);
        put16(dib, bmp.bitCount);
        return dib;
    }
    for (int32_t field : {bmp.width, bmp.height}) put32(dib, static_cast<uint32_t>(field));
    put16(dib, 1);
    put16(dib, bmp.bitCount);
    constexpr uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch
    for (uint32_t field :
         {bmp.compression, bmp.imageSize, kPixelsPerMetre, kPixelsPerMetre, bmp.coloursUsed, 0u}) {
        put32(dib, field);
    }
    dib.resize(std::max<size_t>(dib.size(), bmp.headerSize));
    return dib;
}

}  // namespace

Bytes encode(const Bmp& bmp) {
    Bytes dib = dibHeader(bmp);
    for (uint32_t mask : bmp.masks) put32(dib, mask);
    dib.insert(dib.end(), bmp.table.begin(), bmp.table.end());
    dib.insert(dib.end(), bmp.gap.begin(), bmp.gap.end());

    Bytes file;
    if (bmp.fileHeader) {
        const size_t offset = bmp.pixelOffset.value_or(14 + dib.size());
        file = {'B', 'M'};
        put32(file, static_cast<uint32_t>(14 + dib.size() + bmp.pixels.size()));
        put32(file, 0);
        put32(file, static_cast<uint32_t>(offset));
    }
    file.insert(file.end(), dib.begin(), dib.end());
    file.insert(file.end(), bmp.pixels.begin(), bmp.pixels.end());
    return file;
}

Bytes rows24(int width, int height, const PixelAt& pixel) {
    const size_t rowBytes = (3 * static_cast<size_t>(width) + 3) & ~size_t{3};
    Bytes out;
    out.reserve(rowBytes * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb rgb = pixel(x, y);
            out.insert(out.end(), {rgb.blue, rgb.green, rgb.red});
        }
        out.resize(rowBytes * static_cast<size_t>(y + 1), 0);
    }
    return out;
}

Bytes file24(int width, int height, const PixelAt& pixel, uint32_t headerSize) {
    return encode(Bmp().header(headerSize).size(width, height).sized(rows24(width, height, pixel)));
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    // An empty vector's data() may be null, which fwrite must not be given.
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    // fclose flushes, so a full disk may only show here.
    if (std::fclose(file.release()) != 0 || !written) {
        std::fprintf(stderr, "%s: write failed\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace bmp_writer
