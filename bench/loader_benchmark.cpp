// Times loadBitmap on 1024 × 1024 files of each kind, written to a temporary directory, against
// baselines computed from the same bytes: a memcpy of the RGB output (the floor), plain
// single-pass loops for 24-bit and 8-bit files (what a careful hand-written decoder costs) and
// stb_image where it reads the file. Every figure is taken twice: warm, where freed output
// memory is reused, and fresh, where every large block is a new mapping whose pages fault on
// first touch, as in a program that loads once. Prints medians and the ratios against the
// targets at the end; never fails on a number.
//
// Usage: loader_benchmark [--rounds=N] [Google Benchmark flags]. The machines it runs on are
// shared and their speed drifts by tens of percent over seconds, so a ratio of two figures
// taken far apart means little. With --rounds=5 every case runs five times, round after
// round, and each figure is the median of its rounds, spread over the whole run.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/mapped_file.h"
#include "image/message_box.h"
#include "tools/bmp_writer.h"

#ifdef BLENDSPIN_HAVE_STB_IMAGE
#include <stb_image.h>
#endif

// Linked in place of the message box, so a failing load is printed and never waits for a click.
void showModalMessage(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

// --- allocation tracking -------------------------------------------------------------------
// malloc, calloc, realloc, posix_memalign and free are interposed here so that one load's peak of
// live heap bytes can be read; the real work is glibc's.

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {

bool tracking = false;
long long liveBytes = 0;
long long peakBytes = 0;

void noteAllocated(void* block) {
    if (!tracking || block == nullptr) return;
    liveBytes += static_cast<long long>(malloc_usable_size(block));
    peakBytes = std::max(peakBytes, liveBytes);
}

void noteFreed(void* block) {
    if (!tracking || block == nullptr) return;
    liveBytes -= static_cast<long long>(malloc_usable_size(block));
}

// Peak heap bytes live at once while `work` runs, counting from zero at its start.
long long peakHeapBytes(const std::function<bool()>& work) {
    liveBytes = 0;
    peakBytes = 0;
    tracking = true;
    const bool worked = work();
    tracking = false;
    return worked ? peakBytes : -1;
}

}  // namespace

extern "C" void* malloc(size_t size) noexcept {
    void* block = __libc_malloc(size);
    noteAllocated(block);
    return block;
}

extern "C" void* calloc(size_t count, size_t size) noexcept {
    void* block = __libc_calloc(count, size);
    noteAllocated(block);
    return block;
}

extern "C" void* realloc(void* block, size_t size) noexcept {
    noteFreed(block);  // its size can only be read while it exists
    void* moved = __libc_realloc(block, size);
    // A failed resize leaves the old block in place.
    noteAllocated(moved != nullptr || size == 0 ? moved : block);
    return moved;
}

// The loader's output block comes from here. Callers pass a valid alignment.
extern "C" int posix_memalign(void** block, size_t alignment, size_t size) noexcept {
    void* aligned = __libc_memalign(alignment, size);
    if (aligned == nullptr) return ENOMEM;
    noteAllocated(aligned);
    *block = aligned;
    return 0;
}

extern "C" void free(void* block) noexcept {
    noteFreed(block);
    __libc_free(block);
}

namespace {

// --- malloc modes --------------------------------------------------------------------------

enum class Mode { Warm, Fresh };

// glibc refuses mmap thresholds above 32 MiB; 16 MiB keeps every 3 MiB block in the heap.
constexpr int kWarmMmapThreshold = 16 << 20;
constexpr int kWarmTrimThreshold = 256 << 20;
// Small enough that the surface and the output are mappings, large enough that the
// description and stb's small blocks are not.
constexpr int kFreshMmapThreshold = 64 << 10;

// Warm: a freed block stays in the heap, untrimmed, and the next load takes it back with its
// pages already present. Fresh: each large block is mapped anew and unmapped when freed.
// Setting the threshold at all also stops glibc from raising it by itself after a free.
// glibc only maps a block when the heap has no free space for it, so fresh holds only while
// the heap has never held large blocks: main sets it before building the files, and the
// fresh benchmarks run before the warm ones. The "faults" counter shows which mode ran.
bool applyMode(Mode mode) {
    if (mode == Mode::Warm) {
        return mallopt(M_MMAP_THRESHOLD, kWarmMmapThreshold) == 1 &&
               mallopt(M_TRIM_THRESHOLD, kWarmTrimThreshold) == 1;
    }
    return mallopt(M_MMAP_THRESHOLD, kFreshMmapThreshold) == 1;
}

const char* modeName(Mode mode) {
    return mode == Mode::Warm ? "warm" : "fresh";
}

// --- test files ----------------------------------------------------------------------------

constexpr uint32_t kSide = 1024;
constexpr size_t kPixels = size_t{kSide} * kSide;
constexpr size_t kOutputBytes = kPixels * 3;
constexpr size_t kPixelOffsetField = 10;

using bmp_writer::Bmp;
using bmp_writer::Bytes;

// Every file is kSide square, with the file and 40-byte info headers.
Bytes encodeSquare(uint16_t bitCount, Bmp bmp) {
    return bmp_writer::encode(bmp.size(kSide, kSide).bits(bitCount));
}

Bytes palette(uint32_t entries) {
    Bytes table;
    for (uint32_t i = 0; i < entries; ++i) {
        table.insert(table.end(), {uint8_t(255 - i), uint8_t(i * 7), uint8_t(i), 0});
    }
    return table;
}

std::vector<uint8_t> makeRgb24() {
    Bytes pixels;
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x)
            pixels.insert(pixels.end(), {uint8_t(x ^ y), uint8_t(y), uint8_t(x)});
    }
    return encodeSquare(24, Bmp().sized(pixels));
}

std::vector<uint8_t> makePal8() {
    Bytes pixels;
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) pixels.push_back(static_cast<uint8_t>(x * 7 + y * 13));
    }
    return encodeSquare(8, Bmp().palette(palette(256)).sized(pixels));
}

std::vector<uint8_t> makePal4() {
    Bytes pixels;
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; x += 2) pixels.push_back(static_cast<uint8_t>(x * 5 + y));
    }
    return encodeSquare(4, Bmp().palette(palette(16)).sized(pixels));
}

std::vector<uint8_t> makeBitfields565() {
    Bytes pixels;
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x)
            bmp_writer::put16(pixels, (x >> 5) << 11 | (y >> 4) << 5 | (x & 31));
    }
    return encodeSquare(16, Bmp().bitfields({0xF800u, 0x07E0u, 0x001Fu}).sized(pixels));
}

std::vector<uint8_t> makeRgb32() {
    Bytes pixels;
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) {
            pixels.insert(pixels.end(), {uint8_t(x ^ y), uint8_t(y), uint8_t(x), 0});
        }
    }
    return encodeSquare(32, Bmp().sized(pixels));
}

// Runs of 4 to 16 pixels, with a noisy band that needs absolute runs: what a drawing that is
// worth compressing looks like.
uint8_t rlePictureIndex(uint32_t x, uint32_t y) {
    if (x >= 512 && x < 640) return static_cast<uint8_t>((x * 2654435761u + y * 40503u) >> 24);
    return static_cast<uint8_t>(x / (4 + y % 13) + y / 4);
}

void encodeRle8Row(const std::vector<uint8_t>& row, std::vector<uint8_t>& out) {
    size_t x = 0;
    while (x < row.size()) {
        size_t run = 1;
        while (x + run < row.size() && run < 255 && row[x + run] == row[x]) ++run;
        if (run >= 2) {
            out.insert(out.end(), {static_cast<uint8_t>(run), row[x]});
            x += run;
            continue;
        }
        size_t end = x;
        while (end < row.size() && end - x < 255 &&
               !(end + 1 < row.size() && row[end] == row[end + 1])) {
            ++end;
        }
        const size_t literal = end - x;
        if (literal < 3) {  // absolute runs start at 3 pixels; shorter ones are runs of one
            for (; x < end; ++x) out.insert(out.end(), {1, row[x]});
            continue;
        }
        out.insert(out.end(), {0, static_cast<uint8_t>(literal)});
        out.insert(out.end(), row.begin() + x, row.begin() + end);
        if (literal % 2 != 0) out.push_back(0);  // absolute runs end on a 16-bit boundary
        x = end;
    }
}

std::vector<uint8_t> makeRle8() {
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> row(kSide);
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) row[x] = rlePictureIndex(x, y);
        encodeRle8Row(row, pixels);
        // End of line, and end of bitmap after the last.
        pixels.insert(pixels.end(), {0, static_cast<uint8_t>(y + 1 < kSide ? 0 : 1)});
    }
    return encodeSquare(8, Bmp().compressed(1).palette(palette(256)).sized(pixels));
}

struct TestFile {
    const char* kind;
    std::vector<uint8_t> bytes;
    std::string path;

    const uint8_t* pixels() const {
        const uint8_t* field = bytes.data() + kPixelOffsetField;
        return bytes.data() +
               (field[0] | field[1] << 8 | field[2] << 16 | uint32_t{field[3]} << 24);
    }
};

// The files live in a directory of their own, removed with everything in it at exit.
class TestFiles {
public:
    TestFiles() {
        char pattern[] = "/tmp/loader-benchmark-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        directory_ = pattern;
        files_ = {{"24-bit", makeRgb24(), ""},
                  {"8-bit", makePal8(), ""},
                  {"RLE8", makeRle8(), ""},
                  {"4-bit", makePal4(), ""},
                  {"16-bit-565", makeBitfields565(), ""},
                  {"32-bit", makeRgb32(), ""}};
        for (size_t i = 0; i < files_.size(); ++i) {
            files_[i].path = directory_ + "/" + std::to_string(i) + ".bmp";
            bmp_writer::writeFile(files_[i].path, files_[i].bytes);
        }
    }
    TestFiles(const TestFiles&) = delete;
    TestFiles& operator=(const TestFiles&) = delete;
    ~TestFiles() {
        std::error_code ignored;
        if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
    }

    bool ready() const { return !files_.empty(); }
    const std::vector<TestFile>& all() const { return files_; }
    const TestFile& kind(const std::string& name) const {
        return *std::find_if(files_.begin(), files_.end(),
                             [&name](const TestFile& file) { return file.kind == name; });
    }

private:
    std::string directory_;
    std::vector<TestFile> files_;
};

// --- the timed operations ------------------------------------------------------------------

using Block = std::unique_ptr<uint8_t, FreeDeleter>;

bool loadOnce(const TestFile& file) {
    const ImagePtr image(loadBitmap(file.path.c_str()));
    benchmark::DoNotOptimize(image.get());
    return image != nullptr;
}

using Loop = void (*)(const TestFile& file, uint8_t* rgb);

void floorLoop(const TestFile& rgb24, uint8_t* rgb) {
    std::memcpy(rgb, rgb24.pixels(), kOutputBytes);
}

// 1024 pixels of 3 or 1 bytes fill whole 4-byte units, so these rows carry no padding.
void rgbLoop(const TestFile& rgb24, uint8_t* rgb) {
    const uint8_t* bgr = rgb24.pixels();
    for (size_t i = 0; i < kPixels; ++i, bgr += 3, rgb += 3) {
        rgb[0] = bgr[2];
        rgb[1] = bgr[1];
        rgb[2] = bgr[0];
    }
}

void paletteLoop(const TestFile& pal8, uint8_t* rgb) {
    const uint8_t* table = pal8.pixels() - 256 * 4;
    uint8_t colours[256][3];
    for (size_t i = 0; i < 256; ++i, table += 4) {
        colours[i][0] = table[2];
        colours[i][1] = table[1];
        colours[i][2] = table[0];
    }
    const uint8_t* indexes = pal8.pixels();
    for (size_t i = 0; i < kPixels; ++i, rgb += 3) {
        const uint8_t* colour = colours[indexes[i]];
        rgb[0] = colour[0];
        rgb[1] = colour[1];
        rgb[2] = colour[2];
    }
}

// The baselines write into a block allocated and freed on every call, like the loader's
// output, so that the malloc mode decides for them too whether its pages are reused or new.
bool loopOnce(Loop loop, const TestFile& file) {
    const Block output(static_cast<uint8_t*>(std::malloc(kOutputBytes)));
    if (!output) return false;
    loop(file, output.get());
    benchmark::DoNotOptimize(output.get());
    benchmark::ClobberMemory();
    return true;
}

// A loop that produced other pixels than the loader would not be the same work.
bool matchesLoader(Loop loop, const TestFile& file) {
    const Block output(static_cast<uint8_t*>(std::malloc(kOutputBytes)));
    const ImagePtr image(loadBitmap(file.path.c_str()));
    if (!output || !image) return false;
    loop(file, output.get());
    return std::memcmp(output.get(), image->rgb, kOutputBytes) == 0;
}

#ifdef BLENDSPIN_HAVE_STB_IMAGE
// Through the same mapping as the loader; stb's own file reader goes 128 bytes at a time.
bool stbOnce(const TestFile& file) {
    const MappedFile mapped = MappedFile::open(file.path.c_str());
    if (!mapped) return false;
    int width = 0, height = 0, channels = 0;
    stbi_uc* rgb = stbi_load_from_memory(mapped.data(), static_cast<int>(mapped.size()), &width,
                                         &height, &channels, 3);
    benchmark::DoNotOptimize(rgb);
    const bool loaded = rgb != nullptr;
    stbi_image_free(rgb);
    return loaded;
}
#endif

// --- registration --------------------------------------------------------------------------

enum class Method { Loader, Floor, HandLoop, Stb };

struct Key {
    std::string kind;
    Method method;
    Mode mode;
};

std::map<std::string, Key>& registered() {
    static std::map<std::string, Key> names;
    return names;
}

long minorFaults() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// `once` does one whole operation and says whether it succeeded; `failure` says why not.
void registerCase(const Key& key, const char* method, int round, std::function<bool()> once,
                  std::function<std::string()> failure) {
    const std::string name = std::string(method) + "/" + key.kind + "/" + modeName(key.mode) +
                             "/round:" + std::to_string(round);
    registered()[name] = key;
    benchmark::RegisterBenchmark(
        name.c_str(),
        [key, once, failure](benchmark::State& state) {
            if (!applyMode(key.mode)) {
                state.SkipWithError("mallopt refused the malloc mode");
                return;
            }
            // Untimed: brings a warm heap to its steady state, and finds what cannot be read.
            if (!once()) {
                state.SkipWithError(failure().c_str());
                return;
            }
            const long faultsBefore = minorFaults();
            for (auto _ : state) once();
            state.counters["faults"] =
                benchmark::Counter(static_cast<double>(minorFaults() - faultsBefore),
                                   benchmark::Counter::kAvgIterations);
            state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOutputBytes));
        })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

struct HandLoop {
    const char* kind;
    const char* name;
    Loop loop;
};
const HandLoop kHandLoops[] = {{"24-bit", "rgbLoop", rgbLoop},
                               {"8-bit", "paletteLoop", paletteLoop}};

// Each baseline runs right before the loads it is compared with, so that a ratio comes from
// neighbouring moments on a machine whose speed drifts.
void registerRound(const TestFiles& files, Mode mode, int round) {
    const auto outOfMemory = [] { return std::string("out of memory"); };
    const TestFile& rgb24 = files.kind("24-bit");
    registerCase(
        {"3MiB", Method::Floor, mode}, "memcpy", round,
        [&rgb24] { return loopOnce(floorLoop, rgb24); }, outOfMemory);
    for (const TestFile& file : files.all()) {
        for (const HandLoop& hand : kHandLoops) {
            if (std::string(hand.kind) != file.kind) continue;
            registerCase(
                {file.kind, Method::HandLoop, mode}, hand.name, round,
                [&file, &hand] { return loopOnce(hand.loop, file); }, outOfMemory);
        }
        registerCase(
            {file.kind, Method::Loader, mode}, "loadBitmap", round,
            [&file] { return loadOnce(file); },
            [] { return std::string("loadBitmap returned null"); });
#ifdef BLENDSPIN_HAVE_STB_IMAGE
        registerCase(
            {file.kind, Method::Stb, mode}, "stb_image", round, [&file] { return stbOnce(file); },
            [] { return std::string("stb_image: ") + stbi_failure_reason(); });
#endif
    }
}

// --- the summary ---------------------------------------------------------------------------

// Shows every run as usual and keeps each case's seconds per iteration from every round and
// repetition; with --benchmark_report_aggregates_only, the library's medians stand in.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    // Colour only on a terminal, so saved output stays plain text.
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto found = registered().find(run.run_name.function_name);
            if (found == registered().end() || run.error_occurred || run.iterations == 0) continue;
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            if (run.run_type == Run::RT_Iteration) {
                seconds_[name(found->second)].push_back(seconds);
                const auto faults = run.counters.find("faults");
                if (faults != run.counters.end()) {
                    faults_[name(found->second)].push_back(faults->second.value);
                }
            } else if (run.aggregate_name == "median") {
                medians_[name(found->second)].push_back(seconds);
            }
        }
    }

    // The median; negative when it did not run.
    double milliseconds(const std::string& kind, Method method, Mode mode) const {
        const std::string key = name({kind, method, mode});
        for (const auto* figures : {&seconds_, &medians_}) {
            const auto found = figures->find(key);
            if (found != figures->end()) return median(found->second) * 1000;
        }
        return -1;
    }

    // The median of the minor page faults per operation: steady from run to run where times
    // drift. Negative when it did not run.
    double faults(const std::string& kind, Method method, Mode mode) const {
        const auto found = faults_.find(name({kind, method, mode}));
        return found != faults_.end() ? median(found->second) : -1;
    }

private:
    static std::string name(const Key& key) {
        return key.kind + "/" + std::to_string(static_cast<int>(key.method)) + "/" +
               modeName(key.mode);
    }

    static double median(std::vector<double> figures) {
        std::sort(figures.begin(), figures.end());
        const size_t middle = figures.size() / 2;
        return figures.size() % 2 != 0 ? figures[middle]
                                       : (figures[middle - 1] + figures[middle]) / 2;
    }

    std::map<std::string, std::vector<double>> seconds_;
    std::map<std::string, std::vector<double>> medians_;
    std::map<std::string, std::vector<double>> faults_;
};

// 0 when either figure is missing.
double ratio(double numerator, double denominator) {
    return numerator > 0 && denominator > 0 ? numerator / denominator : 0;
}

void printMilliseconds(double milliseconds) {
    if (milliseconds > 0) {
        std::printf(" %8.3f", milliseconds);
    } else {
        std::printf(" %8s", "-");
    }
}

void printFaults(double faults) {
    if (faults >= 0) {
        std::printf(" %8.0f", faults);
    } else {
        std::printf(" %8s", "-");
    }
}

void printRatio(double value) {
    if (value > 0) {
        std::printf(" %9.2f", value);
    } else {
        std::printf(" %9s", "-");
    }
}

void printTarget(const char* what, double ratio, bool met) {
    if (ratio <= 0) {
        std::printf("  %-44s not measured\n", what);
    } else {
        std::printf("  %-44s %6.2f  %s\n", what, ratio, met ? "met" : "MISSED");
    }
}

// One table per mode.
void printTable(const SummaryReporter& reporter, const TestFiles& files, Mode mode) {
    const double floor = reporter.milliseconds("3MiB", Method::Floor, mode);
    std::printf(
        "\n%s (%s), median ms; the floor is a memcpy of the 3 MiB output (%.0f page "
        "faults); flt: minor page faults per load\n",
        modeName(mode),
        mode == Mode::Warm ? "output memory reused" : "new mappings, first-touch faults",
        reporter.faults("3MiB", Method::Floor, mode));
    std::printf("%-11s %8s %8s %8s %8s %9s %9s %9s %8s %8s\n", "format", "loader", "floor", "hand",
                "stb", "ld/floor", "ld/hand", "stb/ld", "ld flt", "stb flt");
    for (const TestFile& file : files.all()) {
        const double loader = reporter.milliseconds(file.kind, Method::Loader, mode);
        const double hand = reporter.milliseconds(file.kind, Method::HandLoop, mode);
        const double stb = reporter.milliseconds(file.kind, Method::Stb, mode);
        std::printf("%-11s", file.kind);
        for (double figure : {loader, floor, hand, stb}) printMilliseconds(figure);
        printRatio(ratio(loader, floor));
        printRatio(ratio(loader, hand));
        printRatio(ratio(stb, loader));
        printFaults(reporter.faults(file.kind, Method::Loader, mode));
        printFaults(reporter.faults(file.kind, Method::Stb, mode));
        std::printf("\n");
    }
}

void printTargets(const SummaryReporter& reporter, const TestFiles& files) {
    const auto warm = [&reporter](const char* kind, Method method) {
        return reporter.milliseconds(kind, method, Mode::Warm);
    };
    std::printf("\ntargets\n");
    const double floorRatio = ratio(warm("24-bit", Method::Loader), warm("3MiB", Method::Floor));
    printTarget("24-bit loader / memcpy floor <= 4", floorRatio, floorRatio <= 4);
    const double handRatio = ratio(warm("8-bit", Method::Loader), warm("8-bit", Method::HandLoop));
    printTarget("8-bit loader / palette loop <= 1.5", handRatio, handRatio <= 1.5);
    for (const TestFile& file : files.all()) {
        if (warm(file.kind, Method::Stb) <= 0) continue;  // stb_image does not read it
        const double stbRatio =
            ratio(warm(file.kind, Method::Stb), warm(file.kind, Method::Loader));
        const std::string what = std::string(file.kind) + " warm stb_image / loader >= 3";
        printTarget(what.c_str(), stbRatio, stbRatio >= 3);
    }
    // A program that loads once only ever meets the fresh case.
    for (const TestFile& file : files.all()) {
        const double stb = reporter.milliseconds(file.kind, Method::Stb, Mode::Fresh);
        if (stb <= 0) continue;
        const double stbRatio =
            ratio(stb, reporter.milliseconds(file.kind, Method::Loader, Mode::Fresh));
        const std::string what = std::string(file.kind) + " fresh stb_image / loader >= 1.5";
        printTarget(what.c_str(), stbRatio, stbRatio >= 1.5);
    }
}

void printPeak(long long bytes) {
    if (bytes >= 0) {
        std::printf(" %8.3f", double(bytes) / kOutputBytes);
    } else {
        std::printf(" %8s", "-");
    }
}

// Most heap bytes live at once during one load, per byte of RGB output.
void printPeaks(const TestFiles& files) {
    std::printf(
        "\npeak heap bytes per output byte (a surface that is a mapping of its own is not"
        " counted)\n%-11s %8s %8s\n",
        "format", "loader", "stb");
    for (const TestFile& file : files.all()) {
        std::printf("%-11s", file.kind);
        printPeak(peakHeapBytes([&file] { return loadOnce(file); }));
#ifdef BLENDSPIN_HAVE_STB_IMAGE
        printPeak(peakHeapBytes([&file] { return stbOnce(file); }));
#endif
        std::printf("\n");
    }
}

// Takes "--rounds=N" out of the arguments, before the library sees them.
int takeRounds(int& argc, char** argv) {
    constexpr const char* kFlag = "--rounds=";
    int rounds = 1;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kFlag, std::strlen(kFlag)) == 0) {
            rounds = std::max(1, std::atoi(argv[i] + std::strlen(kFlag)));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return rounds;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = takeRounds(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!applyMode(Mode::Fresh)) return 1;
    const TestFiles files;
    if (!files.ready()) {
        std::fprintf(stderr, "cannot create a temporary directory for the test files\n");
        return 1;
    }
    for (const HandLoop& hand : kHandLoops) {
        if (!matchesLoader(hand.loop, files.kind(hand.kind))) {
            std::fprintf(stderr, "%s's pixels differ from the loader's\n", hand.name);
            return 1;
        }
    }
#ifndef BLENDSPIN_HAVE_STB_IMAGE
    std::printf("built without stb_image.h (Debian: libstb-dev): no stb_image figures\n");
#endif
    for (Mode mode : {Mode::Fresh, Mode::Warm}) {
        for (int round = 1; round <= rounds; ++round) registerRound(files, mode, round);
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printTable(reporter, files, Mode::Warm);
    printTable(reporter, files, Mode::Fresh);
    printTargets(reporter, files);
    printPeaks(files);
    benchmark::Shutdown();
    return 0;
}
