// The real blendspin binary under a private Xvfb with openbox, put under load: a long run
// watched for memory growth, and storms of keys, window changes and mouse events sent through
// the X server as fast as it takes them. After each the program must still be drawing and
// must end with exit code 0 on Esc.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dirent.h>
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
constexpr auto kExitTimeout = 15s;

// An occasional round trip, so the test never runs far ahead of the server.
constexpr int kSyncEvery = 50;

constexpr const char* kTextureNames[] = {"1024.bmp", "1024a.bmp"};

std::vector<std::string> directoryEntries(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) return names;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

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

class StressTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(desktop::expectReady());
        char pathTemplate[] = "/tmp/blendspin-stress-XXXXXX";
        ASSERT_NE(mkdtemp(pathTemplate), nullptr);
        workingDirectory_ = pathTemplate;
        ChildProcess writer({MAKE_SAMPLE_TEXTURES_PATH, workingDirectory_});
        ASSERT_TRUE(writer.waitForExit(kStartTimeout));
        ASSERT_EQ(writer.exitCode(), 0) << writer.errorOutput();
    }

    void TearDown() override {
        // Also where the test looked only at the window: a sanitizer abort fails it.
        if (program_) {
            EXPECT_EQ(program_->fault(), "") << program_->errorOutput();
        }
        program_.reset();
        if (workingDirectory_.empty()) return;
        EXPECT_EQ(directoryEntries(workingDirectory_),
                  std::vector<std::string>(std::begin(kTextureNames), std::end(kTextureNames)))
            << "the program changed the files in its working directory " << workingDirectory_;
        for (const char* name : kTextureNames) unlink((workingDirectory_ + "/" + name).c_str());
        rmdir(workingDirectory_.c_str());
    }

    Display* display() const { return connection->get(); }

    // Starts the program beside the sample textures and waits until its window is managed,
    // at rest and has the keyboard focus. `environment` entries go before the program, as
    // env(1) takes them.
    void start(const std::vector<std::string>& environment = {}) {
        std::vector<std::string> argv{"env"};
        argv.insert(argv.end(), environment.begin(), environment.end());
        argv.push_back(BLENDSPIN_PATH);
        program_ = std::make_unique<ChildProcess>(argv, workingDirectory_);
        ASSERT_TRUE(program_->started());
        window_ = waitForManagedWindow(display(), program_->pid(), kStartTimeout);
        ASSERT_NE(window_, None) << "no window from the program; stderr: "
                                 << program_->errorOutput();
        initial_ = waitForSettledGeometry(display(), window_, kStartTimeout);
        ASSERT_EQ(initial_.width, kWindowWidth);
        ASSERT_EQ(initial_.height, kWindowHeight);
        ASSERT_TRUE(focusWindow(display(), window_, kChangeTimeout));
    }

    // Two changes in a row: a single one could be the frame a reshape draws.
    void expectStillDrawing() {
        ASSERT_TRUE(program_->running()) << "stderr: " << program_->errorOutput();
        const Picture first = grabPicture(display(), window_);
        ASSERT_FALSE(first.empty()) << "the window cannot be read";
        const Picture second = waitForNewPicture(display(), window_, first, kChangeTimeout);
        ASSERT_FALSE(second.empty()) << "the picture stood still";
        EXPECT_FALSE(waitForNewPicture(display(), window_, second, kChangeTimeout).empty())
            << "the picture changed once, then stood still";
    }

    void expectEscExitsWithZero() {
        ASSERT_TRUE(focusWindow(display(), window_, kChangeTimeout));
        pressKey(display(), XK_Escape);
        ASSERT_TRUE(program_->waitForExit(kExitTimeout)) << "still running after Esc";
        EXPECT_TRUE(program_->exitedNormally()) << "ended by signal " << program_->signalNumber();
        EXPECT_EQ(program_->exitCode(), 0) << "stderr: " << program_->errorOutput();
    }

    // Presses and releases of F11, `gap` apart. Without a gap they are queued and flushed
    // in batches, so the program reads many at once; with one, each is a round trip of its
    // own and the program meets them while a switch is still under way.
    void stormF11(int presses, std::chrono::microseconds gap) {
        const KeyCode f11 = XKeysymToKeycode(display(), XK_F11);
        for (int press = 1; press <= presses; ++press) {
            XTestFakeKeyEvent(display(), f11, True, CurrentTime);
            XTestFakeKeyEvent(display(), f11, False, CurrentTime);
            if (gap.count() > 0 || press % kSyncEvery == 0) XSync(display(), False);
            std::this_thread::sleep_for(gap);
        }
        XSync(display(), False);
    }

    // An odd number of presses changes the mode, an even number keeps it; windowed is
    // always where the window started.
    void expectF11StormEndsRight(int presses, std::chrono::microseconds gap) {
        fullScreen_ = fullScreen_ != (presses % 2 != 0);
        const WindowRect expected = fullScreen_ ? kFullScreen : initial_;
        const auto began = Clock::now();
        stormF11(presses, gap);
        const auto sent = Clock::now();
        const WindowRect seen =
            waitForGeometry(display(), window_, expected, kStormSettleTimeout, 500ms);
        std::printf(
            "F11 storm: %d presses %lld us apart sent in %lld ms; at %dx%d+%d+%d %lld ms "
            "later\n",
            presses, static_cast<long long>(gap.count()),
            static_cast<long long>((sent - began) / 1ms), seen.width, seen.height, seen.x, seen.y,
            static_cast<long long>((Clock::now() - sent) / 1ms));
        ASSERT_EQ(seen, expected) << "after " << presses << " presses, expected "
                                  << (fullScreen_ ? "full screen" : "the original window");
    }

    std::string workingDirectory_;
    std::unique_ptr<ChildProcess> program_;
    Window window_ = None;
    WindowRect initial_;
    bool fullScreen_ = false;
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

// A burst folds into few switches; paced presses make many, each asked for while the one
// before may still be under way.
TEST_F(StressTest, EvenF11StormsEndWindowedAtTheOriginalGeometry) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(expectF11StormEndsRight(1000, 0us));
    ASSERT_NO_FATAL_FAILURE(expectF11StormEndsRight(300, 1000us));
    ASSERT_NO_FATAL_FAILURE(expectStillDrawing());
    expectEscExitsWithZero();
}

TEST_F(StressTest, OddF11StormsEndFullScreenAndThenBack) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(expectF11StormEndsRight(1001, 0us));
    ASSERT_NO_FATAL_FAILURE(expectStillDrawing());
    // Back from full screen: the geometry saved on the way in must be the original one.
    ASSERT_NO_FATAL_FAILURE(expectF11StormEndsRight(301, 1000us));
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

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);
    return RUN_ALL_TESTS();
}
