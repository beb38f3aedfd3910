#include "app/app.h"

#include <GL/freeglut.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

App* theApp = nullptr;
float timerInterval = 5.0f;

namespace {

constexpr int32_t kEscapeKey = 27;

// How often a switch waiting for the one before to land looks again, and how long at most
// it waits for that.
constexpr unsigned kSwitchPollMilliseconds = 5;
constexpr auto kSwitchLandingTime = std::chrono::seconds(1);

// Switching to or from full screen lags F11 twice: freeglut sends the request only after it
// has handled every event that came with the key (folding a second switch asked for meanwhile
// into the first), and the window manager carries it out later still. So F11 only flips the
// mode wanted, and a timer makes one switch at a time, once the one before has landed: the
// geometry saved on the way in must be that of a window really back from full screen.
bool switchScheduled = false;
std::chrono::steady_clock::time_point lastSwitchDeadline;

bool atSavedGeometry(const App& app) {
    return glutGet(GLUT_WINDOW_X) == app.savedX && glutGet(GLUT_WINDOW_Y) == app.savedY &&
           glutGet(GLUT_WINDOW_WIDTH) == app.savedWidth &&
           glutGet(GLUT_WINDOW_HEIGHT) == app.savedHeight;
}

// Full screen has landed once the window has left the saved geometry, windowed once it is
// back there. The saved fields are read only after a switch has set them.
bool lastSwitchStillLanding(const App& app) {
    return std::chrono::steady_clock::now() < lastSwitchDeadline &&
           atSavedGeometry(app) == (glutGet(GLUT_FULL_SCREEN) != 0);
}

void switchScreenMode(int) {
    App& app = *theApp;
    if (lastSwitchStillLanding(app)) {
        glutTimerFunc(kSwitchPollMilliseconds, switchScreenMode, 0);
        return;
    }
    switchScheduled = false;
    if (app.fullScreen == (glutGet(GLUT_FULL_SCREEN) != 0)) return;
    if (app.fullScreen) {
        app.savedX = glutGet(GLUT_WINDOW_X);
        app.savedY = glutGet(GLUT_WINDOW_Y);
        app.savedWidth = glutGet(GLUT_WINDOW_WIDTH);
        app.savedHeight = glutGet(GLUT_WINDOW_HEIGHT);
        glutFullScreen();
    } else {
        glutReshapeWindow(app.savedWidth, app.savedHeight);
        glutPositionWindow(app.savedX, app.savedY);
    }
    lastSwitchDeadline = std::chrono::steady_clock::now() + kSwitchLandingTime;
}

}  // namespace

void createApp() {
    theApp = new (std::nothrow) App;
    if (theApp == nullptr) {
        std::fputs("blendspin: out of memory while starting.\n", stderr);
        std::exit(EXIT_FAILURE);
    }
    theApp->init();
}

void App::tick() {
    draw();
}

void App::onKey(int32_t key, int32_t, int32_t) {
    if (key == kEscapeKey) std::exit(0);
}

void App::onSpecialKey(int32_t key, int32_t, int32_t) {
    if (key != GLUT_KEY_F11) return;
    fullScreen = !fullScreen;
    if (switchScheduled) return;
    switchScheduled = true;
    glutTimerFunc(0, switchScreenMode, 0);
}
