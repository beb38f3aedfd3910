#pragma once

// The end-to-end tests' common ground: the real program (BLENDSPIN_PATH, defined by each test
// program's build) started in a temporary folder of its own on the desktop (desktop.h), its
// window found, and at the end a check that it met no fault and left the folder as found.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/keysym.h>
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/desktop.h"
#include "tests/support/program_command.h"
#include "tests/support/temp_directory.h"
#include "tests/support/x_window.h"

class ProgramFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(desktop::expectReady());
        ASSERT_TRUE(folder_.made()) << "cannot make a temporary folder";
    }

    void TearDown() override {
        // Also where the test looked only at the window: a sanitizer abort fails it.
        if (program_) {
            EXPECT_EQ(program_->fault(), "") << program_->errorOutput();
        }
        program_.reset();
        if (!folder_.made()) return;
        const std::vector<std::string> found = entries();
        for (const std::string& name : keptFiles_) {
            EXPECT_TRUE(std::count(found.begin(), found.end(), name) == 1)
                << "the program removed " << name << " from its working directory";
        }
        for (const std::string& name : found) {
            EXPECT_TRUE(keptFiles_.count(name) + scratchFiles_.count(name) > 0)
                << "the program left " << name << " in its working directory " << folder_.path();
        }
    }

    Display* display() const { return desktop::connection->get(); }
    std::string path(const std::string& name) const { return folder_.path(name); }

    // Files the test puts in the folder: kept ones must still be there at the end; scratch
    // ones may come and go.
    void keepFile(const std::string& name) { keptFiles_.insert(name); }
    void allowScratchFile(const std::string& name) { scratchFiles_.insert(name); }

    // The sample textures, written by `tool` (make_sample_textures): a picture whose motion
    // shows in every window shape.
    void addSampleTextures(const std::string& tool) {
        ChildProcess writer({tool, folder_.path()});
        ASSERT_TRUE(writer.waitForExit(std::chrono::seconds(30)));
        ASSERT_EQ(writer.exitCode(), 0) << writer.errorOutput();
        keepFile("1024.bmp");
        keepFile("1024a.bmp");
    }

    // Starts the program in the folder; `environment` entries go before it, as env(1) takes
    // them, and `options` after it.
    void startProgram(const std::vector<std::string>& environment = {},
                      const std::vector<std::string>& options = {}) {
        program_ = std::make_unique<ChildProcess>(
            program_command::program(BLENDSPIN_PATH, environment, options), folder_.path());
        ASSERT_TRUE(program_->started());
    }

    // Waits until the program's window is managed and at rest, where `initial_` tells.
    void waitForRestingWindow(std::chrono::milliseconds timeout) {
        window_ = waitForManagedWindow(display(), program_->pid(), timeout);
        ASSERT_NE(window_, None) << "no window from the program; it "
                                 << (program_->running() ? "still runs" : "has ended")
                                 << "; stderr: " << program_->errorOutput();
        initial_ = waitForSettledGeometry(display(), window_, timeout);
    }

    // Waits until the program's window is managed, at rest and has the keyboard focus.
    void waitForProgramWindow(std::chrono::milliseconds timeout) {
        ASSERT_NO_FATAL_FAILURE(waitForRestingWindow(timeout));
        ASSERT_TRUE(focusWindow(display(), window_, timeout));
    }

    // Two changes in a row: a single one could be the frame a reshape draws. Generous times
    // here and below: llvmpipe on two loaded cores, and the program may be sanitized.
    void expectStillDrawing() {
        ASSERT_TRUE(program_->running()) << "stderr: " << program_->errorOutput();
        const Picture first = grabPicture(display(), window_);
        ASSERT_FALSE(first.empty()) << "the window cannot be read";
        expectTwoChangesAfter(first, std::chrono::seconds(10));
    }

    void expectTwoChangesAfter(const Picture& first, std::chrono::milliseconds timeout) {
        const Picture second = waitForNewPicture(display(), window_, first, timeout);
        ASSERT_FALSE(second.empty()) << "the picture stood still";
        EXPECT_FALSE(waitForNewPicture(display(), window_, second, timeout).empty())
            << "the picture changed once, then stood still";
    }

    void expectEscExitsWithZero(std::chrono::milliseconds exitTimeout = std::chrono::seconds(15)) {
        ASSERT_TRUE(focusWindow(display(), window_, std::chrono::seconds(10)));
        pressKey(display(), XK_Escape);
        ASSERT_TRUE(program_->waitForExit(exitTimeout)) << "still running after Esc";
        EXPECT_TRUE(program_->exitedNormally()) << "ended by signal " << program_->signalNumber();
        EXPECT_EQ(program_->exitCode(), 0) << "stderr: " << program_->errorOutput();
    }

    std::unique_ptr<ChildProcess> program_;
    Window window_ = None;
    WindowRect initial_;

private:
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        DIR* folder = opendir(folder_.path().c_str());
        if (folder == nullptr) return names;
        while (const dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(folder);
        return names;
    }

    TempDirectory folder_{"blendspin-e2e"};
    std::set<std::string> keptFiles_;
    std::set<std::string> scratchFiles_;
};
