#include "tests/support/scene_model.h"

#include <cmath>

namespace scene_model {

namespace {

struct Vec3 {
    double x;
    double y;
    double z;
};

using Mat3 = std::array<Vec3, 3>;  // rows

double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 apply(const Mat3& m, const Vec3& v) {
    return {dot(m[0], v), dot(m[1], v), dot(m[2], v)};
}

Vec3 applyTransposed(const Mat3& m, const Vec3& v) {
    return {m[0].x * v.x + m[1].x * v.y + m[2].x * v.z, m[0].y * v.x + m[1].y * v.y + m[2].y * v.z,
            m[0].z * v.x + m[1].z * v.y + m[2].z * v.z};
}

Mat3 compose(const Mat3& a, const Mat3& b) {
    const Vec3 column0 = apply(a, {b[0].x, b[1].x, b[2].x});
    const Vec3 column1 = apply(a, {b[0].y, b[1].y, b[2].y});
    const Vec3 column2 = apply(a, {b[0].z, b[1].z, b[2].z});
    return {Vec3{column0.x, column1.x, column2.x}, Vec3{column0.y, column1.y, column2.y},
            Vec3{column0.z, column1.z, column2.z}};
}

// A right-handed turn about a unit axis, the matrix glRotate documents. Mesa narrows the
// angle in radians to single precision too, which shifts turns of millions of degrees.
Mat3 rotation(double degrees, const Vec3& axis) {
    const double radians = static_cast<float>(degrees * M_PI / 180.0);
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    const double k = 1.0 - c;
    const double x = axis.x, y = axis.y, z = axis.z;
    return {Vec3{x * x * k + c, x * y * k - z * s, x * z * k + y * s},
            Vec3{y * x * k + z * s, y * y * k + c, y * z * k - x * s},
            Vec3{x * z * k - y * s, y * z * k + x * s, z * z * k + c}};
}

// glRotatef takes single precision, which matters once the angles grow large.
double frameAngle(int32_t milliseconds, double degreesPerMillisecond) {
    return static_cast<float>(milliseconds * degreesPerMillisecond);
}

// Each square is the one in z = 0 laid into its plane by a quarter turn; in drawing order.
const std::array<Mat3, 3> kSquareTurns = {rotation(90, {0, 1, 0}), rotation(90, {1, 0, 0}),
                                          rotation(90, {0, 0, 1})};

}  // namespace

Hits traceRay(const Motion& motion, int32_t milliseconds, const View& view, double x, double y) {
    const double halfHeight = std::tan(kHalfFieldOfViewDegrees * M_PI / 180.0);
    // Scaled so that the parameter along the ray is the eye-space depth.
    const Vec3 direction{(2.0 * x / view.width - 1.0) * halfHeight * view.aspect,
                         (2.0 * y / view.height - 1.0) * halfHeight, -1.0};
    const Mat3 turnX = rotation(frameAngle(milliseconds, motion.xDegreesPerMillisecond), {1, 0, 0});
    const Mat3 turnY = rotation(frameAngle(milliseconds, motion.yDegreesPerMillisecond), {0, 1, 0});
    const Mat3 frame = motion.yTurnFirst ? compose(turnY, turnX) : compose(turnX, turnY);

    Hits hits{};
    for (size_t square = 0; square < kSquareTurns.size(); ++square) {
        const Mat3 toEye = compose(frame, kSquareTurns[square]);
        // The eye, at the origin, is one unit in front of the squares' centre at (0, 0, -1).
        const Vec3 origin = applyTransposed(toEye, {0, 0, 1});
        const Vec3 along = applyTransposed(toEye, direction);
        if (std::abs(along.z) < 1e-12) continue;
        const double depth = -origin.z / along.z;
        if (depth < kNearPlane || depth > kFarPlane) continue;
        const double u = origin.x + depth * along.x;
        const double v = origin.y + depth * along.y;
        if (std::abs(u) > 1 || std::abs(v) > 1) continue;
        hits[square] = TexturePoint{(u + 1) / 2, (v + 1) / 2};
    }
    return hits;
}

Sample sampleOf(const Texel& texel) {
    return {{static_cast<double>(texel.red), static_cast<double>(texel.green),
             static_cast<double>(texel.blue)},
            texel.alpha / 255.0};
}

Shade blendOver(const Sample& sample, const Shade& below) {
    const double a = sample.alpha;
    return {a * sample.colour.red + (1 - a) * below.red,
            a * sample.colour.green + (1 - a) * below.green,
            a * sample.colour.blue + (1 - a) * below.blue};
}

Shade shadeOf(const Hits& hits, const Texture& texture) {
    Shade shade = kClearGrey;
    for (const std::optional<TexturePoint>& hit : hits) {
        if (hit) shade = blendOver(texture(hit->s, hit->t), shade);
    }
    return shade;
}

namespace {

bool sameShade(const Shade& a, const Shade& b) {
    constexpr double kSame = 0.5;
    return std::abs(a.red - b.red) < kSame && std::abs(a.green - b.green) < kSame &&
           std::abs(a.blue - b.blue) < kSame;
}

}  // namespace

std::vector<Pixel> stablePixels(const View& view, int step,
                                const std::function<Shade(double x, double y)>& picture) {
    constexpr double kWobble = 1.5;
    std::vector<Pixel> pixels;
    for (int y = step / 2; y < view.height; y += step) {
        for (int x = step / 2; x < view.width; x += step) {
            const Shade centre = picture(x + 0.5, y + 0.5);
            bool stable = true;
            for (double dy : {-kWobble, 0.0, kWobble}) {
                for (double dx : {-kWobble, 0.0, kWobble}) {
                    stable = stable && sameShade(picture(x + 0.5 + dx, y + 0.5 + dy), centre);
                }
            }
            if (stable) pixels.push_back({x, y});
        }
    }
    return pixels;
}

}  // namespace scene_model
