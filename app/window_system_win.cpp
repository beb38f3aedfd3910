// The program's window under Windows. GLUT is the whole windowing system the program sees
// there: its full screen covers the window's monitor and its own return puts the window back,
// and it knows the state because nothing else changes it.
#include <windows.h>

#include <GL/freeglut.h>

#include "app/window_system.h"

namespace window_system {

bool showsFullScreen() {
    return glutGet(GLUT_FULL_SCREEN) != 0;
}

void requestFullScreen(bool on) {
    if (on) {
        glutFullScreen();
    } else {
        glutLeaveFullScreen();
    }
}

// freeglut keeps the window's rectangle when it goes full screen and puts it back after.
bool restoresWindow() {
    return true;
}

Offset expectedMoveOffset() {
    return {0, 0};
}

// Windows tells the monitor of the window itself, by the same rule that freeglut's full screen
// follows: the one it overlaps most, else the nearest.
Rect monitorOf(const Rect&) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    const HMONITOR monitor =
        MonitorFromWindow(WindowFromDC(wglGetCurrentDC()), MONITOR_DEFAULTTONEAREST);
    if (!GetMonitorInfoA(monitor, &info)) {
        return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    const RECT& area = info.rcMonitor;
    return {area.left, area.top, area.right - area.left, area.bottom - area.top};
}

// freeglut's full screen covers the monitor already.
void coverMonitor(const Rect&) {}

}  // namespace window_system
