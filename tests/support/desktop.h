#pragma once

// One X server with a window manager, and a client connection of the test's own, for a whole
// end-to-end test program: starting them is the slow part. Register `DesktopEnvironment` in
// main; tests then reach both through `desktop::session` and `desktop::connection`.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/x_session.h"
#include "tests/support/x_window.h"

namespace desktop {

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

inline std::unique_ptr<XSession> session;
inline std::unique_ptr<XConnection> connection;

}  // namespace desktop

class DesktopEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        desktop::session = std::make_unique<XSession>(XSession::Options{
            desktop::kScreenWidth, desktop::kScreenHeight, /*windowManager=*/true});
        if (desktop::session->ok()) {
            desktop::connection = std::make_unique<XConnection>(desktop::session->display());
        }
    }
    void TearDown() override {
        desktop::connection.reset();
        desktop::session.reset();
    }
};
