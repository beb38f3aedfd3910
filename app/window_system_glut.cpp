// Where GLUT is the whole windowing system the program sees: its full screen covers the
// screen, it knows the state because nothing else changes it, and any offset that moves pick
// up is learnt from where the window lands.
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

Offset expectedMoveOffset() {
    return {0, 0};
}

void moveFullScreenToOrigin() {}

}  // namespace window_system
