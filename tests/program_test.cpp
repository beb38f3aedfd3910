// The real blendspin binary under a private Xvfb with openbox, driven by real input through
// the X server (XTEST) and watched through the server: window geometry, properties and
// screenshots.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/desktop.h"
#include "tests/support/program_command.h"
#include "tests/support/program_fixture.h"
#include "tests/support/wait_until.h"
#include "tests/support/x_session.h"
#include "tests/support/x_window.h"

namespace {

using namespace std::chrono_literals;

using namespace desktop;

// Generous: a loaded CI machine renders with llvmpipe on two cores.
constexpr auto kStartTimeout = 30s;  // Wine, sanitizers and a loaded machine are slow to start
constexpr auto kChangeTimeout = 5s;
constexpr auto kExitTimeout = 2s;

// The clear colour 0.5 lands on 127 or 128 depending on the driver's rounding.
class ProgramTest : public ProgramFixture {
protected:
    // Starts the program in an empty directory and waits until its window is managed, at
    // rest and has the keyboard focus.
    void start(const std::vector<std::string>& options = {}) {
        ASSERT_NO_FATAL_FAILURE(startProgram({}, options));
        ASSERT_NO_FATAL_FAILURE(waitForProgramWindow(kStartTimeout));
    }

    // The top-left corner of the window manager's frame, where a requested position lands.
    void expectFrameAtRequestedPlace() {
        const std::optional<FrameExtents> extents = frameExtents(display(), window_);
        ASSERT_TRUE(extents.has_value());
        EXPECT_EQ(initial_.width, kWindowWidth);
        EXPECT_EQ(initial_.height, kWindowHeight);
        // On Windows, GLUT places the window's own frame there, which under Wine lies inside
        // the window manager's and is not drawn: the client area sits lower by its size.
        if (program_command::underWine()) return;
        EXPECT_EQ(initial_.x - extents->left, kWindowX) << "client area at " << initial_;
        EXPECT_EQ(initial_.y - extents->top, kWindowY) << "client area at " << initial_;
    }

    // Checked before the F11 marker is sent: a move asked for in the same batch of events as
    // an F11 can be swallowed by the switch to full screen.
    void expectGeometryUnchanged() {
        ASSERT_EQ(waitForGeometry(display(), window_, initial_, kChangeTimeout), initial_);
    }

    // Full screen and back. Also a marker: input sent before it has been handled once the
    // window has come back.
    void switchToFullScreenAndBack() {
        pressKey(display(), XK_F11);
        ASSERT_EQ(waitForGeometry(display(), window_, kFullScreen, kChangeTimeout), kFullScreen);
        pressKey(display(), XK_F11);
        ASSERT_EQ(waitForGeometry(display(), window_, initial_, kChangeTimeout), initial_);
    }

    // Seen from inside the arrangement, the squares fill a 4:3 view wall to wall, so in the
    // window's own shape every untextured frame is the same white. A wide strip widens the
    // view past their edges to the grey background, where the turning shows.
    void expectAnimationContinues() {
        ASSERT_TRUE(program_->running());
        const std::optional<FrameExtents> extents = frameExtents(display(), window_);
        ASSERT_TRUE(extents.has_value());
        moveResizeWindow(display(), window_, kStripX, kStripY, kStripWidth, kStripHeight);
        const WindowRect strip{kStripX + extents->left, kStripY + extents->top, kStripWidth,
                               kStripHeight};
        ASSERT_EQ(waitForGeometry(display(), window_, strip, kChangeTimeout), strip);

        // The reshape draws a frame of its own; only the timer draws the ones after it.
        Picture first;
        ASSERT_TRUE(waitUntil(kChangeTimeout, [&] {
            first = grabPicture(display(), window_);
            return showsClearGrey(first);
        })) << "no frame on the grey background was shown";
        expectTwoChangesAfter(first, kChangeTimeout);
    }
};

TEST_F(ProgramTest, WindowOpensAt640By480AtHundredHundredWithEmptyTitle) {
    ASSERT_NO_FATAL_FAILURE(start());
    expectFrameAtRequestedPlace();
    EXPECT_EQ(textProperty(display(), window_, "WM_NAME").value_or(""), "");
    EXPECT_EQ(textProperty(display(), window_, "_NET_WM_NAME").value_or(""), "");
}

TEST_F(ProgramTest, GeometryOptionDoesNotDecideTheFirstWindow) {
    ASSERT_NO_FATAL_FAILURE(start({"-geometry", "300x200+5+5"}));
    expectFrameAtRequestedPlace();
}

TEST_F(ProgramTest, PictureKeepsChangingWithoutInput) {
    ASSERT_NO_FATAL_FAILURE(start());
    expectAnimationContinues();
}

TEST_F(ProgramTest, EscExitsWithCodeZeroWhileOtherCharacterKeysDoNothing) {
    ASSERT_NO_FATAL_FAILURE(start());
    for (KeySym key :
         {XK_q, XK_a, XK_x, XK_space, XK_Return, XK_Tab, XK_BackSpace, XK_Delete, XK_1}) {
        pressKey(display(), key);
    }
    ASSERT_NO_FATAL_FAILURE(switchToFullScreenAndBack());
    ASSERT_NO_FATAL_FAILURE(expectAnimationContinues());

    pressKey(display(), XK_Escape);
    ASSERT_TRUE(program_->waitForExit(kExitTimeout)) << "still running after Esc";
    EXPECT_TRUE(program_->exitedNormally()) << "ended by signal " << program_->signalNumber();
    EXPECT_EQ(program_->exitCode(), 0);
}

TEST_F(ProgramTest, F11SwitchesToFullScreenAndBackToTheSameGeometry) {
    ASSERT_NO_FATAL_FAILURE(start());
    // Twice: the second round must not build on anything the first one left behind.
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_NO_FATAL_FAILURE(switchToFullScreenAndBack());
    }
    expectFrameAtRequestedPlace();
    expectAnimationContinues();
}

TEST_F(ProgramTest, OtherSpecialKeysChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(start());
    for (KeySym key : {XK_Up, XK_Down, XK_Left, XK_Right, XK_F1, XK_F10, XK_F12, XK_Home, XK_End,
                       XK_Page_Up, XK_Page_Down, XK_Insert}) {
        pressKey(display(), key);
    }
    ASSERT_NO_FATAL_FAILURE(expectGeometryUnchanged());
    // Had one of them flipped the full-screen state, this F11 would leave it instead.
    ASSERT_NO_FATAL_FAILURE(switchToFullScreenAndBack());
    expectAnimationContinues();
}

TEST_F(ProgramTest, MouseClicksAndDragsChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(start());
    const int centreX = initial_.x + initial_.width / 2;
    const int centreY = initial_.y + initial_.height / 2;
    movePointer(display(), centreX, centreY);
    // Buttons 4 and 5 are the wheel.
    for (unsigned button = 1; button <= 5; ++button) {
        pressButton(display(), button);
        releaseButton(display(), button);
    }
    for (unsigned button : {1u, 3u}) {
        pressButton(display(), button);
        for (int step = 1; step <= 10; ++step) {
            movePointer(display(), centreX + step * 20, centreY - step * 15);
        }
        releaseButton(display(), button);
    }
    for (int step = 1; step <= 10; ++step) movePointer(display(), centreX - step * 25, centreY);

    ASSERT_NO_FATAL_FAILURE(expectGeometryUnchanged());
    ASSERT_NO_FATAL_FAILURE(switchToFullScreenAndBack());
    expectAnimationContinues();
}

// The same failure either way: nowhere to open a window.
TEST(ProgramWithoutDisplay, ExitsWithAnErrorNamingTheDisplay) {
    std::string unusedDisplay;
    for (int number = 90; number < 200 && unusedDisplay.empty(); ++number) {
        const std::string name = ":" + std::to_string(number);
        if (!XConnection(name).ok()) unusedDisplay = name;
    }
    ASSERT_FALSE(unusedDisplay.empty());

    struct Case {
        const char* name;
        std::vector<std::string> command;
    };
    // The program's own clean environment, less the display the desktop set.
    std::vector<std::string> withoutDisplay = program_command::program(BLENDSPIN_PATH);
    withoutDisplay.erase(std::remove_if(withoutDisplay.begin(), withoutDisplay.end(),
                                        [](const std::string& argument) {
                                            return argument.rfind("DISPLAY=", 0) == 0;
                                        }),
                         withoutDisplay.end());
    const Case cases[] = {
        {"DISPLAY unset", withoutDisplay},
        {"DISPLAY names no server",
         program_command::program(BLENDSPIN_PATH, {"DISPLAY=" + unusedDisplay})},
    };
    for (const Case& noDisplay : cases) {
        SCOPED_TRACE(noDisplay.name);
        ChildProcess program(noDisplay.command);
        ASSERT_TRUE(program.waitForExit(5s)) << "still running without a display";
        EXPECT_TRUE(program.exitedNormally()) << "ended by signal " << program.signalNumber();
        EXPECT_NE(program.exitCode(), 0);
        EXPECT_NE(program.errorOutput().find("display"), std::string::npos)
            << "stderr: " << program.errorOutput();
    }
}

}  // namespace
