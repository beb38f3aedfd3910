// The program's window under X11, asked about through freeglut's own connection: GLUT's GL
// context is current on the window for the life of the program.
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "app/window_system.h"

namespace {

// The client message that EWMH window managers take as a request to change _NET_WM_STATE.
constexpr long kStateRemove = 0;
constexpr long kStateAdd = 1;
constexpr long kSourceApplication = 1;

struct ProgramWindow {
    Display* display;
    Window window;
};

ProgramWindow programWindow() {
    return {glXGetCurrentDisplay(), glXGetCurrentDrawable()};
}

Atom atom(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

// The 32-bit items of a property of `type`; empty where the window lacks it.
std::vector<unsigned long> longProperty(Display* display, Window window, const char* name,
                                        Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;
    if (XGetWindowProperty(display, window, atom(display, name), 0, 64, False, type, &actualType,
                           &format, &count, &remaining, &data) == Success &&
        actualType == type && format == 32) {
        const unsigned long* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    }
    if (data != nullptr) XFree(data);
    return items;
}

bool listsAtom(Display* display, Window window, const char* property, const char* name) {
    const Atom wanted = atom(display, name);
    for (unsigned long item : longProperty(display, window, property, XA_ATOM)) {
        if (item == wanted) return true;
    }
    return false;
}

// freeglut asks the window manager for full screen where one announces that it supports it
// (a live _NET_SUPPORTING_WM_CHECK window and _NET_WM_STATE_FULLSCREEN among what it
// supports), and otherwise resizes the window itself; then nothing but freeglut changes the
// state. It decides once, at start-up, and so does this.
bool windowManagerSwitchesFullScreen(Display* display) {
    static const bool switches = [display] {
        const Window root = DefaultRootWindow(display);
        const auto check = longProperty(display, root, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
        if (check.size() != 1) return false;
        const auto self = longProperty(display, check[0], "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
        return self.size() == 1 && self[0] == check[0] &&
               listsAtom(display, root, "_NET_SUPPORTED", "_NET_WM_STATE_FULLSCREEN");
    }();
    return switches;
}

// The window's top-level ancestor: the window manager's frame, or the window itself.
Window topLevel(Display* display, Window window) {
    for (;;) {
        Window root = None, parent = None;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count)) return window;
        if (children != nullptr) XFree(children);
        if (parent == root || parent == None) return window;
        window = parent;
    }
}

using window_system::Rect;

// RandR 1.5 lists monitors, among them those that `xrandr --setmonitor` makes.
std::vector<Rect> randrMonitors(Display* display) {
    static const bool listsMonitors = [display] {
        int event = 0, error = 0, major = 0, minor = 0;
        return XRRQueryExtension(display, &event, &error) &&
               XRRQueryVersion(display, &major, &minor) && (major > 1 || minor >= 5);
    }();
    std::vector<Rect> monitors;
    if (!listsMonitors) return monitors;
    int count = 0;
    XRRMonitorInfo* info = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    if (info == nullptr) return monitors;
    for (int i = 0; i < count; ++i) {
        monitors.push_back({info[i].x, info[i].y, info[i].width, info[i].height});
    }
    XRRFreeMonitors(info);
    return monitors;
}

std::vector<Rect> xineramaScreens(Display* display) {
    std::vector<Rect> screens;
    int event = 0, error = 0, count = 0;
    if (!XineramaQueryExtension(display, &event, &error) || !XineramaIsActive(display)) {
        return screens;
    }
    XineramaScreenInfo* info = XineramaQueryScreens(display, &count);
    if (info == nullptr) return screens;
    for (int i = 0; i < count; ++i) {
        screens.push_back({info[i].x_org, info[i].y_org, info[i].width, info[i].height});
    }
    XFree(info);
    return screens;
}

// The monitors from RandR, else from Xinerama, else the whole screen as one.
std::vector<Rect> monitors(Display* display) {
    std::vector<Rect> found = randrMonitors(display);
    if (found.empty()) found = xineramaScreens(display);
    if (found.empty()) {
        const int screen = DefaultScreen(display);
        found.push_back({0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)});
    }
    return found;
}

// How far a point lies outside a span: 0 inside it.
int64_t outside(int64_t point, int64_t start, int64_t length) {
    if (point < start) return start - point;
    if (point >= start + length) return point - (start + length - 1);
    return 0;
}

window_system::Offset rootPosition(Display* display, Window window) {
    int x = 0, y = 0;
    Window child = None;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return {x, y};
}

}  // namespace

namespace window_system {

bool showsFullScreen() {
    const ProgramWindow program = programWindow();
    if (!windowManagerSwitchesFullScreen(program.display)) return glutGet(GLUT_FULL_SCREEN) != 0;
    return listsAtom(program.display, program.window, "_NET_WM_STATE", "_NET_WM_STATE_FULLSCREEN");
}

void requestFullScreen(bool on) {
    const ProgramWindow program = programWindow();
    if (!windowManagerSwitchesFullScreen(program.display)) {
        if (on) {
            glutFullScreen();
        } else {
            glutLeaveFullScreen();
        }
        return;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = program.window;
    event.xclient.message_type = atom(program.display, "_NET_WM_STATE");
    event.xclient.format = 32;
    event.xclient.data.l[0] = on ? kStateAdd : kStateRemove;
    event.xclient.data.l[1] = static_cast<long>(atom(program.display, "_NET_WM_STATE_FULLSCREEN"));
    event.xclient.data.l[3] = kSourceApplication;
    XSendEvent(program.display, DefaultRootWindow(program.display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(program.display);
}

bool restoresWindow() {
    return windowManagerSwitchesFullScreen(programWindow().display);
}

// The frame's left and top, from _NET_FRAME_EXTENTS where the window manager sets it, else
// from the frame window itself (twm sets nothing). Without a window manager there is none.
Offset expectedMoveOffset() {
    const ProgramWindow program = programWindow();
    const auto extents =
        longProperty(program.display, program.window, "_NET_FRAME_EXTENTS", XA_CARDINAL);
    if (extents.size() == 4) {
        return {static_cast<int32_t>(extents[0]), static_cast<int32_t>(extents[2])};
    }
    const Offset client = rootPosition(program.display, program.window);
    const Offset frame = rootPosition(program.display, topLevel(program.display, program.window));
    return {client.x - frame.x, client.y - frame.y};
}

// The distance from the centre to each monitor, squared; inside one it is 0, and the first
// such monitor wins.
Rect monitorOf(const Rect& area) {
    const int64_t centreX = area.x + int64_t{area.width} / 2;
    const int64_t centreY = area.y + int64_t{area.height} / 2;
    const std::vector<Rect> found = monitors(programWindow().display);
    Rect nearest = found.front();
    int64_t nearestDistance = std::numeric_limits<int64_t>::max();
    for (const Rect& monitor : found) {
        const int64_t dx = outside(centreX, monitor.x, monitor.width);
        const int64_t dy = outside(centreY, monitor.y, monitor.height);
        if (dx * dx + dy * dy < nearestDistance) {
            nearest = monitor;
            nearestDistance = dx * dx + dy * dy;
        }
    }
    return nearest;
}

// A configure request places the frame, or the window itself where there is none: it goes
// where the monitor is, less what the client area is off the frame. glutPositionWindow would
// leave full screen first.
void coverMonitor(const Rect& monitor) {
    const ProgramWindow program = programWindow();
    const Offset client = rootPosition(program.display, program.window);
    const Offset frame = rootPosition(program.display, topLevel(program.display, program.window));
    XMoveResizeWindow(program.display, program.window, monitor.x - (client.x - frame.x),
                      monitor.y - (client.y - frame.y), static_cast<unsigned>(monitor.width),
                      static_cast<unsigned>(monitor.height));
    XFlush(program.display);
}

}  // namespace window_system
