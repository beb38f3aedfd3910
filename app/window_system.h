#pragma once

#include <cstdint>

// What GLUT neither tells nor does about the program's one window, from the windowing system
// underneath. One implementation per windowing system, chosen by the build.
namespace window_system {

struct Offset {
    int32_t x;
    int32_t y;
};

// Whether the window is full screen as the user sees it. GLUT only knows what it last asked
// for, and never learns of a change the window manager or another client makes.
bool showsFullScreen();

// Asks for full screen or a window directly, for when GLUT's idea of the state has gone stale:
// its own call would then do nothing, or the opposite.
void requestFullScreen(bool on);

// What a window manager is expected to add to a requested position before the client area
// lands: the decoration above and left of it, where moves place the frame.
Offset expectedMoveOffset();

// Moves a full-screen window whose client area is off the screen's origin to it, where GLUT's
// own full screen leaves it elsewhere.
void moveFullScreenToOrigin();

}  // namespace window_system
