// The finished program's texture, end to end: the real blendspin binary under a private Xvfb
// with openbox, reading texture files this test writes, with its wall clock set by the test
// through a preloaded library (support/clock_shim.c). Its window is read back from the X
// server and compared with an independent model of the scene; its error dialogs are compared
// with the same dialogs shown by message_box_probe on the same server.

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/desktop.h"
#include "tests/support/program_command.h"
#include "tests/support/program_fixture.h"
#include "tests/support/scene_model.h"
#include "tests/support/wait_until.h"
#include "tests/support/x_session.h"
#include "tests/support/x_window.h"
#include "tools/bmp_writer.h"

namespace {

using namespace desktop;
using namespace std::chrono_literals;
using bmp_writer::Rgb;
using bmp_writer::writeFile;
using scene_model::Pixel;
using scene_model::Shade;

constexpr scene_model::View kWindowView{kWindowWidth, kWindowHeight, 4.0 / 3.0};

// Generous: a loaded CI machine renders with llvmpipe on two cores.
constexpr auto kStartTimeout = 30s;  // Wine, sanitizers and a loaded machine are slow to start
constexpr auto kChangeTimeout = 5s;
// Under Wine the process ends through the Wine server, which takes longer.
const auto kExitTimeout = program_command::underWine() ? 5s : 2s;

// ---- The texture files: 8 × 8 flat cells of 32 × 32 pixels, each its own colour, and an
// opacity per cell. Cell rows count from the bottom of the picture, as BMP rows do.

constexpr int kImageSide = 256;
constexpr int kCellSide = 32;

// Red follows the column and green the row, so a flipped or turned texture shows other
// colours; blue differs from red, so swapped channels show too.
Rgb cellColour(int column, int row) {
    return {static_cast<uint8_t>(40 + 25 * column), static_cast<uint8_t>(40 + 25 * row),
            static_cast<uint8_t>(230 - 20 * ((column + 2 * row) % 8))};
}

// Opaque, clear, half and quarter opaque cells.
uint8_t cellOpacity(int column, int row) {
    constexpr uint8_t kOpacities[] = {255, 0, 128, 255, 64};
    return kOpacities[(column + 2 * row) % 5];
}

// The opacity is the red channel; green and blue say otherwise, so reading them shows.
Rgb maskPixel(uint8_t opacity) {
    return {opacity, static_cast<uint8_t>(255 - opacity), static_cast<uint8_t>(255 - opacity)};
}

bmp_writer::Bytes colourFile() {
    return bmp_writer::file24(kImageSide, kImageSide, [](int x, int y) {
        return cellColour(x / kCellSide, y / kCellSide);
    });
}

bmp_writer::Bytes maskFile() {
    return bmp_writer::file24(kImageSide, kImageSide, [](int x, int y) {
        return maskPixel(cellOpacity(x / kCellSide, y / kCellSide));
    });
}

// ---- The model of the picture, and the faults it must be able to tell apart.

enum class Fault {
    Nothing,
    AlphaIgnored,
    AlphaFromGreen,
    FlippedVertically,
    RedBlueSwapped,
    NearestFiltering,
    OrderReversed
};

const char* describe(Fault fault) {
    switch (fault) {
        case Fault::Nothing:
            return "no fault";
        case Fault::AlphaIgnored:
            return "opacity ignored";
        case Fault::AlphaFromGreen:
            return "opacity from the mask's green";
        case Fault::FlippedVertically:
            return "texture upside down";
        case Fault::RedBlueSwapped:
            return "red and blue swapped";
        case Fault::NearestFiltering:
            return "nearest instead of linear filtering";
        case Fault::OrderReversed:
            return "squares blended in reverse order";
    }
    return "";
}

scene_model::Sample texelAt(int x, int y, Fault fault) {
    const int column = x / kCellSide, row = y / kCellSide;
    const Rgb colour = cellColour(column, row);
    const Rgb mask = maskPixel(cellOpacity(column, row));
    scene_model::Texel texel{colour.red, colour.green, colour.blue, mask.red};
    if (fault == Fault::AlphaIgnored) texel.alpha = 255;
    if (fault == Fault::AlphaFromGreen) texel.alpha = mask.green;
    if (fault == Fault::RedBlueSwapped) std::swap(texel.red, texel.blue);
    return scene_model::sampleOf(texel);
}

int wrap(int coordinate) {
    return ((coordinate % kImageSide) + kImageSide) % kImageSide;
}

// GL_LINEAR filtering with GL's default repeat wrapping; texture row 0 is the file's first
// row, the bottom of the picture.
scene_model::Sample filtered(double s, double t, Fault fault) {
    if (fault == Fault::FlippedVertically) t = 1 - t;
    const double u = s * kImageSide - 0.5, v = t * kImageSide - 0.5;
    if (fault == Fault::NearestFiltering) {
        return texelAt(wrap(static_cast<int>(std::floor(u + 0.5))),
                       wrap(static_cast<int>(std::floor(v + 0.5))), fault);
    }
    const int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
    const double fx = u - x0, fy = v - y0;
    scene_model::Sample sum{{0, 0, 0}, 0};
    for (const auto& [dx, dy, weight] :
         {std::tuple{0, 0, (1 - fx) * (1 - fy)}, std::tuple{1, 0, fx * (1 - fy)},
          std::tuple{0, 1, (1 - fx) * fy}, std::tuple{1, 1, fx * fy}}) {
        const scene_model::Sample texel = texelAt(wrap(x0 + dx), wrap(y0 + dy), fault);
        sum.colour.red += weight * texel.colour.red;
        sum.colour.green += weight * texel.colour.green;
        sum.colour.blue += weight * texel.colour.blue;
        sum.alpha += weight * texel.alpha;
    }
    return sum;
}

using Model = std::function<Shade(double x, double y)>;

Model texturedScene(int32_t milliseconds, Fault fault = Fault::Nothing) {
    return [=](double x, double y) {
        scene_model::Hits hits =
            scene_model::traceRay(scene_model::kDrawnMotion, milliseconds, kWindowView, x, y);
        if (fault == Fault::OrderReversed) std::reverse(hits.begin(), hits.end());
        return scene_model::shadeOf(hits,
                                    [fault](double s, double t) { return filtered(s, t, fault); });
    };
}

// Pixels of a Picture run from the top row down; the model's y runs up.
uint32_t pixelAt(const Picture& picture, const Pixel& pixel) {
    return picture
        .pixels[static_cast<size_t>(picture.height - 1 - pixel.y) * picture.width + pixel.x];
}

double difference(const Shade& a, const Shade& b) {
    return std::max(
        {std::abs(a.red - b.red), std::abs(a.green - b.green), std::abs(a.blue - b.blue)});
}

Shade shadeOf(uint32_t pixel) {
    return {static_cast<double>((pixel >> 16) & 0xFF), static_cast<double>((pixel >> 8) & 0xFF),
            static_cast<double>(pixel & 0xFF)};
}

// Eight-bit rounding in filtering and in up to three blends, and the clear grey 127.5.
constexpr double kTolerance = 3.0;

bool looksLike(uint32_t pixel, const Shade& shade) {
    return difference(shadeOf(pixel), shade) <= kTolerance;
}

std::vector<Pixel> disagreements(const Picture& picture, const std::vector<Pixel>& samples,
                                 const Model& model) {
    std::vector<Pixel> found;
    if (picture.width != kWindowWidth || picture.height != kWindowHeight) return samples;
    for (const Pixel& sample : samples) {
        if (!looksLike(pixelAt(picture, sample), model(sample.x + 0.5, sample.y + 0.5))) {
            found.push_back(sample);
        }
    }
    return found;
}

// Every pixel of a few rows and columns, cell edges included, where the texture ramps from
// one cell to the next over a texel (about four pixels). Where a pixel samples the texture
// may be off by a fraction of a pixel, so it may differ from the model by that fraction of
// the local slope.
size_t scanLineDisagreements(const Picture& picture, const Model& model) {
    constexpr int kSpacing = 32;
    constexpr double kPositionSlack = 0.5;
    auto wrong = [&](int x, int y) {
        const double slope = std::max(difference(model(x, y + 0.5), model(x + 1, y + 0.5)),
                                      difference(model(x + 0.5, y), model(x + 0.5, y + 1)));
        return difference(shadeOf(pixelAt(picture, {x, y})), model(x + 0.5, y + 0.5)) >
               kTolerance + kPositionSlack * slope;
    };
    size_t found = 0;
    for (int y = kSpacing / 2; y < kWindowHeight; y += kSpacing) {
        for (int x = 0; x < kWindowWidth; ++x) found += wrong(x, y);
    }
    for (int x = kSpacing / 2; x < kWindowWidth; x += kSpacing) {
        for (int y = 0; y < kWindowHeight; ++y) found += wrong(x, y);
    }
    return found;
}

std::string hex(uint32_t pixel) {
    char text[8];
    snprintf(text, sizeof text, "%06x", pixel);
    return text;
}

// ---- The program's surroundings: its files, its clock and the dialogs it shows.

bool hasSeveralColours(const Picture& picture) {
    return std::any_of(picture.pixels.begin(), picture.pixels.end(),
                       [&](uint32_t pixel) { return pixel != picture.pixels.front(); });
}

// A window's contents once drawn and at rest: not blank, and the same twice a little apart.
Picture settledPicture(Display* display, Window window, std::chrono::milliseconds timeout) {
    Picture now = grabPicture(display, window);
    Picture last;
    std::this_thread::sleep_for(100ms);
    const bool atRest = waitUntil(
        timeout,
        [&] {
            last = std::exchange(now, grabPicture(display, window));
            return hasSeveralColours(now) && now == last;
        },
        100ms);
    return atRest ? now : Picture{};
}

bool allWhite(const Picture& picture) {
    return !picture.empty() && std::all_of(picture.pixels.begin(), picture.pixels.end(),
                                           [](uint32_t pixel) { return pixel == 0xFFFFFF; });
}

bool becomesAllWhite(Display* display, Window window, std::chrono::milliseconds timeout) {
    return waitUntil(timeout, [&] { return allWhite(grabPicture(display, window)); });
}

const std::string kErrorCaption = "Error";

class TextureProgramTest : public ProgramFixture {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ProgramFixture::SetUp());
        for (const char* name : {"1024.bmp", "1024a.bmp", "clock"}) allowScratchFile(name);
        // The pointer stays off the dialogs, whose button lights up under it.
        movePointer(display(), 0, 0);
    }

    void TearDown() override {
        // A dialog left up by a failure would count in the next test; SDL shows each from a
        // child process of its own, which outlives the program.
        if (connection != nullptr && connection->ok()) dismissLeftoverDialogs();
        ProgramFixture::TearDown();
    }

    // The program's wall clock: milliseconds past the moment its start-up reads as zero.
    void setClock(int64_t milliseconds) {
        const std::string next = path("clock.next");
        std::ofstream(next) << milliseconds << "\n";
        ASSERT_EQ(rename(next.c_str(), path("clock").c_str()), 0);
    }

    // Starts the program with its clock at zero; its window may wait behind dialogs.
    void start() {
        ASSERT_NO_FATAL_FAILURE(setClock(0));
        // Under Wine too: its system time comes from the same clock_gettime.
        ASSERT_NO_FATAL_FAILURE(startProgram(
            {std::string("LD_PRELOAD=") + CLOCK_SHIM_PATH, "CLOCK_SHIM_FILE=" + path("clock")}));
    }

    // Gives the window no focus: dialogs may be up beside it. A tiling layout decides its size.
    void waitForTexturedWindow() {
        ASSERT_NO_FATAL_FAILURE(waitForRestingWindow(kStartTimeout));
        if (desktop::session->tiles()) return;
        ASSERT_EQ(initial_.width, kWindowWidth);
        ASSERT_EQ(initial_.height, kWindowHeight);
    }

    // Waits for a frame that matches the model at every stable sample and returns it;
    // on time-out, reports the last frame's first wrong pixel.
    Picture waitForModelledPicture(const std::vector<Pixel>& samples, const Model& model) {
        Picture picture;
        std::vector<Pixel> wrong;
        const bool matched = waitUntil(kChangeTimeout, [&] {
            picture = grabPicture(display(), window_);
            wrong = disagreements(picture, samples, model);
            return wrong.empty();
        });
        if (matched) return picture;
        const Pixel& first = wrong.front();
        const Shade expected = model(first.x + 0.5, first.y + 0.5);
        ADD_FAILURE() << wrong.size() << " of " << samples.size()
                      << " pixels differ from the model, the first at (" << first.x << ", "
                      << first.y << ") shows "
                      << (picture.empty() ? "nothing" : hex(pixelAt(picture, first)))
                      << " instead of " << expected.red << "," << expected.green << ","
                      << expected.blue;
        return {};
    }

    // Sets the clock, waits for the picture the model draws at that moment and checks that
    // each of `faults` would have drawn a different one.
    Picture expectPictureAt(int32_t milliseconds, const std::vector<Fault>& faults) {
        SCOPED_TRACE(std::to_string(milliseconds) + " ms");
        setClock(milliseconds);
        const Model model = texturedScene(milliseconds);
        const std::vector<Pixel> samples =
            scene_model::stablePixels(kWindowView, kSampleSpacing, model);
        EXPECT_GE(samples.size(), kFewestSamples);
        const Picture picture = waitForModelledPicture(samples, model);
        if (picture.empty()) return picture;
        for (Fault fault : faults) {
            EXPECT_GE(disagreements(picture, samples, texturedScene(milliseconds, fault)).size(),
                      kFewestDisagreements)
                << "the picture does not tell the texture from one with " << describe(fault);
        }
        return picture;
    }

    void dismiss(Window dialog) {
        ASSERT_TRUE(dismissDialog(display(), dialog, kChangeTimeout)) << "the dialog stayed up";
    }

    void dismissLeftoverDialogs() {
        waitUntil(
            kChangeTimeout,
            [&] {
                const std::vector<Window> dialogs = viewableWindowsTitled(display(), kErrorCaption);
                for (Window dialog : dialogs) dismissDialog(display(), dialog, kChangeTimeout);
                return dialogs.empty();
            },
            100ms);
    }

    // The same dialog shown by message_box_probe on the same server, once drawn. It is
    // dismissed, not killed: SDL shows it from a child process of its own.
    Picture probeDialog(const std::string& text) {
        ChildProcess probe(program_command::probe(MESSAGE_BOX_PROBE, text, kErrorCaption));
        const std::vector<Window> dialogs =
            waitForWindowsTitled(display(), kErrorCaption, kStartTimeout);
        if (dialogs.size() != 1) {
            ADD_FAILURE() << dialogs.size() << " dialogs instead of the probe's one";
            return {};
        }
        const Picture picture = settledPicture(display(), dialogs.front(), kChangeTimeout);
        dismiss(dialogs.front());
        EXPECT_TRUE(probe.waitForExit(kChangeTimeout)) << "the probe's dialog stayed up";
        return picture;
    }

    // The program's one dialog says `text`: it looks exactly like the probe's dialog with that
    // text, and unlike the probe's with `otherText`. Real input dismisses it, and after that
    // the squares are white and no dialog comes back.
    void expectOneDialogThenWhiteSquares(const std::string& text, const std::string& otherText) {
        ASSERT_NO_FATAL_FAILURE(start());
        const std::vector<Window> dialogs =
            waitForWindowsTitled(display(), kErrorCaption, kStartTimeout);
        ASSERT_EQ(dialogs.size(), 1u) << "stderr: " << program_->errorOutput();
        const Picture shown = settledPicture(display(), dialogs.front(), kChangeTimeout);
        ASSERT_FALSE(shown.empty()) << "the dialog never came to rest";
        ASSERT_NO_FATAL_FAILURE(dismiss(dialogs.front()));

        ASSERT_NO_FATAL_FAILURE(waitForTexturedWindow());
        ASSERT_TRUE(becomesAllWhite(display(), window_, kChangeTimeout))
            << "the squares are not plain white";
        // The texture stage is over once a frame is drawn: no second dialog can come.
        ASSERT_TRUE(viewableWindowsTitled(display(), kErrorCaption).empty()) << "a second dialog";
        EXPECT_EQ(program_command::unexpectedErrorOutput(program_->errorOutput()), "");

        EXPECT_TRUE(probeDialog(text) == shown) << "the dialog does not show \"" << text << "\"";
        EXPECT_TRUE(probeDialog(otherText) != shown) << "dialogs with other texts look the same";
        expectEscExitsWithZero(kExitTimeout);
    }

    // Enough stable pixels for the picture to say something, and enough disagreeing ones
    // that a wrong model is not told apart by a single borderline pixel.
    static constexpr int kSampleSpacing = 16;
    static constexpr size_t kFewestSamples = 300;
    static constexpr size_t kFewestDisagreements = 10;
};

// At zero the facing square fills the view; at one second all three squares overlap across
// much of it, so the order of blending shows.
TEST_F(TextureProgramTest, TexturedSquaresBlendOverGreyAndEachOtherAsModelled) {
    writeFile(path("1024.bmp"), colourFile());
    writeFile(path("1024a.bmp"), maskFile());
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(waitForTexturedWindow());

    const Picture atZero = expectPictureAt(0, {Fault::AlphaIgnored, Fault::AlphaFromGreen,
                                               Fault::FlippedVertically, Fault::RedBlueSwapped});
    ASSERT_FALSE(atZero.empty());
    // Facing the view, the square is textured evenly, so the ramps between cells show the
    // filter; the sampled pixels above keep away from them.
    EXPECT_EQ(scanLineDisagreements(atZero, texturedScene(0)), 0u);
    EXPECT_GE(scanLineDisagreements(atZero, texturedScene(0, Fault::NearestFiltering)),
              kFewestDisagreements)
        << "the ramps do not tell linear from nearest filtering";
    const Picture atOneSecond =
        expectPictureAt(1000, {Fault::AlphaIgnored, Fault::AlphaFromGreen, Fault::FlippedVertically,
                               Fault::RedBlueSwapped, Fault::OrderReversed});
    ASSERT_FALSE(atOneSecond.empty());
    // The program reads the test's clock, not the real one: held, it holds the squares still.
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(grabPicture(display(), window_) == atOneSecond) << "the picture moved on its own";
    EXPECT_EQ(program_command::unexpectedErrorOutput(program_->errorOutput()), "");
    expectEscExitsWithZero(kExitTimeout);
}

// A jump of the wall clock, an hour forward and then back past the start, only turns the
// squares to where the new time puts them; the window stays. Nothing but the timer draws
// here, so each new picture also shows that the timer still runs.
TEST_F(TextureProgramTest, WallClockJumpsOnlyMoveTheSquares) {
    writeFile(path("1024.bmp"), colourFile());
    writeFile(path("1024a.bmp"), maskFile());
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(waitForTexturedWindow());

    // An hour is a whole number of turns about both axes, so each jump is a little more than
    // one; the one back lands before the start, where the elapsed time is negative.
    constexpr int32_t kHour = 3600 * 1000;
    constexpr int32_t kBefore = 1000;
    constexpr int32_t kAfterJumpForward = kBefore + kHour + 1500;
    constexpr int32_t kAfterJumpBack = kAfterJumpForward - kHour - 4000;
    for (int32_t milliseconds : {kBefore, kAfterJumpForward, kAfterJumpBack}) {
        const Picture picture = expectPictureAt(milliseconds, {});
        ASSERT_FALSE(picture.empty());
        EXPECT_EQ(clientGeometry(display(), window_), initial_);
    }
    expectEscExitsWithZero(kExitTimeout);
}

TEST_F(TextureProgramTest, EmptyColourFileShowsOneOpenFailureDialogThenWhiteSquares) {
    writeFile(path("1024.bmp"), {});
    writeFile(path("1024a.bmp"), maskFile());
    expectOneDialogThenWhiteSquares("Failed to open DIB file 1024.bmp.\n",
                                    "Failed to open DIB file 1024a.bmp.\n");
}

TEST_F(TextureProgramTest, VersionFiveHeaderShowsOneUnknownFormatDialogThenWhiteSquares) {
    const auto red = [](int, int) { return Rgb{255, 0, 0}; };
    writeFile(path("1024.bmp"), bmp_writer::file24(2, 2, red, bmp_writer::kV5HeaderSize));
    writeFile(path("1024a.bmp"), maskFile());
    expectOneDialogThenWhiteSquares("Unknown DIB file format.", "Image file conversion error.");
}

}  // namespace
