// The real blendspin with hostile texture files: every BMP Suite file from b/ and q/ and a set
// of cut and bit-flipped sample textures, each once as "1024.bmp" and once as "1024a.bmp"
// beside a good partner. Every run must show exactly the error boxes the loader's own verdict
// calls for, then a window that keeps drawing, then exit with 0 on Esc, with no sanitizer
// report on stderr. Several X servers (lanes) run programs side by side.

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "image/bitmap.h"
#include "tests/support/child_process.h"
#include "tests/support/desktop.h"
#include "tests/support/file_bytes.h"
#include "tests/support/message_recorder.h"
#include "tests/support/program_command.h"
#include "tests/support/temp_directory.h"
#include "tests/support/wait_until.h"
#include "tests/support/x_session.h"
#include "tests/support/x_window.h"
#include "tools/bmp_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using desktop::kStripHeight;
using desktop::kStripWidth;
using desktop::kStripX;
using desktop::kStripY;
using Clock = std::chrono::steady_clock;

const fs::path kSuite = fs::path(BLENDSPIN_SOURCE_DIR) / ".." / "shared" / "bmpsuite";

// Two cores render with llvmpipe: a third lane still gains while the others wait on X.
constexpr int kLanes = 3;
// Generous, for the AddressSanitizer build on a loaded machine; a good run takes about 1 s.
constexpr auto kRunTimeout = 30s;
constexpr auto kDismissTimeout = 2s;
constexpr auto kExitTimeout = 10s;
constexpr auto kPollInterval = 10ms;

constexpr auto kResizeRetry = 500ms;
// The resize can leave one stale picture and the reshape draws one more: only a third change
// is the timer's doing.
constexpr size_t kDistinctPictures = 4;

// --- the files ------------------------------------------------------------------------------

enum class Role { Colour, Alpha };

const char* roleName(Role role) {
    return role == Role::Colour ? "1024.bmp" : "1024a.bmp";
}

struct HostileFile {
    std::string name;
    fs::path path;
};

std::vector<HostileFile> suiteFiles(const char* folder) {
    std::vector<HostileFile> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(kSuite / folder, error)) {
        if (entry.path().extension() != ".bmp") continue;
        files.push_back(
            {std::string(folder) + "/" + entry.path().filename().string(), entry.path()});
    }
    std::sort(files.begin(), files.end(),
              [](const HostileFile& a, const HostileFile& b) { return a.name < b.name; });
    return files;
}

struct Field {
    const char* name;
    size_t offset;
    size_t length;
};

// The header fields the loader acts on, in a file with the 14-byte file header.
const Field kFields[] = {
    {"type", 0, 2},       {"pixel offset", 10, 4}, {"header size", 14, 4},
    {"width", 18, 4},     {"height", 22, 4},       {"planes", 26, 2},
    {"bit count", 28, 2}, {"compression", 30, 4},  {"colours used", 46, 4},
};

// mt19937's output is fixed by the standard (its distributions are not), so the flips are the
// same on every machine.
void flipBits(std::vector<uint8_t>& bytes, size_t from, size_t length, int count, uint32_t seed) {
    std::mt19937 random(seed);
    for (int i = 0; i < count; ++i) {
        const uint32_t bit = random() % (length * 8);
        bytes[from + bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
}

// Cuts inside each header and the pixels, and flips in every field the loader reads, across
// the headers and across the pixels; all derived from the 24-bit sample `sample`.
std::vector<std::pair<std::string, std::vector<uint8_t>>> damagedSamples(
    const std::vector<uint8_t>& sample) {
    const size_t pixels = littleEndian(sample, 10);
    const size_t row = (size_t{littleEndian(sample, 18)} * 3 + 3) / 4 * 4;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> damaged;
    for (size_t length : {size_t{0}, size_t{1}, size_t{13}, size_t{14}, size_t{17}, size_t{30},
                          pixels - 1, pixels, pixels + 1, pixels + row - 1,
                          pixels + (sample.size() - pixels) / 2 + 1, sample.size() - 1}) {
        damaged.emplace_back("cut at " + std::to_string(length),
                             std::vector<uint8_t>(sample.begin(), sample.begin() + length));
    }
    uint32_t seed = 1;
    for (const Field& field : kFields) {
        std::vector<uint8_t> bytes = sample;
        flipBits(bytes, field.offset, field.length, 1, seed++);
        damaged.emplace_back(std::string("flip in ") + field.name, std::move(bytes));
    }
    for (uint32_t headerSeed = 101; headerSeed <= 104; ++headerSeed) {
        std::vector<uint8_t> bytes = sample;
        flipBits(bytes, 0, pixels, 3, headerSeed);
        damaged.emplace_back("3 flips in headers, seed " + std::to_string(headerSeed),
                             std::move(bytes));
    }
    for (uint32_t pixelSeed = 201; pixelSeed <= 202; ++pixelSeed) {
        std::vector<uint8_t> bytes = sample;
        flipBits(bytes, pixels, sample.size() - pixels, 1000, pixelSeed);
        damaged.emplace_back("1000 flips in pixels, seed " + std::to_string(pixelSeed),
                             std::move(bytes));
    }
    return damaged;
}

// The loader's own verdict on the file, read as the program reads it: how many error boxes it
// shows. Not thread-safe, like the recorder; asked before the lanes start.
int loaderMessages(const fs::path& path) {
    clearRecordedMessages();
    Image* image = readImageFile(path.c_str());
    if (image != nullptr) {
        std::free(image->rgb);
        std::free(image);
    }
    return static_cast<int>(recordedMessages().size());
}

// --- one program run ------------------------------------------------------------------------

struct Observation {
    int dialogs = 0;
    bool drawing = false;
    bool exitedNormally = false;
    int exitCode = -1;
    int signal = 0;
    std::string stop;  // where the run stopped short, if it did
    std::string errorOutput;
};

// Consecutive different frames of the strip. A box drawn over the window changes its picture
// too, so the count starts again whenever one shows.
class Motion {
public:
    void reset() { pictures_ = 0; }
    bool seen() const { return pictures_ >= kDistinctPictures; }
    // False where the picture is not yet a frame of the strip.
    bool add(Picture picture) {
        if (picture.width != kStripWidth || picture.height != kStripHeight ||
            !showsClearGrey(picture)) {
            return false;
        }
        if (pictures_ == 0 || picture != last_) ++pictures_;
        last_ = std::move(picture);
        return true;
    }

private:
    size_t pictures_ = 0;
    Picture last_;
};

class Lane {
public:
    Lane() : session_(XSession::Options{1024, 768, "openbox"}), connection_(session_.display()) {}

    std::string error() const {
        if (!session_.ok()) return session_.error();
        if (!connection_.ok()) return "cannot connect to " + session_.display();
        return connection_.canFakeInput() ? "" : "the X server lacks XTEST";
    }

    // Starts the program in `directory`, dismisses every error box, watches the window draw
    // and ends it with Esc.
    Observation run(const fs::path& directory) {
        Observation seen;
        ChildProcess program(
            program_command::program(BLENDSPIN_PATH, {"DISPLAY=" + session_.display()}),
            directory.string());
        const Window window = watchUntilDrawing(program, seen);
        if (seen.drawing) quit(program, window, seen);
        seen.errorOutput = program.errorOutput();
        return seen;
    }

private:
    Display* display() const { return connection_.get(); }

    // Every pass looks for a box first, so frames only count while none is up: a box cannot
    // come and go unseen between two passes, as only this loop dismisses it.
    Window watchUntilDrawing(ChildProcess& program, Observation& seen) {
        Window window = None;
        Motion motion;
        auto resized = Clock::time_point();
        // True once the run has come to an end, good or bad.
        const auto ended = [&] {
            const std::vector<Window> boxes = viewableWindowsTitled(display(), "Error");
            if (!boxes.empty()) {
                ++seen.dialogs;
                motion.reset();
                if (dismissDialog(display(), boxes.front(), kDismissTimeout)) return false;
                seen.stop = "an error box stayed up after Return";
                return true;
            }
            if (motion.seen()) return seen.drawing = true;
            if (!program.running()) {
                seen.stop = "ended before drawing";
                return true;
            }
            if (window == None) {
                window = waitForManagedWindow(display(), program.pid(), 0ms);
            } else if (!motion.add(grabPicture(display(), window)) &&
                       Clock::now() - resized > kResizeRetry) {
                moveResizeWindow(display(), window, kStripX, kStripY, kStripWidth, kStripHeight);
                resized = Clock::now();
            }
            return false;
        };
        if (!waitUntil(kRunTimeout, ended, kPollInterval)) {
            seen.stop = window == None ? "no window" : "the picture stood still";
        }
        return window;
    }

    void quit(ChildProcess& program, Window window, Observation& seen) {
        if (!focusWindow(display(), window, kDismissTimeout)) {
            seen.stop = "could not focus the window";
            return;
        }
        pressKey(display(), XK_Escape);
        if (!program.waitForExit(kExitTimeout)) seen.stop = "still running after Esc";
        seen.exitedNormally = program.exitedNormally();
        seen.exitCode = program.exitCode();
        seen.signal = program.signalNumber();
    }

    XSession session_;
    XConnection connection_;
};

std::vector<std::unique_ptr<Lane>> lanes;

class LaneEnvironment : public ::testing::Environment {
public:
    // One after the other: each server's start-up sets DISPLAY for the window manager.
    void SetUp() override {
        for (int i = 0; i < kLanes; ++i) lanes.push_back(std::make_unique<Lane>());
    }
    void TearDown() override { lanes.clear(); }
};

// --- runs and their judgement ---------------------------------------------------------------

struct ProgramRun {
    const HostileFile* file;
    Role role;
    int expectedDialogs;
    Observation seen;
};

// The first thing wrong with the run, or "" for a good one.
std::string fault(const ProgramRun& run) {
    const Observation& seen = run.seen;
    if (!sanitizerReport(seen.errorOutput).empty()) return "sanitizer report";
    if (seen.dialogs != run.expectedDialogs) return "wrong number of error boxes";
    if (!seen.stop.empty()) return seen.stop;
    if (!seen.exitedNormally) return "ended by a signal";
    if (seen.exitCode != 0) return "exit code not 0";
    return "";
}

// Each lane takes the next run until none is left.
void runAll(std::vector<ProgramRun>& runs, const HostileFile& colour, const HostileFile& alpha) {
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (const std::unique_ptr<Lane>& lane : lanes) {
        workers.emplace_back([&, lane = lane.get()] {
            for (size_t i = next++; i < runs.size(); i = next++) {
                ProgramRun& run = runs[i];
                const TempDirectory directory("blendspin-hostile");
                // Links: the program opens the file through them exactly as it would the file.
                std::error_code error;
                fs::create_symlink(run.role == Role::Colour ? run.file->path : colour.path,
                                   directory.path(roleName(Role::Colour)), error);
                if (!error) {
                    fs::create_symlink(run.role == Role::Alpha ? run.file->path : alpha.path,
                                       directory.path(roleName(Role::Alpha)), error);
                }
                if (!error) run.seen = lane->run(directory.path());
                if (error) run.seen.stop = "cannot set up the working directory";
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
}

// Counts of each outcome by role and the loader's verdict.
void printTable(const std::vector<ProgramRun>& runs) {
    std::map<std::tuple<std::string, std::string, std::string>, int> counts;
    for (const ProgramRun& run : runs) {
        const std::string problem = fault(run);
        counts[{roleName(run.role), run.expectedDialogs == 0 ? "read" : "refused",
                problem.empty() ? "ok" : problem}]++;
    }
    std::printf("%-10s %-8s %-36s %s\n", "as", "loader", "outcome", "runs");
    for (const auto& [key, count] : counts) {
        const auto& [role, verdict, outcome] = key;
        std::printf("%-10s %-8s %-36s %4d\n", role.c_str(), verdict.c_str(), outcome.c_str(),
                    count);
    }
}

class HostileTextureTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::unique_ptr<Lane>& lane : lanes) ASSERT_EQ(lane->error(), "");
        ASSERT_TRUE(samples_.made()) << "cannot make a temporary folder";
        ChildProcess writer({MAKE_SAMPLE_TEXTURES_PATH, samples_.path()});
        ASSERT_TRUE(writer.waitForExit(30s));
        ASSERT_EQ(writer.exitCode(), 0) << writer.errorOutput();
        colour_ = {"sample colour", samples_.path(roleName(Role::Colour))};
        alpha_ = {"sample alpha", samples_.path(roleName(Role::Alpha))};
        ASSERT_EQ(loaderMessages(colour_.path), 0);
        ASSERT_EQ(loaderMessages(alpha_.path), 0);
    }

    // Every file in both roles, each run judged and the whole printed as a table.
    void runInBothRoles(const std::vector<HostileFile>& files) {
        ASSERT_FALSE(files.empty());
        std::vector<ProgramRun> runs;
        for (const HostileFile& file : files) {
            const int expected = loaderMessages(file.path);
            for (Role role : {Role::Colour, Role::Alpha}) {
                runs.push_back({&file, role, expected, {}});
            }
        }
        runAll(runs, colour_, alpha_);
        printTable(runs);
        for (const ProgramRun& run : runs) {
            const Observation& seen = run.seen;
            EXPECT_EQ(fault(run), "")
                << run.file->name << " as " << roleName(run.role) << ": " << seen.dialogs
                << " error boxes, " << run.expectedDialogs << " expected; exit code "
                << seen.exitCode << ", signal " << seen.signal << "; stderr:\n"
                << seen.errorOutput;
        }
    }

    TempDirectory samples_{"blendspin-hostile"};
    HostileFile colour_;
    HostileFile alpha_;
};

TEST_F(HostileTextureTest, BmpSuiteBadFiles) {
    runInBothRoles(suiteFiles("b"));
}

TEST_F(HostileTextureTest, BmpSuiteQuestionableFiles) {
    runInBothRoles(suiteFiles("q"));
}

TEST_F(HostileTextureTest, CutAndBitFlippedSamples) {
    const std::vector<uint8_t> sample = readBytes(colour_.path);
    // The cuts and flips are placed for a 24-bit file with file and info headers.
    ASSERT_GE(sample.size(), 54u);
    ASSERT_EQ(littleEndian(sample, 14), 40u);
    ASSERT_EQ(sample[28], 24);
    std::vector<HostileFile> files;
    for (const auto& [name, bytes] : damagedSamples(sample)) {
        files.push_back({name, samples_.path("damaged-" + std::to_string(files.size()))});
        ASSERT_TRUE(bmp_writer::writeFile(files.back().path.string(), bytes));
    }
    runInBothRoles(files);
}

}  // namespace

int main(int argc, char** argv) {
    // Each lane's connection is used from its own thread.
    XInitThreads();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new LaneEnvironment);
    return RUN_ALL_TESTS();
}
