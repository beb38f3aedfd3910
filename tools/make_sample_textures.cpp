// Writes a pair of sample textures for blendspin into a directory: "1024.bmp" (colour) and
// "1024a.bmp" (grey levels read as opacity).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int32_t kSize = 1024;
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr int32_t kPixelsPerMetre = 2835;  // 72 dots per inch
constexpr double kPi = 3.14159265358979323846;

struct Colour {
    double red, green, blue;  // each 0..1
};

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

// BMP fields are little-endian whatever the host, so they are put together byte by byte.
void putUint16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void putUint32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint8_t toByte(double level) {
    const double clamped = level < 0 ? 0 : level > 1 ? 1 : level;
    return static_cast<uint8_t>(std::lround(clamped * 255));
}

// Headers and bottom-up rows of a 24-bit BI_RGB bitmap, pixels stored blue, green, red.
template <typename PixelAt>
std::vector<uint8_t> encodeBitmap(int32_t width, int32_t height, PixelAt pixelAt) {
    const uint32_t rowSize = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t pixelBytes = rowSize * static_cast<uint32_t>(height);
    const uint32_t pixelOffset = kFileHeaderSize + kInfoHeaderSize;

    std::vector<uint8_t> out;
    out.reserve(pixelOffset + pixelBytes);
    out.push_back('B');
    out.push_back('M');
    putUint32(out, pixelOffset + pixelBytes);
    putUint32(out, 0);  // two reserved words
    putUint32(out, pixelOffset);

    putUint32(out, kInfoHeaderSize);
    putUint32(out, static_cast<uint32_t>(width));
    putUint32(out, static_cast<uint32_t>(height));  // positive: bottom row first
    putUint16(out, 1);                              // planes
    putUint16(out, 24);                             // bits per pixel
    putUint32(out, 0);                              // BI_RGB
    putUint32(out, pixelBytes);
    putUint32(out, kPixelsPerMetre);
    putUint32(out, kPixelsPerMetre);
    putUint32(out, 0);  // colours used: none, there is no palette
    putUint32(out, 0);  // important colours

    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const Colour colour = pixelAt(x, y);
            out.push_back(toByte(colour.blue));
            out.push_back(toByte(colour.green));
            out.push_back(toByte(colour.red));
        }
        out.resize(out.size() + (rowSize - static_cast<uint32_t>(width) * 3), 0);
    }
    return out;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    File file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    // fclose flushes, so a full disk may only show here.
    if (std::fclose(file.release()) != 0 || !written) {
        std::fprintf(stderr, "%s: write failed\n", path.c_str());
        return false;
    }
    return true;
}

Colour fromHue(double hue) {
    const auto channel = [hue](double offset) {
        return 0.5 + 0.5 * std::cos(2 * kPi * (hue - offset));
    };
    return {channel(0.0), channel(1.0 / 3), channel(2.0 / 3)};
}

struct Polar {
    double radius, angle;
};

// Position relative to the centre, in units of half the side: corners lie at distance √2.
Polar polar(int32_t x, int32_t y) {
    const double u = (x + 0.5) / (kSize / 2) - 1;
    const double v = (y + 0.5) / (kSize / 2) - 1;
    return {std::sqrt(u * u + v * v), std::atan2(v, u)};
}

// A colour wheel twisted into a spiral, over a soft checkerboard of light and shade.
Colour colourPattern(int32_t x, int32_t y) {
    const Polar at = polar(x, y);
    const Colour hue = fromHue(at.angle / (2 * kPi) + 0.6 * at.radius);
    const double checker = ((x / 128 + y / 128) % 2 == 0) ? 1.0 : 0.8;
    const double pastel = 0.25;
    const auto shade = [&](double level) { return checker * (pastel + (1 - pastel) * level); };
    return {shade(hue.red), shade(hue.green), shade(hue.blue)};
}

// Nearly clear in the middle, opaque towards the rim, with faint concentric ripples.
Colour opacityPattern(int32_t x, int32_t y) {
    const Polar at = polar(x, y);
    const double edge = std::fmin(1.0, at.radius / 0.95);
    const double ramp = edge * edge * (3 - 2 * edge);  // smoothstep
    const double ripple = 0.85 + 0.15 * std::cos(2 * kPi * 6 * at.radius);
    const double opacity = (0.15 + 0.85 * ramp) * ripple;
    return {opacity, opacity, opacity};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    const bool ok = writeFile(directory + "/1024.bmp", encodeBitmap(kSize, kSize, colourPattern)) &&
                    writeFile(directory + "/1024a.bmp", encodeBitmap(kSize, kSize, opacityPattern));
    return ok ? 0 : 1;
}
