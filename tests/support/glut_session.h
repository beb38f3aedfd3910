#pragma once

// A private X server with GLUT started on it, for tests that drive real GL in their own
// process. One per test program: GLUT can be started only once.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include <memory>
#include <string>

#include "tests/support/x_session.h"

class GlutSession {
public:
    // Fails the calling test fatally when there is no server to start GLUT on.
    void start(const char* programName) {
        server_ = std::make_unique<XSession>();
        ASSERT_TRUE(server_->ok()) << server_->error();
        // glutInit ends the process when it cannot connect; fail here with a reason instead.
        Display* probe = XOpenDisplay(server_->display().c_str());
        ASSERT_NE(probe, nullptr) << "cannot connect to the X server " << server_->display();
        XCloseDisplay(probe);
        // glutInit may keep pointers into its arguments for the life of the process.
        static std::string name;
        name = programName;
        static char* arguments[] = {name.data(), nullptr};
        int argumentCount = 1;
        glutInit(&argumentCount, arguments);
        glutStarted_ = true;
    }

    void stop() {
        // freeglut must let go of the display before the server goes, or Xlib ends the process.
        if (glutStarted_) glutExit();
        glutStarted_ = false;
        server_.reset();
    }

private:
    std::unique_ptr<XSession> server_;
    bool glutStarted_ = false;
};
