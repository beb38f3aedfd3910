#pragma once

// Switching the window between windowed and full screen. `App::fullScreen` says which one
// the user wants: F11 flips it, and it follows when the window manager or another client
// switches the window. A watch started once the window exists makes one switch at a time,
// each once the one before has landed, and puts a window that landed off its place right.
void watchScreenMode();
