#include <GL/freeglut.h>

#include "app/app.h"
#include "app/screen_mode.h"

namespace {

void onDisplay() {
    theApp->draw();
}

void onReshape(int width, int height) {
    theApp->reshape(width, height);
}

void onKeyboard(unsigned char key, int x, int y) {
    theApp->onKey(key & 0xFF, x, y);
}

void onSpecial(int key, int x, int y) {
    theApp->onSpecialKey(key, x, y);
}

void onTimer(int value) {
    theApp->tick();
    glutTimerFunc(static_cast<unsigned>(timerInterval), onTimer, value);
}

void ignoreEvent(int, int, int, int) {}

void ignoreEvent(int, int) {}

}  // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    createApp();
    glutDisplayFunc(onDisplay);
    glutReshapeFunc(onReshape);
    glutMouseFunc(ignoreEvent);
    glutKeyboardFunc(onKeyboard);
    glutSpecialFunc(onSpecial);
    glutPassiveMotionFunc(ignoreEvent);
    glutMotionFunc(ignoreEvent);
    glutTimerFunc(static_cast<unsigned>(timerInterval), onTimer, 0);
    watchScreenMode();
    glutMainLoop();
    return 0;
}
