// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/x_session.h"

namespace {

using std::chrono::milliseconds;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

bool isViewable(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

// SDL stores the title as UTF8_STRING, which XFetchName does not return, so read the bytes.
std::string windowTitle(Display* display, Window window) {
    const Atom property = XInternAtom(display, "WM_NAME", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, property, 0, 256, False, AnyPropertyType, &type,
                           &format, &count, &remaining, &data) == Success &&
        data != nullptr && format == 8) {
        title.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data != nullptr) XFree(data);
    return title;
}

// Depth first, since the window manager reparents clients into frames.
Window findViewableWindow(Display* display, Window parent, const std::string& title) {
    if (windowTitle(display, parent) == title && isViewable(display, parent)) return parent;

    Window root = None, grandParent = None, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, parent, &root, &grandParent, &children, &count) == 0) return None;
    Window found = None;
    for (unsigned i = 0; i < count && found == None; ++i) {
        found = findViewableWindow(display, children[i], title);
    }
    if (children != nullptr) XFree(children);
    return found;
}

Window waitForWindow(Display* display, const std::string& title, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Window window = None;
    while ((window = findViewableWindow(display, DefaultRootWindow(display), title)) == None &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(50));
    }
    return window;
}

void pressReturn(Display* display) {
    const KeyCode code = XKeysymToKeycode(display, XK_Return);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XFlush(display);
}

TEST(MessageBox, StaysUpUntilDismissedWithAKey) {
    XSession::Options options;
    options.windowManager = true;
    XSession session(options);
    ASSERT_TRUE(session.ok()) << session.error();
    const DisplayPtr display(XOpenDisplay(session.display().c_str()));
    ASSERT_NE(display, nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    ASSERT_TRUE(XTestQueryExtension(display.get(), &event, &error, &major, &minor));

    ChildProcess box({MESSAGE_BOX_PROBE, "The bitmap is broken.", "Error"});
    ASSERT_TRUE(box.started());
    const Window window = waitForWindow(display.get(), "Error", milliseconds(10000));
    ASSERT_NE(window, None) << box.errorOutput();

    // Modal: the call has not returned while the box is up.
    EXPECT_FALSE(box.waitForExit(milliseconds(500)));
    XSetInputFocus(display.get(), window, RevertToParent, CurrentTime);
    XSync(display.get(), False);
    pressReturn(display.get());

    ASSERT_TRUE(box.waitForExit(milliseconds(5000)));
    EXPECT_EQ(box.exitCode(), 0);
    EXPECT_EQ(box.errorOutput(), "");  // shown, not printed
}

TEST(MessageBox, WithoutADisplayWritesOneLineToStderr) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    ChildProcess box({MESSAGE_BOX_PROBE, "Failed to open DIB file 1024.bmp.\n", "Error"});
    ASSERT_TRUE(box.waitForExit(milliseconds(5000)));
    EXPECT_EQ(box.exitCode(), 0);
    EXPECT_EQ(box.errorOutput(), "Error: Failed to open DIB file 1024.bmp.\n");
}

}  // namespace
