#include "tests/support/x_session.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "tests/support/child_process.h"
#include "tests/support/wait_until.h"
#include "tests/support/x_window.h"

namespace {

// No key or mouse bindings of its own, so every event reaches the program under test.
constexpr const char* kOpenboxConfig =
    "<?xml version=\"1.0\"?>\n"
    "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">\n"
    "  <focus><focusNew>yes</focusNew></focus>\n"
    "  <keyboard></keyboard>\n"
    "  <mouse></mouse>\n"
    "</openbox_config>\n";

// Floating, as on a desktop; without the stock configuration's first-start wizard, which grabs
// the keyboard.
constexpr const char* kI3Config =
    "# i3 config file (v4)\n"
    "font pango:monospace 8\n"
    "for_window [class=\".*\"] floating enable\n";

// KDE's own decoration with its borders on every side: without a decoration kwin draws no
// frame, and a frame with no left border would hide a restore that forgets the border.
constexpr const char* kKwinConfig =
    "[org.kde.kdecoration2]\n"
    "library=org.kde.breeze\n"
    "theme=Breeze\n"
    "BorderSize=Normal\n"
    "BorderSizeAuto=false\n";

bool accessRefused = false;

int noteAccessRefused(Display*, XErrorEvent* error) {
    if (error->error_code == BadAccess) accessRefused = true;
    return 0;
}

// Only one client may redirect the root's structure requests: the window manager, once it
// has taken over. Asked only after it has framed a window, so the question cannot take the
// place from a window manager still starting.
bool holdsRedirect(Display* display) {
    accessRefused = false;
    const auto previous = XSetErrorHandler(noteAccessRefused);
    XSelectInput(display, DefaultRootWindow(display), SubstructureRedirectMask);
    XSync(display, False);
    if (!accessRefused) XSelectInput(display, DefaultRootWindow(display), NoEventMask);
    XSync(display, False);
    XSetErrorHandler(previous);
    return accessRefused;
}

bool hasProperty(Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 0, False,
                       AnyPropertyType, &type, &format, &count, &remaining, &data);
    if (data != nullptr) XFree(data);
    return type != None;
}

bool isCompositor(const std::string& name) {
    return name == "mutter-wayland" || name == "kwin-wayland" || name == "sway" ||
           name == "sway-floating";
}

bool writeFile(const std::string& path, const char* text) {
    std::ofstream file(path);
    file << text;
    return static_cast<bool>(file);
}

}  // namespace

XSession::XSession(const Options& options) : windowManagerName_(options.windowManager) {
    if (isCompositor(options.windowManager)) {
        startCompositor(options);
    } else if (startServer(options) && (!options.twoMonitors || splitIntoTwoMonitors(options)) &&
               !options.windowManager.empty()) {
        startWindowManager(options.windowManager);
    }
}

// The server goes first: window managers end when it does, and the D-Bus session that some
// run in ends with them. A compositor's recipe ends its XWayland itself.
XSession::~XSession() {
    if (serverPid_ > 0) {
        kill(serverPid_, SIGTERM);
        waitpid(serverPid_, nullptr, 0);
    } else if (windowManager_) {
        kill(-windowManager_->pid(), SIGTERM);
    }
    if (windowManager_) {
        windowManager_->waitForExit(std::chrono::seconds(5));
        // Its group also holds what it started: a D-Bus session's daemon, and the services the
        // daemon started, outlive a window manager that had to be ended rather than exit.
        kill(-windowManager_->pid(), SIGTERM);
    }
    windowManager_.reset();
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

// As a user sets monitors by hand, before the window manager starts: RandR 1.5 monitors, which
// the server keeps only while it is not reset (Xvfb runs with -noreset).
bool XSession::splitIntoTwoMonitors(const Options& options) {
    const std::string half = std::to_string(options.width / 2);
    const std::string size = half + "/338x" + std::to_string(options.height) + "/270";
    const std::vector<std::vector<std::string>> commands{
        {"xrandr", "--setmonitor", "LEFT", size + "+0+0", "screen"},
        {"xrandr", "--setmonitor", "RIGHT", size + "+" + half + "+0", "none"}};
    for (const auto& command : commands) {
        ChildProcess xrandr(command);
        if (!xrandr.waitForExit(std::chrono::seconds(10)) || xrandr.exitCode() != 0) {
            error_ = "xrandr --setmonitor failed (is x11-xserver-utils installed?) " +
                     xrandr.errorOutput();
            return false;
        }
    }
    return true;
}

// A window manager announces itself a moment before it takes windows in, and a window mapped in
// between is never mapped at all (freeglut then waits for it for good). A probe window, mapped
// again until it is put in a frame or marked managed, shows that it has got that far.
bool windowManagerTakesWindows(Display* display, std::chrono::milliseconds timeout) {
    const Window root = DefaultRootWindow(display);
    const Window probe = XCreateSimpleWindow(display, root, 0, 0, 16, 16, 0, 0, 0);
    // A place of its own: stock twm has the user place a window without one, grabbing the
    // server until a click that never comes.
    XSizeHints hints{};
    hints.flags = USPosition;
    XSetWMNormalHints(display, probe, &hints);
    // sway's XWayland puts no frame around a window, but marks it managed.
    const auto framed = [&] {
        return parentOf(display, probe) != root || hasProperty(display, probe, "WM_STATE");
    };
    const bool taken = waitUntil(
        timeout,
        [&] {
            XUnmapWindow(display, probe);
            XMapWindow(display, probe);
            XSync(display, False);
            return waitUntil(std::chrono::milliseconds(200), framed);
        },
        std::chrono::milliseconds(0));
    XDestroyWindow(display, probe);
    XSync(display, False);
    return taken;
}

std::vector<std::string> XSession::windowManagerCommand(const std::string& name) {
    // Its own home, so that no user settings count and nothing is left behind, and none of the
    // machine's D-Bus: those that need a bus get one of their own below.
    const std::string& homePath = home_->path();
    std::vector<std::string> command{"setsid",
                                     "env",
                                     "-u",
                                     "DBUS_SESSION_BUS_ADDRESS",
                                     "HOME=" + homePath,
                                     "XDG_CONFIG_HOME=" + homePath};
    if (name == "mutter" || name == "kwin_x11") {
        // Their sockets and lock files, in a folder only this user may enter, as a login has.
        command.push_back("XDG_RUNTIME_DIR=" + homePath);
    }
    if (name == "kwin_x11") command.push_back("QT_QPA_PLATFORM=xcb");
    if (name == "xfwm4" || name == "metacity" || name == "mutter" || name == "kwin_x11") {
        command.push_back("dbus-run-session");
    }
    if (name == "openbox") {
        const std::string config = homePath + "/openbox-rc.xml";
        if (!writeFile(config, kOpenboxConfig)) return {};
        command.insert(command.end(), {"openbox", "--sm-disable", "--config-file", config});
    } else if (name == "i3") {
        const std::string config = homePath + "/i3-config";
        if (!writeFile(config, kI3Config)) return {};
        command.insert(command.end(), {"i3", "-c", config});
    } else if (name == "xfwm4") {
        command.insert(command.end(), {"xfwm4", "--compositor=off"});
    } else if (name == "kwin_x11") {
        if (!writeFile(homePath + "/kwinrc", kKwinConfig)) return {};
        command.push_back(name);
    } else if (name == "mutter") {
        command.insert(command.end(), {"mutter", "--x11"});
    } else {
        command.push_back(name);
    }
    return command;
}

bool XSession::startWindowManager(const std::string& name) {
    home_.emplace("window-manager-home");
    if (!home_->made()) {
        error_ = "cannot make a home for the window manager";
        return false;
    }
    const std::vector<std::string> command = windowManagerCommand(name);
    if (command.empty()) {
        error_ = "cannot write the configuration of " + name;
        return false;
    }
    windowManager_ = std::make_unique<ChildProcess>(command);
    return waitForWindowManager(name, name != "twm");
}

// Ready once it announces itself (twm announces nothing), has taken a window in and holds the
// root's redirect.
bool XSession::waitForWindowManager(const std::string& name, bool announces) {
    Display* display = XOpenDisplay(display_.c_str());
    if (display == nullptr) {
        error_ = "cannot connect to " + display_;
        return false;
    }
    constexpr auto kStartTimeout = std::chrono::seconds(30);
    bool announced = !announces;
    waitUntil(kStartTimeout, [&] {
        announced = announced || windowManagerAnnounced(display);
        return announced || !windowManager_->running();
    });
    const bool takesWindows = announced && windowManagerTakesWindows(display, kStartTimeout);
    const bool ready = takesWindows && holdsRedirect(display);
    XCloseDisplay(display);
    if (!announced)
        error_ = name + " did not start (is it installed?) " + windowManager_->errorOutput();
    else if (!takesWindows)
        error_ = name + " started but takes no windows in";
    else if (!ready)
        error_ = name + " frames windows but does not hold the root's redirect";
    return ready;
}

// The recipe starts the compositor with its XWayland and writes the variables that reach that
// server into `environment` in its folder, once root's clients can connect.
bool XSession::startCompositor(const Options& options) {
    home_.emplace("compositor");
    if (!home_->made()) {
        error_ = "cannot make a folder for the compositor";
        return false;
    }
    const int outputs = options.twoMonitors ? 2 : 1;
    const std::string& name = options.windowManager;
    std::vector<std::string> command{
        "setsid",
        COMPOSITOR_RECIPES "/" + name.substr(0, name.find('-')) + ".sh",
        std::to_string(options.width / outputs),
        std::to_string(options.height),
        std::to_string(outputs),
        home_->path()};
    if (name == "sway-floating") command.push_back("floating");
    windowManager_ = std::make_unique<ChildProcess>(command);
    constexpr auto kStartTimeout = std::chrono::seconds(60);
    std::ifstream report;
    waitUntil(kStartTimeout, [&] {
        report.open(home_->path("environment"));
        return report.is_open() || !windowManager_->running();
    });
    if (!report.is_open()) {
        error_ = name +
                 (windowManager_->running() ? " did not start within a minute: "
                                            : " ended while starting: ") +
                 windowManager_->errorOutput();
        return false;
    }
    unsetenv("XAUTHORITY");
    unsetenv("DISPLAY");
    for (std::string line; std::getline(report, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            setenv(line.substr(0, equals).c_str(), line.substr(equals + 1).c_str(), 1);
        }
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr) {
        error_ = name + " reported no DISPLAY";
        return false;
    }
    display_ = display;
    return waitForWindowManager(name, true);
}

// sway carries out no requests to move a window, and a request to size one centres it.
void XSession::moveAsTheUser(Display* display, Window window, int dx, int dy) {
    if (!placesWindowsItself()) {
        const WindowRect client = clientGeometry(display, window);
        const FrameExtents frame = frameExtents(display, window).value_or(FrameExtents{});
        XMoveWindow(display, window, client.x - frame.left + dx, client.y - frame.top + dy);
        XSync(display, False);
        return;
    }
    // A user drags the window to move it, so it has the focus after, as sway gives it.
    const std::string criteria = "[id=" + std::to_string(window) + "] ";
    const std::string move =
        tiles()
            ? std::string("move container to output ") + (dx < 0 ? "left" : "right")
            : std::string("move ") + (dx < 0 ? "left " : "right ") + std::to_string(std::abs(dx)) +
                  " px, move " + (dy < 0 ? "up " : "down ") + std::to_string(std::abs(dy)) + " px";
    const std::string command = criteria + move + ", focus";
    ChildProcess swaymsg({"swaymsg", command});
    swaymsg.waitForExit(std::chrono::seconds(10));
}
