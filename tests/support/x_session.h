#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_directory.h"

class ChildProcess;

// A private X server for one test program, for the life of the object: Xvfb, optionally with a
// window manager, or the XWayland of a Wayland compositor in its headless mode, which is then
// the window manager. While it runs, DISPLAY (and XAUTHORITY, where the server asks for it)
// name it.
class XSession {
public:
    struct Options {
        int width = 1024;
        int height = 768;
        // openbox, xfwm4, metacity, mutter, kwin_x11, fluxbox, icewm, i3 (every window
        // floating), twm, or "" for none; or a compositor: mutter-wayland, kwin-wayland, sway
        // (tiling), sway-floating.
        std::string windowManager;
        // The screen split into a left and a right half, each a monitor of its own (a
        // compositor's output).
        bool twoMonitors = false;
    };

    explicit XSession(const Options& options);
    XSession() : XSession(Options{}) {}
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& display() const { return display_; }

    // Whether the window manager places windows itself, whatever place they ask for, and
    // carries out no client's request to move one (sway).
    bool placesWindowsItself() const { return windowManagerName_.rfind("sway", 0) == 0; }

    // Whether windows are tiled, so that the layout alone decides where they lie (sway).
    bool tiles() const { return windowManagerName_ == "sway"; }

    // Moves the window by (dx, dy) as its user would: by the compositor's own command where it
    // carries out no client's request to move (sway: a drag), else by a configure request. A
    // tiling layout moves it only onto the next output, the way dx points.
    void moveAsTheUser(Display* display, Window window, int dx, int dy);

private:
    bool startServer(const Options& options);
    bool splitIntoTwoMonitors(const Options& options);
    bool startWindowManager(const std::string& name);
    bool startCompositor(const Options& options);
    bool waitForWindowManager(const std::string& name, bool announces);
    std::vector<std::string> windowManagerCommand(const std::string& name);

    pid_t serverPid_ = -1;
    // The window manager, or the compositor's recipe (tests/support/compositors) in a process
    // group of its own.
    std::unique_ptr<ChildProcess> windowManager_;
    std::string windowManagerName_;
    // The window manager's home: its configuration, and whatever it writes at its first start.
    std::optional<TempDirectory> home_;
    std::string display_;
    std::string error_;
};
