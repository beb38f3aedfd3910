// The program's window under X11, asked about through freeglut's own connection: GLUT's GL
// context is current on the window for the life of the program.
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

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

// A move request places the frame, or the window itself where there is none: it goes where
// the frame is, less what the client area is off the origin. glutPositionWindow would leave
// full screen first.
void moveFullScreenToOrigin() {
    const ProgramWindow program = programWindow();
    const Offset client = rootPosition(program.display, program.window);
    const Offset frame = rootPosition(program.display, topLevel(program.display, program.window));
    XMoveWindow(program.display, program.window, frame.x - client.x, frame.y - client.y);
    XFlush(program.display);
}

}  // namespace window_system
