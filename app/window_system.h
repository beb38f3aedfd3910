#pragma once

#include <cstdint>

// What GLUT neither tells nor does about the program's one window, from the windowing system
// underneath. One implementation per windowing system, chosen by the build.
namespace window_system {

struct Offset {
    int32_t x;
    int32_t y;
};

// A client area or a monitor, in root-window coordinates.
struct Rect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;

    bool operator==(const Rect& other) const {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
    bool operator!=(const Rect& other) const { return !(*this == other); }
};

// Whether the window is full screen as the user sees it. GLUT only knows what it last asked
// for, and never learns of a change the window manager or another client makes.
bool showsFullScreen();

// Asks for full screen or a window directly, for when GLUT's idea of the state has gone stale:
// its own call would then do nothing, or the opposite.
void requestFullScreen(bool on);

// Whether someone else brings the window back to its place and size when full screen ends: a
// window manager that switches full screen itself keeps them, or lays the window out anew.
bool restoresWindow();

// What a window manager is expected to add to a requested position before the client area
// lands: the decoration above and left of it, where moves place the frame.
Offset expectedMoveOffset();

// The monitor where full screen belongs for a window at `area`: the one holding its centre,
// else the nearest.
Rect monitorOf(const Rect& area);

// Makes a full-screen window's client area cover `monitor` exactly, where GLUT's own full
// screen covers the whole screen, or leaves it off the monitor's origin.
void coverMonitor(const Rect& monitor);

}  // namespace window_system
