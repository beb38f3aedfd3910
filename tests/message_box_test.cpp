// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/x_session.h"
#include "tests/support/x_window.h"

namespace {

using std::chrono::milliseconds;

TEST(MessageBox, StaysUpUntilDismissedWithAKey) {
    XSession::Options options;
    options.windowManager = "openbox";
    XSession session(options);
    ASSERT_TRUE(session.ok()) << session.error();
    // SDL's windows come and go while the search below walks the tree; this connection
    // ignores the errors that Xlib's default handler would turn into an exit.
    const XConnection connection(session.display());
    ASSERT_TRUE(connection.ok());
    ASSERT_TRUE(connection.canFakeInput());
    Display* const display = connection.get();

    ChildProcess box({MESSAGE_BOX_PROBE, "The bitmap is broken.", "Error"});
    ASSERT_TRUE(box.started());
    const std::vector<Window> windows = waitForWindowsTitled(display, "Error", milliseconds(10000));
    ASSERT_FALSE(windows.empty()) << box.errorOutput();

    // Modal: the call has not returned while the box is up.
    EXPECT_FALSE(box.waitForExit(milliseconds(500)));
    EXPECT_TRUE(dismissDialog(display, windows.front(), milliseconds(5000)));

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
