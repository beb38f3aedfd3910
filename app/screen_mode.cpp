#include "app/screen_mode.h"

#include <GL/freeglut.h>

#include <chrono>
#include <optional>

#include "app/app.h"
#include "app/window_system.h"

namespace {

using Clock = std::chrono::steady_clock;
using window_system::Offset;
using window_system::Rect;

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

// The watch's phases, and what moves it between them:
//   Resting:  follows switches made by others; a press that leaves the wanted state unlike the
//             one shown starts a switch, to Entering or Leaving.
//   Entering: until the window covers one monitor (moved there where the window manager
//             leaves that to the program).
//   Leaving:  until the window keeps still out of full screen: where it was restored for the
//             program, wherever that is; where the program asked for its place, once there
//             (put right by a few moves, which teach the watch what the window manager adds to
//             a requested position).
// A switch goes back to Resting once it has landed or the landing time has run out, and a press
// made meanwhile acts in that same look. The geometry to go back to lives in App::saved*, as
// the position to ask for; the client area lands there plus the move offset.
enum class Phase { Resting, Entering, Leaving };

struct Watch {
    Phase phase = Phase::Resting;
    bool fullScreen = false;     // the state last asked for, or last seen changed by others
    Clock::time_point deadline;  // of the switch under way
    int corrections = 0;         // moves made to put the switch under way right
    int restingLooks = 0;
    Rect seen{};  // the client area as last seen, and since when it has kept still
    Clock::time_point stillSince;
    // The geometry to ask for to come back to the last window seen at rest.
    std::optional<Rect> windowed;
    // What the window manager adds to a requested position, once learnt from a restore.
    std::optional<Offset> learntOffset;
};

Watch watch;

Rect clientArea() {
    return {glutGet(GLUT_WINDOW_X), glutGet(GLUT_WINDOW_Y), glutGet(GLUT_WINDOW_WIDTH),
            glutGet(GLUT_WINDOW_HEIGHT)};
}

Offset moveOffset() {
    return watch.learntOffset ? *watch.learntOffset : window_system::expectedMoveOffset();
}

// The geometry to ask for so that the client area lands at `area`; read while the window is
// windowed, when its frame is there to tell the offset.
Rect askedFor(const Rect& area) {
    const Offset offset = moveOffset();
    return {area.x - offset.x, area.y - offset.y, area.width, area.height};
}

Rect restoreTarget(const App& app) {
    const Offset offset = moveOffset();
    return {app.savedX + offset.x, app.savedY + offset.y, app.savedWidth, app.savedHeight};
}

void saveGeometry(App& app, const Rect& asked) {
    app.savedX = asked.x;
    app.savedY = asked.y;
    app.savedWidth = asked.width;
    app.savedHeight = asked.height;
}

// Without a window seen at rest, leaving full screen goes back to the place and size the window
// was created with: its frame where it was asked to be, as at start-up.
Rect startupGeometry() {
    return {glutGet(GLUT_INIT_WINDOW_X), glutGet(GLUT_INIT_WINDOW_Y),
            glutGet(GLUT_INIT_WINDOW_WIDTH), glutGet(GLUT_INIT_WINDOW_HEIGHT)};
}

// GLUT sends full-screen requests as toggles from what it last asked for; where that has gone
// stale, the request goes to the window system directly.
void enterFullScreen(App& app) {
    const bool glutThinksFullScreen = glutGet(GLUT_FULL_SCREEN) != 0;
    saveGeometry(app, askedFor(clientArea()));
    glutFullScreen();
    if (glutThinksFullScreen) window_system::requestFullScreen(true);
}

// Where someone keeps the window's place through full screen (the window manager, or GLUT on
// Windows), clearing the state brings it back there, to its tile under a tiling layout; a
// request for the old size and place would fight that. Elsewhere the program asks for them.
void leaveFullScreen(const App& app) {
    if (glutGet(GLUT_FULL_SCREEN) != 0) {
        glutLeaveFullScreen();
    } else {
        window_system::requestFullScreen(false);
    }
    if (window_system::restoresWindow()) return;
    glutReshapeWindow(app.savedWidth, app.savedHeight);
    glutPositionWindow(app.savedX, app.savedY);
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

// Full screen belongs on the monitor of the window as it was asked to be. A window manager's
// full screen on any one monitor is its own choice, and final; GLUT's own covers the whole
// screen from where the window was, so the window is moved onto the monitor.
bool fullScreenLanded(const App& app, bool showsFullScreen) {
    if (!showsFullScreen) return false;
    const Rect wanted =
        window_system::monitorOf({app.savedX, app.savedY, app.savedWidth, app.savedHeight});
    if (watch.seen == wanted || watch.seen == window_system::monitorOf(watch.seen)) return true;
    if (keptStill() && watch.corrections < kMaxCorrections) {
        ++watch.corrections;
        window_system::coverMonitor(wanted);
    }
    return false;
}

// Back from full screen once the window keeps still out of it. Where the window was restored
// for the program, that is final: the place is the window manager's, or the user's if they
// moved it meanwhile. The move the program asks for itself lands offset where a window manager
// places the frame there, or ignores a window moving to where it already is; the offset is
// learnt from where the window came to rest, and the saved position moves by what it missed,
// so the target stays where it was.
bool windowLanded(App& app, bool showsFullScreen) {
    if (showsFullScreen || !keptStill()) return false;
    if (window_system::restoresWindow()) return true;
    if (watch.seen.width != app.savedWidth || watch.seen.height != app.savedHeight) return false;
    const Rect target = restoreTarget(app);
    if (watch.seen == target || watch.corrections >= kMaxCorrections) return true;
    ++watch.corrections;
    const Offset missed{watch.seen.x - target.x, watch.seen.y - target.y};
    const Offset offset = moveOffset();
    watch.learntOffset = Offset{offset.x + missed.x, offset.y + missed.y};
    app.savedX -= missed.x;
    app.savedY -= missed.y;
    glutPositionWindow(app.savedX, app.savedY);
    watch.stillSince = Clock::now();
    return false;
}

bool landed(App& app, bool showsFullScreen) {
    return watch.phase == Phase::Entering ? fullScreenLanded(app, showsFullScreen)
                                          : windowLanded(app, showsFullScreen);
}

// At rest: a change of state that the program did not ask for came from the window manager or
// another client, and the wanted state follows it; leaving full screen later goes back to the
// last window seen at rest. F11 pressed since the last look was pressed at what the user saw,
// so it still counts, from the new state.
void followOthers(App& app, bool showsFullScreen) {
    if (showsFullScreen != watch.fullScreen) {
        const bool pressedSinceLastLook = app.fullScreen != watch.fullScreen;
        watch.fullScreen = showsFullScreen;
        app.fullScreen = showsFullScreen != pressedSinceLastLook;
        if (showsFullScreen) saveGeometry(app, watch.windowed.value_or(startupGeometry()));
    } else if (!showsFullScreen && keptStill()) {
        watch.windowed = askedFor(watch.seen);
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
    if (area != watch.seen) {
        watch.seen = area;
        watch.stillSince = Clock::now();
    }
    const bool showsFullScreen = window_system::showsFullScreen();
    if (watch.phase != Phase::Resting && !landed(app, showsFullScreen) &&
        Clock::now() < watch.deadline) {
        return;
    }
    watch.phase = Phase::Resting;
    followOthers(app, showsFullScreen);
    if (app.fullScreen != watch.fullScreen) startSwitch(app);
}

}  // namespace

void watchScreenMode() {
    // The program may have been slow to get here: the window can be full screen already.
    watch.seen = clientArea();
    watch.stillSince = Clock::now();
    glutTimerFunc(kWatchMilliseconds, look, 0);
}
