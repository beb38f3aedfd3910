// Writes a pair of sample textures for blendspin into a directory: "1024.bmp" (colour) and
// "1024a.bmp" (grey levels read as opacity).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/bmp_writer.h"

namespace {

constexpr int32_t kSize = 1024;
constexpr double kPi = 3.14159265358979323846;

struct Colour {
    double red, green, blue;  // each 0..1
};

uint8_t toByte(double level) {
    const double clamped = level < 0 ? 0 : level > 1 ? 1 : level;
    return static_cast<uint8_t>(std::lround(clamped * 255));
}

// A 24-bit file of the pattern `colourAt`.
template <typename ColourAt>
bmp_writer::Bytes encodeBitmap(int32_t width, int32_t height, ColourAt colourAt) {
    return bmp_writer::file24(width, height, [&colourAt](int x, int y) {
        const Colour colour = colourAt(x, y);
        return bmp_writer::Rgb{toByte(colour.red), toByte(colour.green), toByte(colour.blue)};
    });
}

// Texture coordinates of a pixel's centre: 0..1 from left to right and from bottom to top, as
// the rows are written bottom first.
struct Point {
    double x, y;
};

Point at(int32_t x, int32_t y) {
    return {(x + 0.5) / kSize, (y + 0.5) / kSize};
}

double smoothstep(double edge0, double edge1, double value) {
    const double t = std::fmin(1.0, std::fmax(0.0, (value - edge0) / (edge1 - edge0)));
    return t * t * (3 - 2 * t);
}

Colour mix(Colour a, Colour b, double t) {
    return {a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t,
            a.blue + (b.blue - a.blue) * t};
}

// Signed distance from a rounded rectangle (negative inside), given its centre, half sizes
// and corner radius.
double roundedBox(Point p, Point centre, Point half, double radius) {
    const double qx = std::fabs(p.x - centre.x) - half.x + radius;
    const double qy = std::fabs(p.y - centre.y) - half.y + radius;
    const double outside = std::hypot(std::fmax(qx, 0.0), std::fmax(qy, 0.0));
    return outside + std::fmin(std::fmax(qx, qy), 0.0) - radius;
}

// Coverage of a shape with signed distance `distance`, smoothed over about one pixel.
double inside(double distance) {
    return smoothstep(0.7 / kSize, -0.7 / kSize, distance);
}

// A bold "F": it reads wrongly when mirrored, flipped or turned, so a texture placed the wrong
// way round shows at once.
double letterF(Point p) {
    const double stem = roundedBox(p, {0.21, 0.63}, {0.05, 0.22}, 0.01);
    const double top = roundedBox(p, {0.31, 0.80}, {0.15, 0.05}, 0.01);
    const double middle = roundedBox(p, {0.28, 0.625}, {0.12, 0.045}, 0.01);
    return std::fmin(stem, std::fmin(top, middle));
}

// A landscape: deep blue sky paling towards rolling green hills, a sun top right and a white
// "F" with a soft shadow in the sky on the left.
Colour colourPattern(int32_t x, int32_t y) {
    const Point p = at(x, y);
    // Sky: warm near the horizon, deep blue overhead.
    Colour colour = mix({0.98, 0.85, 0.62}, {0.12, 0.30, 0.72}, smoothstep(0.3, 1.0, p.y));

    const double sunDistance = std::hypot(p.x - 0.76, p.y - 0.78);
    colour = mix(colour, {1.0, 0.93, 0.55}, 0.6 * std::exp(-sunDistance * 12));  // glow
    colour = mix(colour, {1.0, 0.88, 0.25}, inside(sunDistance - 0.09));

    const double horizon = 0.30 + 0.05 * std::sin(2 * kPi * (p.x * 1.3 + 0.2)) + 0.04 * (1 - p.x);
    const Colour ground = mix({0.10, 0.35, 0.12}, {0.40, 0.68, 0.22}, p.y / horizon);
    colour = mix(colour, ground, inside(p.y - horizon));

    const double shadow = smoothstep(0.02, -0.01, letterF({p.x - 0.012, p.y + 0.012}));
    colour = mix(colour, {0.0, 0.0, 0.15}, 0.5 * shadow);
    return mix(colour, {1.0, 1.0, 1.0}, inside(letterF(p)));
}

// Opacity: clear outside an opaque frame with rounded corners; within it a gentle fall from
// 95% at the top to 60% at the bottom, pierced by soft round holes of several sizes.
Colour opacityPattern(int32_t x, int32_t y) {
    const Point p = at(x, y);
    const Point centre = {0.5, 0.5};
    const double outer = roundedBox(p, centre, {0.5, 0.5}, 0.12);
    const double inner = roundedBox(p, centre, {0.42, 0.42}, 0.06);
    double opacity = 0.60 + 0.35 * p.y;
    opacity = std::fmax(opacity, smoothstep(-0.01, 0.01, inner));

    struct Hole {
        Point centre;
        double radius;
    };
    const Hole holes[] = {
        {{0.58, 0.48}, 0.13}, {{0.26, 0.22}, 0.08}, {{0.82, 0.38}, 0.06}, {{0.56, 0.85}, 0.045}};
    for (const Hole& hole : holes) {
        const double distance = std::hypot(p.x - hole.centre.x, p.y - hole.centre.y);
        opacity *= smoothstep(0.5 * hole.radius, hole.radius, distance);
    }
    opacity *= inside(outer);
    return {opacity, opacity, opacity};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    const bool ok =
        bmp_writer::writeFile(directory + "/1024.bmp", encodeBitmap(kSize, kSize, colourPattern)) &&
        bmp_writer::writeFile(directory + "/1024a.bmp", encodeBitmap(kSize, kSize, opacityPattern));
    return ok ? 0 : 1;
}
