#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_directory.h"

class ChildProcess;

// A private X server (Xvfb) for one test program, optionally with a window manager, for the
// life of the object. While it runs, DISPLAY names it.
class XSession {
public:
    struct Options {
        int width = 1024;
        int height = 768;
        // openbox, xfwm4, metacity, mutter, kwin_x11, fluxbox, icewm, i3 (every window
        // floating), twm, or "" for none.
        std::string windowManager;
        // The screen split into a left and a right half, each a monitor of its own.
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

private:
    bool startServer(const Options& options);
    bool splitIntoTwoMonitors(const Options& options);
    bool startWindowManager(const std::string& name);
    std::vector<std::string> windowManagerCommand(const std::string& name);

    pid_t serverPid_ = -1;
    std::unique_ptr<ChildProcess> windowManager_;
    // The window manager's home: its configuration, and whatever it writes at its first start.
    std::optional<TempDirectory> home_;
    std::string display_;
    std::string error_;
};
