#include "app/app.h"

#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>
#include <new>

App* theApp = nullptr;
float timerInterval = 5.0f;

namespace {

constexpr int32_t kEscapeKey = 27;

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
    // The screen-mode watch makes the switch (app/screen_mode.h).
    fullScreen = !fullScreen;
}
