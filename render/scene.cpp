#include <GL/freeglut.h>
#include <GL/glu.h>

#include "app/app.h"
#include "image/blend_texture.h"
#include "render/elapsed_time.h"

namespace {

constexpr double kFieldOfView = 45.0;
constexpr double kInitialAspect = 4.0 / 3.0;
// The near plane is the single-precision 0.1, widened.
constexpr double kNearPlane = static_cast<double>(0.1f);
constexpr double kFarPlane = 100.0;

// A square of side 2 in the plane z = 0. It pops the matrix its caller pushed
// just before the square's own rotation.
void drawQuad() {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-1, -1, 0);
    glTexCoord2f(1, 0);
    glVertex3f(1, -1, 0);
    glTexCoord2f(1, 1);
    glVertex3f(1, 1, 0);
    glTexCoord2f(0, 1);
    glVertex3f(-1, 1, 0);
    glEnd();
    glPopMatrix();
}

}  // namespace

void App::init() {
    fullScreen = false;

    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(640, 480);
    glutInitWindowPosition(100, 100);
    glutCreateWindow("");

    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glDepthFunc(GL_LEQUAL);
    glClearDepth(1.0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glClearColor(0.5, 0.5, 0.5, 0.0);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFieldOfView, kInitialAspect, kNearPlane, kFarPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);

    texture = buildBlendTexture(colourImageName, alphaImageName);
}

void App::reshape(int32_t width, int32_t height) {
    glViewport(0, 0, width, height);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // A window collapsed to zero height or width shows nothing; count the zero side
    // as one pixel so the projection stays finite.
    const double aspect = static_cast<double>(width > 0 ? width : 1) / (height > 0 ? height : 1);
    gluPerspective(kFieldOfView, aspect, kNearPlane, kFarPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    draw();
}

void App::draw() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    glTranslatef(0, 0, -1);
    glRotatef(static_cast<float>(elapsedMilliseconds() * 0.01), 1, 0, 0);
    glRotatef(static_cast<float>(elapsedMilliseconds() * 0.05), 0, 1, 0);
    glColor4f(1, 1, 1, 1);

    glPushMatrix();
    glRotatef(90, 0, 1, 0);
    drawQuad();

    glPushMatrix();
    glRotatef(90, 1, 0, 0);
    drawQuad();

    glPushMatrix();
    glRotatef(90, 0, 0, 1);
    drawQuad();

    glPopMatrix();
    glutSwapBuffers();
}
