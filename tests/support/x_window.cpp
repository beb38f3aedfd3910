#include "tests/support/x_window.h"

#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <string>

#include "tests/support/wait_until.h"

namespace {

using Clock = std::chrono::steady_clock;

void flush(Display* display) {
    XSync(display, False);
}

// A window can go between finding it and asking about it (the program under test exits);
// the reply then says so, and Xlib's default handler would end the test program instead.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

// The 32-bit items of a property, or nothing where the window lacks it.
std::vector<long> longProperty(Display* display, Window window, const char* name) {
    const Atom property = XInternAtom(display, name, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::vector<long> items;
    if (XGetWindowProperty(display, window, property, 0, 64, False, AnyPropertyType, &type, &format,
                           &count, &remaining, &data) == Success &&
        format == 32) {
        const long* values = reinterpret_cast<const long*>(data);
        items.assign(values, values + count);
    }
    if (data != nullptr) XFree(data);
    return items;
}

bool isViewable(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

// The window's top-level ancestor: the window manager's frame, or the window itself.
Window topLevel(Display* display, Window window) {
    const Window root = DefaultRootWindow(display);
    for (Window parent; (parent = parentOf(display, window)) != root && parent != None;) {
        window = parent;
    }
    return window;
}

std::optional<FrameExtents> announcedFrameExtents(Display* display, Window window) {
    const std::vector<long> extents = longProperty(display, window, "_NET_FRAME_EXTENTS");
    if (extents.size() != 4) return std::nullopt;
    return FrameExtents{static_cast<int>(extents[0]), static_cast<int>(extents[1]),
                        static_cast<int>(extents[2]), static_cast<int>(extents[3])};
}

// freeglut sets no _NET_WM_PID where no window manager announces EWMH support; the server
// itself then tells which process made the window (X-Resource).
pid_t creatorOf(Display* display, Window window) {
    XResClientIdSpec spec{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    pid_t creator = -1;
    if (XResQueryClientIds(display, 1, &spec, &count, &values) == Success) {
        for (long i = 0; i < count; ++i) {
            const pid_t pid = XResGetClientPid(&values[i]);
            if (pid > 0) creator = pid;
        }
        XResClientIdsDestroy(count, values);
    }
    return creator;
}

bool belongsTo(Display* display, Window window, pid_t pid) {
    const std::vector<long> owner = longProperty(display, window, "_NET_WM_PID");
    if (!owner.empty()) return owner.size() == 1 && owner[0] == pid;
    return !longProperty(display, window, "WM_NORMAL_HINTS").empty() &&
           creatorOf(display, window) == pid;
}

// Whether the window manager lists `name` among what it supports (i3 sets no frame extents).
bool rootSupports(Display* display, const char* name) {
    const long wanted = static_cast<long>(XInternAtom(display, name, False));
    const std::vector<long> supported =
        longProperty(display, DefaultRootWindow(display), "_NET_SUPPORTED");
    return std::find(supported.begin(), supported.end(), wanted) != supported.end();
}

// Taken in: framed, with WM_STATE and, where the window manager announces itself, the frame
// extents set; or at the top with no window manager to frame it.
bool isManagedWindowOf(Display* display, Window window, pid_t pid) {
    if (!isViewable(display, window) || !belongsTo(display, window, pid)) return false;
    if (parentOf(display, window) == DefaultRootWindow(display)) return true;
    return !longProperty(display, window, "WM_STATE").empty() &&
           (announcedFrameExtents(display, window).has_value() ||
            !rootSupports(display, "_NET_FRAME_EXTENTS"));
}

void sendToRoot(Display* display, Window window, const char* type, long first, long second) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = first;
    event.xclient.data.l[1] = second;
    event.xclient.data.l[3] = 1;  // from an ordinary application
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

// The window manager reparents clients into frames, so the client is not a child of root.
Window findManagedWindow(Display* display, Window parent, pid_t pid) {
    Window root = None, grandparent = None;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, parent, &root, &grandparent, &children, &count) == 0) return None;
    Window found = None;
    for (unsigned i = 0; i < count && found == None; ++i) {
        found = isManagedWindowOf(display, children[i], pid)
                    ? children[i]
                    : findManagedWindow(display, children[i], pid);
    }
    if (children != nullptr) XFree(children);
    return found;
}

}  // namespace

Window parentOf(Display* display, Window window) {
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return None;
    if (children != nullptr) XFree(children);
    return parent;
}

XConnection::XConnection(const std::string& displayName) {
    XSetErrorHandler(ignoreXError);
    display_ = XOpenDisplay(displayName.c_str());
    if (display_ == nullptr) return;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    canFakeInput_ = XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor) != 0;
}

XConnection::~XConnection() {
    if (display_ != nullptr) XCloseDisplay(display_);
}

std::ostream& operator<<(std::ostream& out, const WindowRect& rect) {
    return out << rect.width << "x" << rect.height << "+" << rect.x << "+" << rect.y;
}

Window waitForManagedWindow(Display* display, pid_t pid, std::chrono::milliseconds timeout) {
    Window window = None;
    waitUntil(timeout, [&] {
        window = findManagedWindow(display, DefaultRootWindow(display), pid);
        return window != None;
    });
    return window;
}

WindowRect clientGeometry(Display* display, Window window) {
    XWindowAttributes attributes;
    int x = 0, y = 0;
    Window child = None;
    if (XGetWindowAttributes(display, window, &attributes) == 0 ||
        !XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child)) {
        return {};
    }
    return {x, y, attributes.width, attributes.height};
}

WindowRect waitForGeometry(Display* display, Window window, const WindowRect& expected,
                           std::chrono::milliseconds timeout, std::chrono::milliseconds settle) {
    WindowRect seen;
    std::optional<Clock::time_point> matchingSince;
    waitUntil(timeout, [&] {
        seen = clientGeometry(display, window);
        const auto now = Clock::now();
        if (seen != expected)
            matchingSince.reset();
        else if (!matchingSince)
            matchingSince = now;
        return matchingSince && now - *matchingSince >= settle;
    });
    return seen;
}

WindowRect waitForSettledGeometry(Display* display, Window window,
                                  std::chrono::milliseconds timeout,
                                  std::chrono::milliseconds settle) {
    WindowRect last = clientGeometry(display, window);
    auto stableSince = Clock::now();
    waitUntil(timeout, [&] {
        const WindowRect seen = clientGeometry(display, window);
        const auto now = Clock::now();
        if (seen != last) {
            last = seen;
            stableSince = now;
        }
        return now - stableSince >= settle;
    });
    return last;
}

std::optional<FrameExtents> frameExtents(Display* display, Window window) {
    if (const auto announced = announcedFrameExtents(display, window)) return announced;
    const WindowRect client = clientGeometry(display, window);
    const Window top = topLevel(display, window);
    const WindowRect inner = clientGeometry(display, top);
    XWindowAttributes attributes;
    if (client.width == 0 || inner.width == 0 || !XGetWindowAttributes(display, top, &attributes)) {
        return std::nullopt;
    }
    // A move places the frame's outer corner, outside its border.
    const int border = attributes.border_width;
    const WindowRect frame{inner.x - border, inner.y - border, inner.width + 2 * border,
                           inner.height + 2 * border};
    const int left = client.x - frame.x, above = client.y - frame.y;
    return FrameExtents{left, frame.width - client.width - left, above,
                        frame.height - client.height - above};
}

bool windowManagerAnnounced(Display* display) {
    const std::vector<long> check =
        longProperty(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK");
    XWindowAttributes attributes;
    return check.size() == 1 && check[0] != None &&
           XGetWindowAttributes(display, static_cast<Window>(check[0]), &attributes) != 0;
}

void toggleFullScreenFromOutside(Display* display, Window window) {
    constexpr long kToggle = 2;
    sendToRoot(display, window, "_NET_WM_STATE", kToggle,
               static_cast<long>(XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False)));
    flush(display);
}

void closeFromOutside(Display* display, Window window) {
    if (windowManagerAnnounced(display) && rootSupports(display, "_NET_CLOSE_WINDOW")) {
        sendToRoot(display, window, "_NET_CLOSE_WINDOW", CurrentTime, 1);
    } else {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
    }
    flush(display);
}

std::optional<std::string> textProperty(Display* display, Window window, const char* name) {
    const Atom property = XInternAtom(display, name, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::optional<std::string> text;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, AnyPropertyType, &type,
                           &format, &count, &remaining, &data) == Success &&
        type != None && format == 8) {
        text = std::string(reinterpret_cast<const char*>(data), count);
    }
    if (data != nullptr) XFree(data);
    return text;
}

bool focusWindow(Display* display, Window window, std::chrono::milliseconds timeout) {
    return waitUntil(timeout, [&] {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        flush(display);
        Window focused = None;
        int revertTo = 0;
        XGetInputFocus(display, &focused, &revertTo);
        return focused == window;
    });
}

std::vector<Window> waitForWindowsTitled(Display* display, const std::string& title,
                                         std::chrono::milliseconds timeout) {
    std::vector<Window> found;
    waitUntil(timeout, [&] { return !(found = viewableWindowsTitled(display, title)).empty(); });
    return found;
}

bool dismissDialog(Display* display, Window dialog, std::chrono::milliseconds timeout) {
    const auto gone = [&] { return !isViewable(display, dialog); };
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (focusWindow(display, dialog, timeout)) pressKey(display, XK_Return);
        if (waitUntil(timeout, gone, std::chrono::milliseconds(10))) return true;
    }
    return false;
}

Picture grabPicture(Display* display, Window window) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0 ||
        attributes.map_state != IsViewable) {
        return {};
    }
    XImage* image =
        XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (image == nullptr) return {};
    Picture picture;
    // Only the 8-8-8 true-colour layout of the test server is read; anything else is
    // reported as unreadable rather than misread.
    if (image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 && image->blue_mask == 0xFF) {
        picture.width = image->width;
        picture.height = image->height;
        picture.pixels.reserve(static_cast<size_t>(image->width) * image->height);
        for (int y = 0; y < image->height; ++y) {
            for (int x = 0; x < image->width; ++x) {
                picture.pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
            }
        }
    }
    XDestroyImage(image);
    return picture;
}

Picture waitForNewPicture(Display* display, Window window, const Picture& before,
                          std::chrono::milliseconds timeout) {
    Picture now;
    const bool changed = waitUntil(timeout, [&] {
        now = grabPicture(display, window);
        return !now.empty() && now != before;
    });
    return changed ? now : Picture{};
}

void moveResizeWindow(Display* display, Window window, int x, int y, int width, int height) {
    XMoveResizeWindow(display, window, x, y, width, height);
    flush(display);
}

void pressKey(Display* display, KeySym key) {
    const KeyCode code = XKeysymToKeycode(display, key);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    flush(display);
}

void movePointer(Display* display, int rootX, int rootY) {
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    flush(display);
}

void pressButton(Display* display, unsigned button) {
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    flush(display);
}

void releaseButton(Display* display, unsigned button) {
    XTestFakeButtonEvent(display, button, False, CurrentTime);
    flush(display);
}

namespace {

void collectWindowsTitled(Display* display, Window parent, const std::string& title,
                          std::vector<Window>& found) {
    if (textProperty(display, parent, "WM_NAME").value_or("") == title &&
        isViewable(display, parent)) {
        found.push_back(parent);
    }
    Window root = None, grandparent = None, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, parent, &root, &grandparent, &children, &count) == 0) return;
    for (unsigned i = 0; i < count; ++i) collectWindowsTitled(display, children[i], title, found);
    if (children != nullptr) XFree(children);
}

}  // namespace

std::vector<Window> viewableWindowsTitled(Display* display, const std::string& title) {
    std::vector<Window> found;
    collectWindowsTitled(display, DefaultRootWindow(display), title, found);
    return found;
}

bool showsClearGrey(const Picture& picture) {
    return std::any_of(picture.pixels.begin(), picture.pixels.end(), [](uint32_t pixel) {
        const int red = (pixel >> 16) & 0xFF, green = (pixel >> 8) & 0xFF, blue = pixel & 0xFF;
        return red == green && green == blue && (red == 127 || red == 128);
    });
}
