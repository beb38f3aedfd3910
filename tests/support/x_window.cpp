#include "tests/support/x_window.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

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

bool isManagedWindowOf(Display* display, Window window, pid_t pid) {
    const std::vector<long> owner = longProperty(display, window, "_NET_WM_PID");
    return owner.size() == 1 && owner[0] == pid && isViewable(display, window) &&
           !longProperty(display, window, "WM_STATE").empty() &&
           frameExtents(display, window).has_value();
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

void flush(Display* display) {
    XSync(display, False);
}

}  // namespace

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
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const Window window = findManagedWindow(display, DefaultRootWindow(display), pid);
        if (window != None || Clock::now() >= deadline) return window;
        std::this_thread::sleep_for(kPollInterval);
    }
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
    const auto deadline = Clock::now() + timeout;
    auto matchingSince = Clock::now();
    bool matching = false;
    for (;;) {
        const WindowRect seen = clientGeometry(display, window);
        const auto now = Clock::now();
        if (seen != expected) {
            matching = false;
        } else if (!matching) {
            matching = true;
            matchingSince = now;
        }
        if ((matching && now - matchingSince >= settle) || now >= deadline) return seen;
        std::this_thread::sleep_for(kPollInterval);
    }
}

WindowRect waitForSettledGeometry(Display* display, Window window,
                                  std::chrono::milliseconds timeout,
                                  std::chrono::milliseconds settle) {
    const auto deadline = Clock::now() + timeout;
    WindowRect last = clientGeometry(display, window);
    auto stableSince = Clock::now();
    for (;;) {
        std::this_thread::sleep_for(kPollInterval);
        const WindowRect seen = clientGeometry(display, window);
        const auto now = Clock::now();
        if (seen != last) {
            last = seen;
            stableSince = now;
        }
        if (now - stableSince >= settle || now >= deadline) return last;
    }
}

std::optional<FrameExtents> frameExtents(Display* display, Window window) {
    const std::vector<long> extents = longProperty(display, window, "_NET_FRAME_EXTENTS");
    if (extents.size() != 4) return std::nullopt;
    return FrameExtents{static_cast<int>(extents[0]), static_cast<int>(extents[1]),
                        static_cast<int>(extents[2]), static_cast<int>(extents[3])};
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
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        flush(display);
        Window focused = None;
        int revertTo = 0;
        XGetInputFocus(display, &focused, &revertTo);
        if (focused == window) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
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
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        Picture now = grabPicture(display, window);
        if (!now.empty() && now != before) return now;
        if (Clock::now() >= deadline) return {};
        std::this_thread::sleep_for(kPollInterval);
    }
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
    XWindowAttributes attributes;
    if (textProperty(display, parent, "WM_NAME").value_or("") == title &&
        XGetWindowAttributes(display, parent, &attributes) != 0 &&
        attributes.map_state == IsViewable) {
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
