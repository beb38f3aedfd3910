// The real blendspin binary under a private Xvfb with openbox, put under load: a long run
// watched for memory growth, and storms of window changes and mouse events sent through the
// X server as fast as it takes them (F11 storms run in screen_mode_test, under every window
// manager). After each the program must still be drawing and must end with exit code 0 on
// Esc.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/desktop.h"
#include "tests/support/program_fixture.h"
#include "tests/support/x_session.h"
#include "tests/support/x_window.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using namespace desktop;

// Generous: llvmpipe on two loaded cores, and the program may be an AddressSanitizer build.
constexpr auto kStartTimeout = 30s;
constexpr auto kChangeTimeout = 10s;
constexpr auto kStormSettleTimeout = 30s;

// An occasional round trip, so the test never runs far ahead of the server.
constexpr int kSyncEvery = 50;

// VmRSS from /proc/PID/status in KiB; nullopt where the process is gone.
std::optional<long> residentKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return std::nullopt;
}

// STRESS_SOAK_SECONDS shortens or lengthens the soak for local runs; two samples at least.
int soakSeconds() {
    const char* text = std::getenv("STRESS_SOAK_SECONDS");
    const long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 60;
    return static_cast<int>(std::max(2L, seconds));
}

// The level memory settles at over a run of samples: one passing spike does not move it.
long settledKib(std::vector<long> samples) {
    const auto middle = samples.begin() + samples.size() / 2;
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}

class StressTest : public ProgramFixture {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ProgramFixture::SetUp());
        ASSERT_NO_FATAL_FAILURE(addSampleTextures(MAKE_SAMPLE_TEXTURES_PATH));
    }

    // Starts the program beside the sample textures and waits until its window is managed,
    // at rest and has the keyboard focus. `environment` entries go before the program, as
    // env(1) takes them.
    void start(const std::vector<std::string>& environment = {}) {
        ASSERT_NO_FATAL_FAILURE(startProgram(environment));
        ASSERT_NO_FATAL_FAILURE(waitForProgramWindow(kStartTimeout));
        ASSERT_EQ(initial_.width, kWindowWidth);
        ASSERT_EQ(initial_.height, kWindowHeight);
    }
};

// Growth means the level of the last quarter of the samples above that of the first quarter
// by more than the slack. Levels, not single samples: a sanitized build once rose 592 KiB for
// one second in sixty and fell straight back, which is no leak. Measured, the levels of a
// plain build do not move at all and those of an AddressSanitizer build move within 68 KiB;
// the slack is twice that.
TEST_F(StressTest, SoakKeepsResidentMemoryFlat) {
    constexpr long kSlackKib = 136;
    // AddressSanitizer holds freed blocks back (256 MiB by default) to catch use after free,
    // so the memory of a sanitized program grows without any leak. Here that check gives way
    // to this one; the other tests keep it. A plain build ignores the variable.
    // glibc keeps the freed loader blocks (megabytes) for reuse: a planted 45 KiB/s leak filled
    // them for 20 s with resident memory flat. Returned at once, memory follows the live heap.
    const char* asanOptions = std::getenv("ASAN_OPTIONS");
    ASSERT_NO_FATAL_FAILURE(start(
        {"ASAN_OPTIONS=" + std::string(asanOptions ? asanOptions : "") + ":quarantine_size_mb=0",
         "GLIBC_TUNABLES=glibc.malloc.trim_threshold=0:glibc.malloc.mmap_threshold=131072"}));
    std::vector<long> samples;  // samples[k] taken k + 1 seconds after the window settled
    const auto began = Clock::now();
    for (int second = 1; second <= soakSeconds(); ++second) {
        std::this_thread::sleep_until(began + std::chrono::seconds(second));
        const std::optional<long> resident = residentKib(program_->pid());
        ASSERT_TRUE(resident.has_value())
            << "the program ended at " << second << " s; stderr: " << program_->errorOutput();
        samples.push_back(*resident);
    }
    const std::ptrdiff_t quarter = std::max<std::ptrdiff_t>(1, samples.size() / 4);
    const long early = settledKib({samples.begin(), samples.begin() + quarter});
    const long late = settledKib({samples.end() - quarter, samples.end()});
    std::printf("VmRSS KiB over %zu s: first quarter at %ld, last at %ld; min %ld, max %ld\n  all:",
                samples.size(), early, late, *std::min_element(samples.begin(), samples.end()),
                *std::max_element(samples.begin(), samples.end()));
    for (long sample : samples) std::printf(" %ld", sample);
    std::printf("\n");
    EXPECT_LE(late, early + kSlackKib) << "resident memory grew over the soak";
    ASSERT_NO_FATAL_FAILURE(expectStillDrawing());
    expectEscExitsWithZero();
}

// Sizes from a single pixel to the whole screen, asked for through the server as a client or
// window manager would, with no pause for the program to catch up.
TEST_F(StressTest, ResizeStormLeavesTheProgramDrawingAtANormalSize) {
    constexpr int kResizes = 200;
    ASSERT_NO_FATAL_FAILURE(start());
    const auto began = Clock::now();
    for (int resize = 0; resize < kResizes; ++resize) {
        int x = (resize * 97) % kScreenWidth, y = (resize * 61) % kScreenHeight;
        int width = 1 + (resize * 379) % kScreenWidth, height = 1 + (resize * 241) % kScreenHeight;
        if (resize % 10 == 0) width = height = 1;
        if (resize % 10 == 5) x = y = 0, width = kScreenWidth, height = kScreenHeight;
        XMoveResizeWindow(display(), window_, x, y, width, height);
        if (resize % kSyncEvery == 0) XSync(display(), False);
    }
    XSync(display(), False);
    const auto sent = Clock::now();
    // The extremes once more, each waited for: the window manager grants them, and the
    // program lives through each.
    for (const auto& [width, height] : {std::pair{1, 1}, std::pair{kScreenWidth, kScreenHeight}}) {
        moveResizeWindow(display(), window_, 0, 0, width, height);
        const WindowRect seen = waitForSettledGeometry(display(), window_, kChangeTimeout);
        EXPECT_EQ(seen.width, width);
        EXPECT_EQ(seen.height, height);
        ASSERT_TRUE(program_->running()) << "stderr: " << program_->errorOutput();
    }
    moveResizeWindow(display(), window_, kWindowX, kWindowY, kWindowWidth, kWindowHeight);
    const WindowRect seen = waitForGeometry(display(), window_, initial_, kStormSettleTimeout);
    std::printf("Resize storm: %d resizes sent in %lld ms; back at %dx%d+%d+%d %lld ms later\n",
                kResizes, static_cast<long long>((sent - began) / 1ms), seen.width, seen.height,
                seen.x, seen.y, static_cast<long long>((Clock::now() - sent) / 1ms));
    ASSERT_EQ(seen, initial_);
    ASSERT_NO_FATAL_FAILURE(expectStillDrawing());
    expectEscExitsWithZero();
}

// Pointer motion, clicks of every button including the wheel, and drags, all over the
// client area (never the frame, so the window manager leaves the window alone).
TEST_F(StressTest, MouseStormIsIgnored) {
    constexpr int kMoves = 5000, kClicks = 1000, kDrags = 30, kDragSteps = 50;
    ASSERT_NO_FATAL_FAILURE(start());
    const int screen = DefaultScreen(display());
    const auto moveTo = [&](int step) {
        XTestFakeMotionEvent(display(), screen, initial_.x + (step * 37) % initial_.width,
                             initial_.y + (step * 23) % initial_.height, CurrentTime);
    };
    const auto began = Clock::now();
    for (int move = 0; move < kMoves; ++move) {
        moveTo(move);
        if (move % kSyncEvery == 0) XSync(display(), False);
    }
    for (int click = 0; click < kClicks; ++click) {
        const unsigned button = 1 + click % 5;
        XTestFakeButtonEvent(display(), button, True, CurrentTime);
        XTestFakeButtonEvent(display(), button, False, CurrentTime);
        if (click % kSyncEvery == 0) XSync(display(), False);
    }
    for (int drag = 0; drag < kDrags; ++drag) {
        const unsigned button = 1 + drag % 3;
        XTestFakeButtonEvent(display(), button, True, CurrentTime);
        for (int step = 0; step < kDragSteps; ++step) moveTo(drag * kDragSteps + step);
        XTestFakeButtonEvent(display(), button, False, CurrentTime);
        XSync(display(), False);
    }
    std::printf("Mouse storm: %d moves, %d clicks, %d drags of %d steps sent in %lld ms\n", kMoves,
                kClicks, kDrags, kDragSteps, static_cast<long long>((Clock::now() - began) / 1ms));
    ASSERT_EQ(waitForGeometry(display(), window_, initial_, kChangeTimeout), initial_);
    ASSERT_NO_FATAL_FAILURE(expectStillDrawing());
    expectEscExitsWithZero();
}

}  // namespace
