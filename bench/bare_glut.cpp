// The cheapest GLUT program shaped like blendspin: the same window and display mode, redrawn
// on the same 5 ms timer, but each frame only clears and swaps. It is the yardstick the frame
// rate benchmark measures blendspin against.
#include <GL/freeglut.h>

namespace {

constexpr unsigned kTimerMilliseconds = 5;  // blendspin's timer period

void drawFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glutSwapBuffers();
}

void onTimer(int value) {
    drawFrame();
    glutTimerFunc(kTimerMilliseconds, onTimer, value);
}

}  // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(640, 480);
    glutInitWindowPosition(100, 100);
    glutCreateWindow("");
    glClearColor(0.5, 0.5, 0.5, 0.0);

    glutDisplayFunc(drawFrame);
    glutTimerFunc(kTimerMilliseconds, onTimer, 0);
    glutMainLoop();
    return 0;
}
