// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdlib.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/program_command.h"
#include "tests/support/x_session.h"
#include "tests/support/x_window.h"

namespace {

using std::chrono::milliseconds;

// The D-Bus a machine may have, which SDL connects to when it starts: none (libdbus then tries
// to start a session bus and fails), a session bus of the probe's own, or an address that
// leads nowhere. A box leaves nothing behind in any of them.
struct DBus {
    const char* name;
    std::vector<std::string> environment;
    std::vector<std::string> launcher;
};

const DBus kDBuses[] = {
    {"NoSessionBus", {}, {}},
    {"SessionBus", {}, {"dbus-run-session", "--"}},
    {"UnreachableBus", {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"}, {}},
};

class MessageBox : public ::testing::TestWithParam<DBus> {
protected:
    std::vector<std::string> probe(const std::string& text) const {
        return program_command::probe(MESSAGE_BOX_PROBE, text, "Error", GetParam().environment,
                                      GetParam().launcher);
    }

    // The probe's stderr, less what a session bus's own daemon logs there (a file limit it may
    // not raise, for one).
    static std::string probeOutput(const ChildProcess& box) {
        std::istringstream lines(box.errorOutput());
        std::string line, rest;
        while (std::getline(lines, line)) {
            if (line.rfind("dbus-daemon[", 0) != 0) rest += line + "\n";
        }
        return rest;
    }
};

TEST_P(MessageBox, StaysUpUntilDismissedWithAKey) {
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

    ChildProcess box(probe("The bitmap is broken."));
    ASSERT_TRUE(box.started());
    const std::vector<Window> windows = waitForWindowsTitled(display, "Error", milliseconds(10000));
    ASSERT_FALSE(windows.empty()) << box.errorOutput();

    // Modal: the call has not returned while the box is up.
    EXPECT_FALSE(box.waitForExit(milliseconds(500)));
    EXPECT_TRUE(dismissDialog(display, windows.front(), milliseconds(5000)));

    ASSERT_TRUE(box.waitForExit(milliseconds(5000)));
    EXPECT_EQ(box.exitCode(), 0);
    EXPECT_EQ(probeOutput(box), "");  // shown, not printed
}

TEST_P(MessageBox, WithoutADisplayWritesOneLineToStderr) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    ChildProcess box(probe("Failed to open DIB file 1024.bmp.\n"));
    ASSERT_TRUE(box.waitForExit(milliseconds(5000)));
    EXPECT_EQ(box.exitCode(), 0);
    EXPECT_EQ(probeOutput(box), "Error: Failed to open DIB file 1024.bmp.\n");
}

INSTANTIATE_TEST_SUITE_P(DBus, MessageBox, ::testing::ValuesIn(kDBuses),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
