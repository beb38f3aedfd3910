#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Finds, inspects and drives another program's top-level window through the X server:
// geometry in root coordinates, properties, screenshots, and real input through XTEST.

// A client connection of the test's own, closed with the object. X errors (a window that
// has just gone, say) show as failed calls instead of ending the test program.
class XConnection {
public:
    explicit XConnection(const std::string& displayName);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    Display* get() const { return display_; }
    bool ok() const { return display_ != nullptr; }
    // False where the server lacks the XTEST extension, so no input can be faked.
    bool canFakeInput() const { return canFakeInput_; }

private:
    Display* display_ = nullptr;
    bool canFakeInput_ = false;
};

// A window's client area (not its frame) in root coordinates.
struct WindowRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const WindowRect& other) const {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
    bool operator!=(const WindowRect& other) const { return !(*this == other); }
};
std::ostream& operator<<(std::ostream& out, const WindowRect& rect);

// The decoration a window manager puts around a client (_NET_FRAME_EXTENTS).
struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

// Pixels as 0xRRGGBB, row by row from the top.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    bool empty() const { return pixels.empty(); }
    bool operator==(const Picture& other) const {
        return width == other.width && height == other.height && pixels == other.pixels;
    }
    bool operator!=(const Picture& other) const { return !(*this == other); }
};

// The viewable window whose _NET_WM_PID is `pid` (where the window manager announces nothing,
// freeglut sets none, and the server tells the window's maker), once the window manager has taken
// it in (WM_STATE, and _NET_FRAME_EXTENTS where it sets them); None if none turns up within
// `timeout`.
Window waitForManagedWindow(Display* display, pid_t pid, std::chrono::milliseconds timeout);

// Zero-sized where the window is gone.
WindowRect clientGeometry(Display* display, Window window);

// None where the window is gone.
Window parentOf(Display* display, Window window);

// Polls until the client geometry has equalled `expected` for `settle` without a break, or
// `timeout` ends; returns what was seen last. Waiting for it to stay put is what tells a
// window that has come to rest from one that only passes through the place.
WindowRect waitForGeometry(Display* display, Window window, const WindowRect& expected,
                           std::chrono::milliseconds timeout,
                           std::chrono::milliseconds settle = std::chrono::milliseconds(250));

// Polls until the geometry has not changed for `settle`; returns it.
WindowRect waitForSettledGeometry(
    Display* display, Window window, std::chrono::milliseconds timeout,
    std::chrono::milliseconds settle = std::chrono::milliseconds(250));

// _NET_FRAME_EXTENTS, or where the window manager sets none (twm), measured from its frame;
// zero without a window manager.
std::optional<FrameExtents> frameExtents(Display* display, Window window);

// Whether a window manager announces itself: _NET_SUPPORTING_WM_CHECK names a window that is
// there. twm and none do not.
bool windowManagerAnnounced(Display* display);

// What wmctrl's "-b toggle,fullscreen" sends: a _NET_WM_STATE request to the window manager.
void toggleFullScreenFromOutside(Display* display, Window window);

// What the window's close button does: through the window manager where it takes that request
// (_NET_CLOSE_WINDOW), else WM_DELETE_WINDOW straight to the window, as a window manager sends
// (sway's own command to close a window does).
void closeFromOutside(Display* display, Window window);

// The bytes of a text property of any type; nullopt where the window lacks it.
std::optional<std::string> textProperty(Display* display, Window window, const char* name);

// Gives `window` the keyboard focus and waits until the server reports it has it.
bool focusWindow(Display* display, Window window, std::chrono::milliseconds timeout);

// Every viewable window titled `title`, frames searched too, since window managers reparent
// clients into them. The title is read whatever its type (SDL stores UTF8_STRING).
std::vector<Window> viewableWindowsTitled(Display* display, const std::string& title);

// viewableWindowsTitled once it finds any; empty where none shows within `timeout`.
std::vector<Window> waitForWindowsTitled(Display* display, const std::string& title,
                                         std::chrono::milliseconds timeout);

// Return on the dialog, as a user would dismiss it, tried again where the dialog was not
// listening yet; each try waits up to `timeout` for the focus and for the dialog to go. True
// once it has gone.
bool dismissDialog(Display* display, Window dialog, std::chrono::milliseconds timeout);

// The window's current contents; empty where it cannot be read (gone, unmapped).
Picture grabPicture(Display* display, Window window);

// Whether any pixel shows the grey the scene clears to (128, or 127 after rounding).
bool showsClearGrey(const Picture& picture);

// Waits for the contents to differ from `before`; returns the new picture, or an empty one
// if nothing changed within `timeout`.
Picture waitForNewPicture(Display* display, Window window, const Picture& before,
                          std::chrono::milliseconds timeout);

// Asks for the client area to be `width` × `height` with the window manager's frame at
// (x, y), as any client may; the window manager carries it out.
void moveResizeWindow(Display* display, Window window, int x, int y, int width, int height);

// Real input through XTEST, flushed to the server before returning.
void pressKey(Display* display, KeySym key);
void movePointer(Display* display, int rootX, int rootY);
void pressButton(Display* display, unsigned button);
void releaseButton(Display* display, unsigned button);
