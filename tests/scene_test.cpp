// The scene in a real GLUT window with a real GL context on a private Xvfb, at moments the
// test chooses. Pictures are compared with an independent model of the eye rays.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "tests/support/fake_clock.h"
#include "tests/support/glut_session.h"
#include "tests/support/scene_model.h"
#include "tests/support/wait_until.h"

namespace {

constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 480;

// ---- The window, driven by callbacks that forward to the application as the program's do.

int reshapedWidth = -1;
int reshapedHeight = -1;
bool exposed = false;

void onDisplay() {
    exposed = true;
    theApp->draw();
}

void onReshape(int width, int height) {
    reshapedWidth = width;
    reshapedHeight = height;
    theApp->reshape(width, height);
}

bool processEventsUntil(const std::function<bool()>& done) {
    return waitUntil(
        std::chrono::seconds(5),
        [&] {
            if (done()) return true;
            glutMainLoopEvent();
            return false;
        },
        std::chrono::milliseconds(1));
}

bool sceneReady = false;
std::array<GLfloat, 16> projectionAfterInit{};

class SceneEnvironment : public testing::Environment {
public:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(glut_.start("scene_test"));
        createApp();
        // Taken before the first reshape replaces it.
        glGetFloatv(GL_PROJECTION_MATRIX, projectionAfterInit.data());
        glutDisplayFunc(onDisplay);
        glutReshapeFunc(onReshape);
        ASSERT_TRUE(processEventsUntil([] { return exposed; })) << "the window was never shown";
        sceneReady = true;
    }

    void TearDown() override { glut_.stop(); }

private:
    GlutSession glut_;
};

testing::Environment* const sceneEnvironment =
    testing::AddGlobalTestEnvironment(new SceneEnvironment);

// ---- The picture in the window.

struct Colour {
    int red;
    int green;
    int blue;
};

int channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    return static_cast<int>(((pixel & mask) >> shift) * 255 / (mask >> shift));
}

// What the X server shows in the window. Reading GL's front buffer after the swap gives
// black with Mesa's software rasteriser on Xvfb, so the picture is taken from the server,
// as a screenshot would be.
class Frame {
public:
    static Frame capture() {
        Display* display = glXGetCurrentDisplay();
        const Window window = glXGetCurrentDrawable();
        Frame frame;
        XWindowAttributes attributes;
        if (display == nullptr || !XGetWindowAttributes(display, window, &attributes)) return frame;
        XImage* image = XGetImage(display, window, 0, 0, attributes.width, attributes.height,
                                  AllPlanes, ZPixmap);
        if (image == nullptr) return frame;
        frame.width_ = attributes.width;
        frame.height_ = attributes.height;
        frame.pixels_.reserve(static_cast<size_t>(frame.width_) * frame.height_);
        // Stored bottom row first, so `at` takes GL's window coordinates.
        for (int row = frame.height_ - 1; row >= 0; --row) {
            for (int column = 0; column < frame.width_; ++column) {
                const unsigned long pixel = XGetPixel(image, column, row);
                frame.pixels_.push_back({channel(pixel, image->red_mask),
                                         channel(pixel, image->green_mask),
                                         channel(pixel, image->blue_mask)});
            }
        }
        XDestroyImage(image);
        return frame;
    }

    int width() const { return width_; }
    int height() const { return height_; }
    Colour at(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<Colour> pixels_;
};

Frame drawAt(int32_t milliseconds) {
    fake_clock::setMilliseconds(milliseconds);
    theApp->draw();
    return Frame::capture();
}

// ---- The model of the scene, with the texture this test binds.

using scene_model::kClearGrey;
using scene_model::kDrawnMotion;
using scene_model::Motion;
using scene_model::Pixel;
using scene_model::Shade;
using scene_model::Texel;
using scene_model::View;

constexpr Motion kXNegated{"X angle negated", -0.01, 0.05, false};
constexpr Motion kYNegated{"Y angle negated", 0.01, -0.05, false};
constexpr Motion kOrderSwapped{"Y turn before X turn", 0.01, 0.05, true};
constexpr Motion kRatesSwapped{"rates swapped", 0.05, 0.01, false};

constexpr View kWindowView{kWindowWidth, kWindowHeight, 4.0 / 3.0};

using Texture2x2 = std::array<Texel, 4>;

// Three opaque colours and one clear texel: through the clear quarter the squares drawn
// earlier show, so drawing order and blending shape the picture too.
constexpr Texture2x2 kQuarters{
    {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {0, 0, 0, 0}}};

// The texel of the 2 × 2 texture that nearest sampling picks at (s, t).
scene_model::Sample quarterAt(double s, double t) {
    const int column = s < 0.5 ? 0 : 1;
    const int row = t < 0.5 ? 0 : 1;
    return scene_model::sampleOf(kQuarters[row * 2 + column]);
}

Shade expectedShade(const Motion& motion, int32_t milliseconds, const View& view, double x,
                    double y) {
    return scene_model::shadeOf(scene_model::traceRay(motion, milliseconds, view, x, y), quarterAt);
}

// Eight-bit rounding in the blender, and the clear grey 127.5, land within this.
bool looksLike(const Colour& colour, const Shade& shade) {
    constexpr double kTolerance = 2.0;
    return std::abs(colour.red - shade.red) <= kTolerance &&
           std::abs(colour.green - shade.green) <= kTolerance &&
           std::abs(colour.blue - shade.blue) <= kTolerance;
}

std::string describe(const Colour& colour) {
    return std::to_string(colour.red) + "," + std::to_string(colour.green) + "," +
           std::to_string(colour.blue);
}

std::vector<Pixel> stableSamples(const Motion& motion, int32_t milliseconds, const View& view) {
    return scene_model::stablePixels(view, 16, [&](double x, double y) {
        return expectedShade(motion, milliseconds, view, x, y);
    });
}

std::vector<Pixel> disagreements(const Frame& frame, const std::vector<Pixel>& samples,
                                 const Motion& motion, int32_t milliseconds, const View& view) {
    std::vector<Pixel> found;
    for (const Pixel& sample : samples) {
        const Shade shade =
            expectedShade(motion, milliseconds, view, sample.x + 0.5, sample.y + 0.5);
        if (!looksLike(frame.at(sample.x, sample.y), shade)) found.push_back(sample);
    }
    return found;
}

// Enough stable pixels for the picture to say something, and enough disagreeing ones that a
// wrong model is not told apart by a single borderline pixel.
constexpr size_t kFewestSamples = 300;
constexpr size_t kFewestDisagreements = 10;

// Checks the picture against the model of the scene as drawn; returns the pixels judged.
std::vector<Pixel> expectPictureMatchesModel(const Frame& frame, int32_t milliseconds,
                                             const View& view) {
    const std::vector<Pixel> samples = stableSamples(kDrawnMotion, milliseconds, view);
    EXPECT_GE(samples.size(), kFewestSamples);
    const std::vector<Pixel> wrong =
        disagreements(frame, samples, kDrawnMotion, milliseconds, view);
    if (!wrong.empty()) {
        const Pixel& first = wrong.front();
        ADD_FAILURE() << wrong.size() << " of " << samples.size()
                      << " pixels differ, the first at (" << first.x << ", " << first.y
                      << ") shows " << describe(frame.at(first.x, first.y));
    }
    return samples;
}

// ---- GL state.

// Stands in for the blend texture, which the program binds while it starts.
class BoundTexture {
public:
    explicit BoundTexture(const Texture2x2& texels) {
        glGenTextures(1, &name_);
        glBindTexture(GL_TEXTURE_2D, name_);
        // Without mipmaps the default minifying filter would leave the texture unusable.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    }
    // Deleting the bound texture also leaves no texture bound.
    ~BoundTexture() { glDeleteTextures(1, &name_); }
    BoundTexture(const BoundTexture&) = delete;
    BoundTexture& operator=(const BoundTexture&) = delete;

private:
    GLuint name_ = 0;
};

std::array<GLfloat, 16> currentMatrix(GLenum which) {
    std::array<GLfloat, 16> matrix{};
    glGetFloatv(which, matrix.data());
    return matrix;
}

// gluPerspective puts cot(fov / 2) / aspect at [0] and cot(fov / 2) at [5].
double aspectOf(const std::array<GLfloat, 16>& projection) {
    return static_cast<double>(projection[5]) / projection[0];
}

GLint integerState(GLenum which) {
    GLint value = -1;
    glGetIntegerv(which, &value);
    return value;
}

class SceneTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sceneReady) << "there is no window to draw in";
        for (int stale = 0; stale < 16 && glGetError() != GL_NO_ERROR; ++stale) {
        }
        fake_clock::setMilliseconds(0);
        fake_clock::resetReadCount();
    }

    // Every test starts from the window as the program first shows it.
    void TearDown() override {
        if (!sceneReady) return;
        if (glutGet(GLUT_WINDOW_WIDTH) != kWindowWidth ||
            glutGet(GLUT_WINDOW_HEIGHT) != kWindowHeight) {
            glutReshapeWindow(kWindowWidth, kWindowHeight);
            processEventsUntil(
                [] { return reshapedWidth == kWindowWidth && reshapedHeight == kWindowHeight; });
        }
        theApp->reshape(kWindowWidth, kWindowHeight);
    }
};

TEST_F(SceneTest, InitLeavesTheStateThePictureReliesOn) {
    EXPECT_EQ(glutGet(GLUT_WINDOW_WIDTH), kWindowWidth);
    EXPECT_EQ(glutGet(GLUT_WINDOW_HEIGHT), kWindowHeight);
    EXPECT_EQ(glutGet(GLUT_WINDOW_DOUBLEBUFFER), 1);
    EXPECT_GT(glutGet(GLUT_WINDOW_DEPTH_SIZE), 0);

    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_EQ(integerState(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(integerState(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(integerState(GL_DEPTH_FUNC), GL_LEQUAL);
    EXPECT_EQ(integerState(GL_PERSPECTIVE_CORRECTION_HINT), GL_NICEST);
    GLfloat clearDepth = 0;
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, &clearDepth);
    EXPECT_EQ(clearDepth, 1.0f);
    std::array<GLfloat, 4> clearColour{};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour.data());
    EXPECT_EQ(clearColour, (std::array<GLfloat, 4>{0.5f, 0.5f, 0.5f, 0.0f}));

    const std::array<GLfloat, 16>& p = projectionAfterInit;
    EXPECT_NEAR(aspectOf(p), 4.0 / 3.0, 1e-6);
    EXPECT_NEAR(p[5], 1.0 / std::tan(scene_model::kHalfFieldOfViewDegrees * M_PI / 180.0), 1e-5);
    // Near and far planes, recovered from the depth row.
    EXPECT_NEAR(p[14] / (p[10] - 1), scene_model::kNearPlane, 1e-6);
    EXPECT_NEAR(p[14] / (p[10] + 1), scene_model::kFarPlane, 0.05);
}

TEST_F(SceneTest, AtZeroTheFacingSquareFillsTheViewAndTheOthersAreEdgeOn) {
    const Frame plain = drawAt(0);
    ASSERT_EQ(plain.width(), kWindowWidth);
    ASSERT_EQ(plain.height(), kWindowHeight);
    int notWhite = 0;
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x)
            notWhite += !looksLike(plain.at(x, y), {255, 255, 255});
    }
    EXPECT_EQ(notWhite, 0);

    // Half transparent: a pixel that a second square touched, even along a line one pixel
    // wide, would be blended twice.
    constexpr Texel kHalfRed{255, 0, 0, 128};
    const BoundTexture texture({kHalfRed, kHalfRed, kHalfRed, kHalfRed});
    const Frame tinted = drawAt(0);
    ASSERT_EQ(tinted.width(), kWindowWidth);
    const Shade oneLayer = scene_model::blendOver(scene_model::sampleOf(kHalfRed), kClearGrey);
    int notOneLayer = 0;
    for (int y = 0; y < tinted.height(); ++y) {
        for (int x = 0; x < tinted.width(); ++x)
            notOneLayer += !looksLike(tinted.at(x, y), oneLayer);
    }
    EXPECT_EQ(notOneLayer, 0) << "the centre pixel shows "
                              << describe(tinted.at(kWindowWidth / 2, kWindowHeight / 2));
}

TEST_F(SceneTest, UntexturedSquaresAreOpaqueWhiteOnTheGreyClearColour) {
    EXPECT_EQ(theApp->texture, 0u);
    EXPECT_EQ(integerState(GL_TEXTURE_BINDING_2D), 0);

    // Seen from inside the arrangement the squares cover the whole view at every moment.
    for (int32_t milliseconds : {1000, 2500, 7200}) {
        const Frame frame = drawAt(milliseconds);
        ASSERT_EQ(frame.width(), kWindowWidth);
        int notWhite = 0;
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                const Colour c = frame.at(x, y);
                notWhite += c.red != 255 || c.green != 255 || c.blue != 255;
            }
        }
        EXPECT_EQ(notWhite, 0) << "at " << milliseconds << " ms";
    }

    // The clear colour shows only outside a smaller view; glClear ignores the viewport.
    theApp->reshape(kWindowWidth / 2, kWindowHeight / 2);
    const Frame frame = Frame::capture();
    ASSERT_EQ(frame.width(), kWindowWidth);
    int wrongInside = 0;
    int wrongOutside = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const Colour c = frame.at(x, y);
            if (x < kWindowWidth / 2 && y < kWindowHeight / 2) {
                wrongInside += c.red != 255 || c.green != 255 || c.blue != 255;
            } else {
                wrongOutside += std::abs(c.red - 128) > 1 || c.green != c.red || c.blue != c.red;
            }
        }
    }
    EXPECT_EQ(wrongInside, 0);
    EXPECT_EQ(wrongOutside, 0) << "a corner shows " << describe(frame.at(frame.width() - 1, 0));
}

struct Moment {
    int32_t milliseconds;
    std::vector<Motion> wrongMotions;
};

void PrintTo(const Moment& moment, std::ostream* out) {
    *out << moment.milliseconds << " ms";
}

class SceneAtMoment : public SceneTest, public testing::WithParamInterface<Moment> {};

TEST_P(SceneAtMoment, PictureShowsBothTurnsInTheirOrderAndSense) {
    const Moment& moment = GetParam();
    const BoundTexture texture(kQuarters);
    const Frame frame = drawAt(moment.milliseconds);
    ASSERT_EQ(frame.width(), kWindowWidth);
    ASSERT_EQ(frame.height(), kWindowHeight);
    const std::vector<Pixel> samples =
        expectPictureMatchesModel(frame, moment.milliseconds, kWindowView);
    for (const Motion& motion : moment.wrongMotions) {
        EXPECT_GE(disagreements(frame, samples, motion, moment.milliseconds, kWindowView).size(),
                  kFewestDisagreements)
            << "the picture does not tell the scene from one with the " << motion.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Turning, SceneAtMoment,
    testing::Values(Moment{1000, {kXNegated, kYNegated, kOrderSwapped, kRatesSwapped}},
                    Moment{2500, {kXNegated, kYNegated, kOrderSwapped, kRatesSwapped}},
                    // A whole turn about Y hides the sign of that angle and the order of the turns.
                    Moment{7200, {kXNegated, kRatesSwapped}},
                    // About 24.8 days on, the elapsed count wraps to its most negative value:
                    // both moments must still draw the scene at those angles, with no NaN.
                    Moment{INT32_MAX, {}}, Moment{INT32_MIN, {}}),
    [](const testing::TestParamInfo<Moment>& info) {
        const int32_t milliseconds = info.param.milliseconds;
        const std::string magnitude = std::to_string(std::abs(int64_t{milliseconds}));
        return (milliseconds < 0 ? "AtMinus" : "At") + magnitude + "ms";
    });

TEST_F(SceneTest, WiderWindowKeepsThePictureUnstretched) {
    const BoundTexture texture(kQuarters);
    glutReshapeWindow(800, 400);
    ASSERT_TRUE(processEventsUntil([] { return reshapedWidth == 800 && reshapedHeight == 400; }));
    EXPECT_NEAR(aspectOf(currentMatrix(GL_PROJECTION_MATRIX)), 2.0, 1e-6);

    const Frame frame = drawAt(1000);
    ASSERT_EQ(frame.width(), 800);
    ASSERT_EQ(frame.height(), 400);
    const std::vector<Pixel> samples = expectPictureMatchesModel(frame, 1000, {800, 400, 2.0});
    EXPECT_GE(disagreements(frame, samples, kDrawnMotion, 1000, {800, 400, 4.0 / 3.0}).size(),
              kFewestDisagreements)
        << "the picture does not tell aspect 2 from 4/3";
}

TEST_F(SceneTest, CollapsedWindowDrawsWithoutErrorAndKeepsAFiniteProjection) {
    for (const auto& [width, height] : {std::pair{640, 0}, std::pair{0, 480}, std::pair{0, 0}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        fake_clock::resetReadCount();
        theApp->reshape(width, height);
        EXPECT_EQ(fake_clock::readCount(), 2) << "a reshape draws one frame at once";
        theApp->draw();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        for (GLfloat entry : currentMatrix(GL_PROJECTION_MATRIX)) EXPECT_TRUE(std::isfinite(entry));
    }
}

TEST_F(SceneTest, FrameLeavesTheModelviewAsItFoundItAndReadsTheClockTwice) {
    const std::array<GLfloat, 16> identity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int32_t milliseconds : {1000, 1250, 1500}) {
        SCOPED_TRACE(std::to_string(milliseconds) + " ms");
        fake_clock::setMilliseconds(milliseconds);
        fake_clock::resetReadCount();
        theApp->draw();
        EXPECT_EQ(fake_clock::readCount(), 2);
        EXPECT_EQ(integerState(GL_MATRIX_MODE), GL_MODELVIEW);
        EXPECT_EQ(integerState(GL_MODELVIEW_STACK_DEPTH), 1);
        EXPECT_EQ(integerState(GL_PROJECTION_STACK_DEPTH), 1);
        EXPECT_EQ(currentMatrix(GL_MODELVIEW_MATRIX), identity);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
