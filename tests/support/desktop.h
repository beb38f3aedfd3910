#pragma once

// One X server with a window manager (openbox unless chosen), and a client connection of the test's
// own, for a whole end-to-end test program: starting them is the slow part. Register
// `DesktopEnvironment` in main; tests then reach both through `desktop::session` and
// `desktop::connection`.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/support/x_session.h"
#include "tests/support/x_window.h"

namespace desktop {

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr WindowRect kFullScreen{0, 0, kScreenWidth, kScreenHeight};

// Where the program asks for its window; the client area, inside the window manager's frame.
constexpr int kWindowX = 100;
constexpr int kWindowY = 100;
constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 480;

// A window shape in which the motion is visible: a wide strip shows the grey background past
// the squares' edges, so even the untextured white squares show the turning.
constexpr int kStripX = 20;
constexpr int kStripY = 300;
constexpr int kStripWidth = 960;
constexpr int kStripHeight = 96;

// The window manager of this run (XSession::Options), "" for none.
inline std::string windowManager = "openbox";
// Two monitors side by side, each of the size above; kFullScreen is the left one.
inline bool twoMonitors = false;
inline std::unique_ptr<XSession> session;
inline std::unique_ptr<XConnection> connection;

// Fails the calling test fatally unless the desktop is up and takes input from the test.
inline void expectReady() {
    ASSERT_TRUE(session != nullptr && session->ok()) << (session ? session->error() : "");
    ASSERT_TRUE(connection != nullptr && connection->ok()) << "cannot connect to Xvfb";
    ASSERT_TRUE(connection->canFakeInput()) << "Xvfb lacks the XTEST extension";
}

// Takes a --window-manager=NAME option out of the command line, for the programs that run
// under several ("none" for no window manager), and --two-monitors.
inline void readWindowManagerOption(int& argc, char** argv) {
    constexpr const char* kOption = "--window-manager=";
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], kOption, std::strlen(kOption)) == 0) {
            windowManager = argv[i] + std::strlen(kOption);
            if (windowManager == "none") windowManager.clear();
        } else if (std::strcmp(argv[i], "--two-monitors") == 0) {
            twoMonitors = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
}

}  // namespace desktop

class DesktopEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const int monitors = desktop::twoMonitors ? 2 : 1;
        desktop::session = std::make_unique<XSession>(
            XSession::Options{desktop::kScreenWidth * monitors, desktop::kScreenHeight,
                              desktop::windowManager, desktop::twoMonitors});
        if (desktop::session->ok()) {
            desktop::connection = std::make_unique<XConnection>(desktop::session->display());
        }
    }
    void TearDown() override {
        desktop::connection.reset();
        desktop::session.reset();
    }
};
