// The real blendspin binary's window geometry under one window manager, chosen on the command
// line (--window-manager=NAME, "none" for none), each run on a private Xvfb, or a Wayland
// compositor's XWayland, split into two monitors with --two-monitors: where the window opens,
// full screen and back, moves the user makes, F11 storms, switches made by the window
// manager, the close button.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/desktop.h"
#include "tests/support/program_fixture.h"
#include "tests/support/wait_until.h"
#include "tests/support/x_window.h"

namespace {

using namespace std::chrono_literals;
using namespace desktop;
using Clock = std::chrono::steady_clock;

// Generous: llvmpipe on two loaded cores, and the program may be an AddressSanitizer build.
constexpr auto kStartTimeout = 30s;
constexpr auto kChangeTimeout = 10s;
constexpr auto kStormSettleTimeout = 30s;
constexpr auto kExitTimeout = 15s;  // also for the close button
// The longest the program gives a switch to land.
constexpr auto kLandingTime = 2s;
// F11 pressed once full screen has landed acts at once, not after the landing time. The wait
// for the window to keep still is counted in.
constexpr auto kQuickRestore = 1500ms;

// The second of two monitors (--two-monitors), right of the first.
constexpr WindowRect kRightMonitor{kScreenWidth, 0, kScreenWidth, kScreenHeight};

// The monitor that holds the window's centre. sway opens a window on the output that has the
// focus, which a test before may have moved.
WindowRect monitorHolding(const WindowRect& window) {
    const bool right = twoMonitors && window.x + window.width / 2 >= kScreenWidth;
    return right ? kRightMonitor : kFullScreen;
}

// An occasional round trip, so the test never runs far ahead of the server.
constexpr int kSyncEvery = 50;

class ScreenModeTest : public ProgramFixture {
protected:
    void start() {
        ASSERT_NO_FATAL_FAILURE(addSampleTextures(MAKE_SAMPLE_TEXTURES_PATH));
        ASSERT_NO_FATAL_FAILURE(startProgram());
        ASSERT_NO_FATAL_FAILURE(waitForProgramWindow(kStartTimeout));
        home_ = monitorHolding(initial_);
        if (session->tiles()) return;  // the layout decides the size
        ASSERT_EQ(initial_.width, kWindowWidth);
        ASSERT_EQ(initial_.height, kWindowHeight);
    }

    void expectGeometry(const WindowRect& expected, const char* what) {
        ASSERT_EQ(waitForGeometry(display(), window_, expected, kChangeTimeout), expected) << what;
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
        const WindowRect expected = fullScreen_ ? home_ : initial_;
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

    // Full screen on `monitor` and back, `cycles` times from where the window is: every way
    // back lands exactly where the window was, and soon after the press: nothing builds up
    // over the cycles, and no press waits for a switch that has landed.
    void expectF11Cycles(const WindowRect& monitor, int cycles) {
        const WindowRect windowed = clientGeometry(display(), window_);
        long long slowest = 0;
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            SCOPED_TRACE("cycle " + std::to_string(cycle));
            pressKey(display(), XK_F11);
            ASSERT_NO_FATAL_FAILURE(expectGeometry(monitor, "full screen"));
            const auto pressed = Clock::now();
            pressKey(display(), XK_F11);
            ASSERT_NO_FATAL_FAILURE(expectGeometry(windowed, "back from full screen"));
            const auto took = (Clock::now() - pressed) / 1ms;
            EXPECT_LT(took, kQuickRestore / 1ms) << "ms: F11 waited to act";
            slowest = std::max<long long>(slowest, took);
        }
        std::printf("F11 cycles from %dx%d+%d+%d: full screen %dx%d+%d+%d, back within %lld ms\n",
                    windowed.width, windowed.height, windowed.x, windowed.y, monitor.width,
                    monitor.height, monitor.x, monitor.y, slowest);
    }

    // Moves the window by (dx, dy) as its user would, or under a tiling layout onto the next
    // output that way, right after a switch has landed; where it lands is the window
    // manager's business. The move is the user's: it stays past the longest landing time.
    // Returns where the window went.
    WindowRect moveAsTheUser(int dx, int dy) {
        const WindowRect before = clientGeometry(display(), window_);
        session->moveAsTheUser(display(), window_, dx, dy);
        waitUntil(kChangeTimeout, [&] { return clientGeometry(display(), window_) != before; });
        const WindowRect moved = waitForSettledGeometry(display(), window_, kChangeTimeout);
        EXPECT_NE(moved, before) << "the window did not move";
        EXPECT_EQ(waitForGeometry(display(), window_, moved, kChangeTimeout, kLandingTime + 500ms),
                  moved)
            << "the move was undone";
        return moved;
    }

    // A switch made by the window manager may move the keyboard focus; the user clicks back.
    void pressF11() {
        ASSERT_TRUE(focusWindow(display(), window_, kChangeTimeout));
        pressKey(display(), XK_F11);
    }

    bool fullScreen_ = false;
    WindowRect home_;  // where full screen goes from the window as it opened
};

TEST_F(ScreenModeTest, WindowOpensWithItsFrameAtTheRequestedPlace) {
    if (session->placesWindowsItself()) {
        GTEST_SKIP() << "sway places new windows itself: in a tile, or floating at the centre";
    }
    ASSERT_NO_FATAL_FAILURE(start());
    const std::optional<FrameExtents> extents = frameExtents(display(), window_);
    ASSERT_TRUE(extents.has_value());
    EXPECT_EQ(initial_.x - extents->left, kWindowX) << "client area at " << initial_;
    EXPECT_EQ(initial_.y - extents->top, kWindowY) << "client area at " << initial_;
}

// Full screen covers the monitor that holds the window, from its origin, and comes back to
// where the user put the window; on two monitors, each.
TEST_F(ScreenModeTest, F11CyclesCoverTheScreenAndComeBackExactly) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(expectF11Cycles(home_, 5));
    if (twoMonitors) {
        const WindowRect other = home_ == kFullScreen ? kRightMonitor : kFullScreen;
        // Off the centre, where sway puts a floating window that asks for its size.
        const WindowRect moved = moveAsTheUser(other.x - home_.x + 100, 40);
        ASSERT_EQ(monitorHolding(moved), other) << "not moved onto the other monitor: " << moved;
        ASSERT_NO_FATAL_FAILURE(expectF11Cycles(other, 5));
    } else if (!session->tiles()) {
        ASSERT_NO_FATAL_FAILURE(moveAsTheUser(150, 60));
        ASSERT_NO_FATAL_FAILURE(expectF11Cycles(home_, 2));
    }
    expectStillDrawing();
}

// A burst folds into few switches; paced presses make many, each asked for while the one
// before may still be under way.
TEST_F(ScreenModeTest, EvenF11StormsEndWindowedAtTheOriginalGeometry) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(expectF11StormEndsRight(2, 0us));
    ASSERT_NO_FATAL_FAILURE(expectF11StormEndsRight(1000, 0us));
    ASSERT_NO_FATAL_FAILURE(expectF11StormEndsRight(300, 1000us));
    ASSERT_NO_FATAL_FAILURE(expectStillDrawing());
    expectEscExitsWithZero();
}

TEST_F(ScreenModeTest, OddF11StormsEndFullScreenAndThenBack) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(expectF11StormEndsRight(1001, 0us));
    ASSERT_NO_FATAL_FAILURE(expectStillDrawing());
    // Back from full screen: the geometry saved on the way in must be the original one.
    ASSERT_NO_FATAL_FAILURE(expectF11StormEndsRight(301, 1000us));
    ASSERT_NO_FATAL_FAILURE(expectStillDrawing());
    expectEscExitsWithZero();
}

// What the user sees decides what F11 does next: a window the window manager made full screen
// goes back to the last window, and one it took out of full screen goes full screen again.
TEST_F(ScreenModeTest, SwitchesMadeByTheWindowManagerAreFollowed) {
    ASSERT_NO_FATAL_FAILURE(start());
    if (!windowManagerAnnounced(display())) GTEST_SKIP() << "no window manager takes requests";
    toggleFullScreenFromOutside(display(), window_);
    ASSERT_NO_FATAL_FAILURE(expectGeometry(home_, "full screen by the window manager"));
    ASSERT_NO_FATAL_FAILURE(pressF11());
    ASSERT_NO_FATAL_FAILURE(expectGeometry(initial_, "F11 after it"));

    ASSERT_NO_FATAL_FAILURE(pressF11());
    ASSERT_NO_FATAL_FAILURE(expectGeometry(home_, "full screen by F11"));
    toggleFullScreenFromOutside(display(), window_);
    ASSERT_NO_FATAL_FAILURE(expectGeometry(initial_, "windowed by the window manager"));
    ASSERT_NO_FATAL_FAILURE(pressF11());
    ASSERT_NO_FATAL_FAILURE(expectGeometry(home_, "F11 after that"));
    ASSERT_NO_FATAL_FAILURE(pressF11());
    ASSERT_NO_FATAL_FAILURE(expectGeometry(initial_, "and F11 again"));
}

TEST_F(ScreenModeTest, CloseButtonEndsTheProgramWithExitCodeZero) {
    ASSERT_NO_FATAL_FAILURE(start());
    closeFromOutside(display(), window_);
    ASSERT_TRUE(program_->waitForExit(kExitTimeout)) << "still running after the close";
    EXPECT_TRUE(program_->exitedNormally()) << "ended by signal " << program_->signalNumber();
    EXPECT_EQ(program_->exitCode(), 0) << "stderr: " << program_->errorOutput();
}

}  // namespace
