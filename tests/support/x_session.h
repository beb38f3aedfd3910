#pragma once

#include <memory>
#include <string>

class ChildProcess;

// A private X server (Xvfb) for one test program, optionally with the openbox window manager,
// for the life of the object. While it runs, DISPLAY names it.
class XSession {
public:
    struct Options {
        int width = 1024;
        int height = 768;
        bool windowManager = false;
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
    bool startWindowManager();

    pid_t serverPid_ = -1;
    std::unique_ptr<ChildProcess> windowManager_;
    std::string configPath_;
    std::string display_;
    std::string error_;
};
