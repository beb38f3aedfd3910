#pragma once

// An independent model of the picture the program draws: the eye ray through a window point
// against the three squares, and what blending them over the clear grey gives. Window points
// are in GL's window coordinates: x to the right, y up, pixel (x, y) centred at (x + .5, y + .5).

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace scene_model {

// How the squares' frame turns with time; tests build wrong variants to show that the picture
// tells them apart.
struct Motion {
    const char* name;
    double xDegreesPerMillisecond;
    double yDegreesPerMillisecond;
    bool yTurnFirst;
};

constexpr Motion kDrawnMotion{"as drawn", 0.01, 0.05, false};

constexpr double kNearPlane = 0.1;
constexpr double kFarPlane = 100.0;
constexpr double kHalfFieldOfViewDegrees = 22.5;

struct View {
    int width;
    int height;
    double aspect;  // the one the projection was built with
};

// Where a ray meets a square, in the square's texture coordinates.
struct TexturePoint {
    double s;
    double t;
};

// For each square in drawing order, where the ray meets it; nothing where it misses the
// square or the square is clipped there.
using Hits = std::array<std::optional<TexturePoint>, 3>;

Hits traceRay(const Motion& motion, int32_t milliseconds, const View& view, double x, double y);

struct Texel {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    uint8_t alpha;
};

struct Shade {
    double red;
    double green;
    double blue;
};

constexpr Shade kClearGrey{127.5, 127.5, 127.5};

// What the texture gives at (s, t); the texture wraps, so any value may come in. Filtering
// may leave fractional values, hence a Shade and an opacity rather than a Texel.
struct Sample {
    Shade colour;
    double alpha;  // 0 to 1
};
using Texture = std::function<Sample(double s, double t)>;

Sample sampleOf(const Texel& texel);

// Source-alpha blending over what lies below.
Shade blendOver(const Sample& sample, const Shade& below);

// The squares the ray meets blended in drawing order over the clear grey.
Shade shadeOf(const Hits& hits, const Texture& texture);

struct Pixel {
    int x;
    int y;
};

// Pixels on a grid whose modelled shade stays the same when the ray moves a pixel and a half
// either way, so that edges, seams, clipping and rounding in the rasteriser cannot decide them.
std::vector<Pixel> stablePixels(const View& view, int step,
                                const std::function<Shade(double x, double y)>& picture);

}  // namespace scene_model
