#pragma once

#include <cstdint>

// The one application object. It is created with `new` and lives until the process ends,
// so it has no constructor or destructor work: `App::init` sets what must be set.
class App {
public:
    void init();
    void draw();
    void reshape(int32_t width, int32_t height);
    void tick();
    void onKey(int32_t key, int32_t x, int32_t y);
    void onSpecialKey(int32_t key, int32_t x, int32_t y);

    bool fullScreen;
    int32_t savedX;
    int32_t savedY;
    int32_t savedWidth;
    int32_t savedHeight;
    uint32_t texture;
};

// GLUT callbacks carry no user pointer, so they reach the application through this.
extern App* theApp;

// Timer period in milliseconds; truncated to an integer whenever it is handed to GLUT.
extern float timerInterval;

void createApp();
