#include "tests/support/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/child_process.h"

namespace {

// No key or mouse bindings of its own, so every event reaches the program under test.
constexpr const char* kOpenboxConfig =
    "<?xml version=\"1.0\"?>\n"
    "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">\n"
    "  <focus><focusNew>yes</focusNew></focus>\n"
    "  <keyboard></keyboard>\n"
    "  <mouse></mouse>\n"
    "</openbox_config>\n";

bool windowManagerIsRunning(Display* display) {
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                          XA_WINDOW, &type, &format, &count, &remaining, &data);
    if (data != nullptr) XFree(data);
    return status == Success && count == 1;
}

}  // namespace

XSession::XSession(const Options& options) {
    if (startServer(options) && options.windowManager) startWindowManager();
}

XSession::~XSession() {
    windowManager_.reset();
    if (serverPid_ > 0) {
        kill(serverPid_, SIGTERM);
        waitpid(serverPid_, nullptr, 0);
    }
    if (!configPath_.empty()) unlink(configPath_.c_str());
}

bool XSession::startServer(const Options& options) {
    int ready[2];
    if (pipe(ready) != 0) {
        error_ = "pipe failed";
        return false;
    }
    const std::string screen =
        std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
    const std::string fd = std::to_string(ready[1]);
    serverPid_ = fork();
    if (serverPid_ == 0) {
        // A test that aborts (a sanitizer report) never runs the destructor; the server must
        // not outlive it, or it holds ctest's output pipe open until the time limit.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(ready[0]);
        freopen("/dev/null", "w", stderr);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    // Xvfb writes its display number, then a newline, once it accepts clients; the pipe must
    // stay open until the newline, or Xvfb fails with "Cannot write display number".
    pollfd waitFor{ready[0], POLLIN, 0};
    std::string number;
    char c = 0;
    while (serverPid_ > 0 && number.size() < 16 && poll(&waitFor, 1, 20000) == 1 &&
           read(ready[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(ready[0]);
    if (c != '\n' || number.empty()) {
        error_ = "Xvfb did not start (is the xvfb package installed?)";
        return false;
    }
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
    return true;
}

Window parentOf(Display* display, Window window) {
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return None;
    if (children != nullptr) XFree(children);
    return parent;
}

// openbox announces itself a moment before it takes windows in, and a window mapped in
// between is never mapped at all (freeglut then waits for it for good). A probe window, mapped
// again until openbox puts it in a frame, shows that it has got that far.
bool windowManagerTakesWindows(Display* display, std::chrono::steady_clock::time_point deadline) {
    const Window root = DefaultRootWindow(display);
    const Window probe = XCreateSimpleWindow(display, root, 0, 0, 16, 16, 0, 0, 0);
    bool framed = false;
    while (!framed && std::chrono::steady_clock::now() < deadline) {
        XUnmapWindow(display, probe);
        XMapWindow(display, probe);
        XSync(display, False);
        for (int poll = 0; poll < 10 && !framed; ++poll) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            framed = parentOf(display, probe) != root;
        }
    }
    XDestroyWindow(display, probe);
    XSync(display, False);
    return framed;
}

bool XSession::startWindowManager() {
    char pathTemplate[] = "/tmp/openbox-rc-XXXXXX";
    const int fd = mkstemp(pathTemplate);
    if (fd < 0) {
        error_ = "cannot write the openbox configuration";
        return false;
    }
    close(fd);
    configPath_ = pathTemplate;
    std::ofstream(configPath_) << kOpenboxConfig;

    windowManager_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"openbox", "--sm-disable", "--config-file", configPath_});
    Display* display = XOpenDisplay(display_.c_str());
    if (display == nullptr) {
        error_ = "cannot connect to " + display_;
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool running = false;
    while (!(running = windowManagerIsRunning(display)) &&
           std::chrono::steady_clock::now() < deadline && windowManager_->running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool takesWindows = running && windowManagerTakesWindows(display, deadline);
    XCloseDisplay(display);
    if (!running)
        error_ = "openbox did not start (is the openbox package installed?)";
    else if (!takesWindows)
        error_ = "openbox started but takes no windows in";
    return takesWindows;
}
