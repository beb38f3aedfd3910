#include "tests/support/bmp_file.h"

namespace {

void putLittleEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string bmpFile(int width, int height, const std::function<Rgb(int x, int y)>& pixel,
                    uint32_t headerSize) {
    const uint32_t rowBytes = (3 * static_cast<uint32_t>(width) + 3) & ~3u;
    const uint32_t pixelBytes = rowBytes * static_cast<uint32_t>(height);
    const uint32_t pixelOffset = 14 + headerSize;
    std::string out = "BM";
    putLittleEndian(out, pixelOffset + pixelBytes, 4);
    putLittleEndian(out, 0, 4);
    putLittleEndian(out, pixelOffset, 4);
    putLittleEndian(out, headerSize, 4);
    putLittleEndian(out, static_cast<uint32_t>(width), 4);
    putLittleEndian(out, static_cast<uint32_t>(height), 4);
    putLittleEndian(out, 1, 2);   // planes
    putLittleEndian(out, 24, 2);  // bits per pixel, BI_RGB and the rest zero
    out.resize(pixelOffset, '\0');
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb rgb = pixel(x, y);
            out += {static_cast<char>(rgb.blue), static_cast<char>(rgb.green),
                    static_cast<char>(rgb.red)};
        }
        out.resize(pixelOffset + rowBytes * static_cast<uint32_t>(y + 1), '\0');
    }
    return out;
}
