#include "app/screen_mode.h"

#include <GL/freeglut.h>

#include <chrono>

#include "app/app.h"
#include "app/window_system.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often the watch looks, how long a switch may take to land, and how long the window must
// keep still before the watch takes its place as final: a window manager carries out a switch
// and the moves that go with it in steps.
constexpr unsigned kWatchMilliseconds = 10;
constexpr auto kLandingTime = std::chrono::seconds(2);
constexpr auto kSettleTime = std::chrono::milliseconds(100);
constexpr int kMaxCorrections = 3;
// At rest the window system is asked only on every tenth look, soon enough to follow a switch
// made by others; each question is a round trip to the X server. A press is acted on at once.
constexpr int kRestingLooksPerQuestion = 10;

struct Rect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;

    bool sameSize(const Rect& other) const {
        return width == other.width && height == other.height;
    }
    bool operator==(const Rect& other) const {
        return sameSize(other) && x == other.x && y == other.y;
    }
};

Rect clientArea() {
    return {glutGet(GLUT_WINDOW_X), glutGet(GLUT_WINDOW_Y), glutGet(GLUT_WINDOW_WIDTH),
            glutGet(GLUT_WINDOW_HEIGHT)};
}

Rect screen() {
    return {0, 0, glutGet(GLUT_SCREEN_WIDTH), glutGet(GLUT_SCREEN_HEIGHT)};
}

enum class Phase { Resting, Entering, Leaving };

struct Watch {
    Phase phase = Phase::Resting;
    bool fullScreen = false;  // the state last asked for, or last seen changed by others
    Clock::time_point deadline;
    int corrections = 0;
    int restingLooks = 0;
    // The client area as last seen, and since when it has kept still.
    Rect seen{};
    Clock::time_point stillSince;
    // The last windowed client area at rest, where leaving full screen must land; none is
    // known yet where the window went full screen before the watch saw it at rest.
    Rect windowed{};
    bool windowedSeen = false;
    Rect restoreTarget{};
    bool restoreTargetIsFramePosition = false;
    // What the window manager adds to a requested position before the client area lands.
    window_system::Offset moveOffset{0, 0};
    bool moveOffsetLearnt = false;
};

Watch watch;

// The saved position is the one to ask for, so that the client area lands back at `area`.
void saveGeometry(App& app, const Rect& area) {
    if (!watch.moveOffsetLearnt) watch.moveOffset = window_system::expectedMoveOffset();
    app.savedX = area.x - watch.moveOffset.x;
    app.savedY = area.y - watch.moveOffset.y;
    app.savedWidth = area.width;
    app.savedHeight = area.height;
    watch.restoreTarget = area;
    watch.restoreTargetIsFramePosition = false;
}

// Without a window seen at rest, leaving full screen goes back to the place and size the window
// was created with: its frame where it was asked to be, as at start-up.
void saveStartupGeometry(App& app) {
    app.savedX = glutGet(GLUT_INIT_WINDOW_X);
    app.savedY = glutGet(GLUT_INIT_WINDOW_Y);
    app.savedWidth = glutGet(GLUT_INIT_WINDOW_WIDTH);
    app.savedHeight = glutGet(GLUT_INIT_WINDOW_HEIGHT);
    watch.restoreTarget = {app.savedX, app.savedY, app.savedWidth, app.savedHeight};
    watch.restoreTargetIsFramePosition = true;
}

// GLUT sends full-screen requests as toggles from what it last asked for; where that has gone
// stale, the request goes to the window system directly.
void enterFullScreen(App& app) {
    const bool glutThinksFullScreen = glutGet(GLUT_FULL_SCREEN) != 0;
    saveGeometry(app, {glutGet(GLUT_WINDOW_X), glutGet(GLUT_WINDOW_Y), glutGet(GLUT_WINDOW_WIDTH),
                       glutGet(GLUT_WINDOW_HEIGHT)});
    glutFullScreen();
    if (glutThinksFullScreen) window_system::requestFullScreen(true);
}

void leaveFullScreen(const App& app) {
    const bool glutThinksFullScreen = glutGet(GLUT_FULL_SCREEN) != 0;
    glutReshapeWindow(app.savedWidth, app.savedHeight);
    glutPositionWindow(app.savedX, app.savedY);
    if (!glutThinksFullScreen) window_system::requestFullScreen(false);
}

void startSwitch(App& app) {
    watch.fullScreen = app.fullScreen;
    if (app.fullScreen) {
        enterFullScreen(app);
    } else {
        leaveFullScreen(app);
    }
    watch.phase = app.fullScreen ? Phase::Entering : Phase::Leaving;
    watch.deadline = Clock::now() + kLandingTime;
    watch.corrections = 0;
}

bool keptStill() {
    return Clock::now() - watch.stillSince >= kSettleTime;
}

// Full screen lands at the screen's origin; without a window manager GLUT leaves it where the
// window was less its own position, so it is moved there.
bool fullScreenLanded(bool showsFullScreen) {
    const Rect wanted = screen();
    if (!showsFullScreen || !watch.seen.sameSize(wanted)) return false;
    if (watch.seen == wanted) return true;
    if (keptStill() && watch.corrections < kMaxCorrections) {
        ++watch.corrections;
        window_system::moveFullScreenToOrigin();
    }
    return false;
}

// The move that leaving full screen asks for lands offset where a window manager places the
// frame there, or ignores a window moving to where it already is; the offset is learnt from
// where the window came to rest and put right with a second move.
bool windowLanded(bool showsFullScreen) {
    Rect& target = watch.restoreTarget;
    if (showsFullScreen || !watch.seen.sameSize(target) || !keptStill()) return false;
    if (watch.restoreTargetIsFramePosition) {
        // Out of full screen the window has its frame again, which tells where the client goes.
        const window_system::Offset frame = window_system::expectedMoveOffset();
        target.x += frame.x;
        target.y += frame.y;
        watch.restoreTargetIsFramePosition = false;
    }
    if (watch.seen == target || watch.corrections >= kMaxCorrections) return true;
    ++watch.corrections;
    watch.moveOffset.x += watch.seen.x - target.x;
    watch.moveOffset.y += watch.seen.y - target.y;
    watch.moveOffsetLearnt = true;
    glutPositionWindow(target.x - watch.moveOffset.x, target.y - watch.moveOffset.y);
    watch.stillSince = Clock::now();
    return false;
}

// Between switches: a change of state that the program did not ask for came from the window
// manager or another client, and the wanted state follows it; leaving full screen later goes
// back to the last window seen at rest. F11 pressed since the last look was pressed at what the
// user saw, so it still counts, from the new state.
void followOthers(App& app, bool showsFullScreen) {
    if (showsFullScreen != watch.fullScreen) {
        const bool pressedSinceLastLook = app.fullScreen != watch.fullScreen;
        watch.fullScreen = showsFullScreen;
        app.fullScreen = showsFullScreen != pressedSinceLastLook;
        if (showsFullScreen && watch.windowedSeen) {
            saveGeometry(app, watch.windowed);
        } else if (showsFullScreen) {
            saveStartupGeometry(app);
        }
    } else if (!showsFullScreen && keptStill()) {
        watch.windowed = watch.seen;
        watch.windowedSeen = true;
    }
}

// Whether this look asks the window system: always during a switch or for a press.
bool asksNow(const App& app) {
    if (watch.phase != Phase::Resting || app.fullScreen != watch.fullScreen ||
        ++watch.restingLooks >= kRestingLooksPerQuestion) {
        watch.restingLooks = 0;
        return true;
    }
    return false;
}

void look(int) {
    glutTimerFunc(kWatchMilliseconds, look, 0);
    App& app = *theApp;
    if (!asksNow(app)) return;
    const Rect area = clientArea();
    if (!(area == watch.seen)) {
        watch.seen = area;
        watch.stillSince = Clock::now();
    }
    const bool showsFullScreen = window_system::showsFullScreen();
    switch (watch.phase) {
        case Phase::Entering:
            if (fullScreenLanded(showsFullScreen) || Clock::now() >= watch.deadline) {
                watch.phase = Phase::Resting;
            }
            break;
        case Phase::Leaving:
            if (windowLanded(showsFullScreen) || Clock::now() >= watch.deadline) {
                watch.phase = Phase::Resting;
            }
            break;
        case Phase::Resting:
            followOthers(app, showsFullScreen);
            if (app.fullScreen != watch.fullScreen) startSwitch(app);
            break;
    }
}

}  // namespace

void watchScreenMode() {
    // The program may have been slow to get here: the window can be full screen already.
    watch.seen = clientArea();
    watch.stillSince = Clock::now();
    glutTimerFunc(kWatchMilliseconds, look, 0);
}
