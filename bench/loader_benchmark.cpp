// Time and memory of decodeBitmap on 1024 × 1024 files built in memory (24-bit, 8-bit palette,
// RLE8), against a memcpy of the same file bytes (the floor) and SDL2's BMP reader (a peer).
// Reports figures only; it never fails on a number.

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/message_box.h"

// Linked in place of the message box, so a failing load is printed and never waits for a click.
void showModalMessage(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

// --- allocation tracking -------------------------------------------------------------------
// malloc, calloc, realloc and free are interposed here so that one decode's peak of live heap
// bytes can be read; the real work is glibc's.

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
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
template <typename Work>
long long peakHeapBytes(Work work) {
    liveBytes = 0;
    peakBytes = 0;
    tracking = true;
    work();
    tracking = false;
    return peakBytes;
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

extern "C" void free(void* block) noexcept {
    noteFreed(block);
    __libc_free(block);
}

namespace {

// --- test files ----------------------------------------------------------------------------

constexpr uint32_t kSide = 1024;
constexpr size_t kOutputBytes = size_t{kSide} * kSide * 3;

void putU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(value & 0xFF);
    out.push_back(value >> 8);
}

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back((value >> shift) & 0xFF);
}

// File header and 40-byte info header; the pixel offset assumes the table follows directly.
std::vector<uint8_t> headers(uint16_t bitCount, uint32_t compression, uint32_t paletteEntries,
                             uint32_t pixelBytes) {
    const uint32_t pixelOffset = 14 + 40 + 4 * paletteEntries;
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    putU32(out, pixelOffset + pixelBytes);
    putU32(out, 0);
    putU32(out, pixelOffset);
    putU32(out, 40);
    putU32(out, kSide);
    putU32(out, kSide);
    putU16(out, 1);
    putU16(out, bitCount);
    putU32(out, compression);
    putU32(out, pixelBytes);
    putU32(out, 2835);
    putU32(out, 2835);
    putU32(out, paletteEntries);
    putU32(out, 0);
    return out;
}

void putPalette(std::vector<uint8_t>& out) {
    for (uint32_t i = 0; i < 256; ++i) {
        out.push_back(static_cast<uint8_t>(255 - i));
        out.push_back(static_cast<uint8_t>(i * 7));
        out.push_back(static_cast<uint8_t>(i));
        out.push_back(0);
    }
}

std::vector<uint8_t> makeRgb24() {
    std::vector<uint8_t> file = headers(24, 0, 0, kSide * kSide * 3);
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) {
            file.push_back(static_cast<uint8_t>(x ^ y));
            file.push_back(static_cast<uint8_t>(y));
            file.push_back(static_cast<uint8_t>(x));
        }
    }
    return file;
}

std::vector<uint8_t> makePal8() {
    std::vector<uint8_t> file = headers(8, 0, 256, kSide * kSide);
    putPalette(file);
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) file.push_back(static_cast<uint8_t>(x * 7 + y * 13));
    }
    return file;
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
            out.push_back(static_cast<uint8_t>(run));
            out.push_back(row[x]);
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
            for (; x < end; ++x) {
                out.push_back(1);
                out.push_back(row[x]);
            }
            continue;
        }
        out.push_back(0);
        out.push_back(static_cast<uint8_t>(literal));
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
        pixels.push_back(0);
        pixels.push_back(y + 1 < kSide ? 0 : 1);  // end of line, end of bitmap after the last
    }
    std::vector<uint8_t> file = headers(8, 1, 256, static_cast<uint32_t>(pixels.size()));
    putPalette(file);
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

struct TestFile {
    const char* kind;
    std::vector<uint8_t> bytes;
};

std::vector<TestFile>& testFiles() {
    static std::vector<TestFile> files = {
        {"24-bit", makeRgb24()}, {"8-bit", makePal8()}, {"RLE8", makeRle8()}};
    return files;
}

// --- the timed operations ------------------------------------------------------------------

void freeImage(Image* image) {
    if (image == nullptr) return;
    std::free(image->rgb);
    std::free(image);
}

// True when the loader returned a whole image.
bool decodeOnce(const std::vector<uint8_t>& file) {
    Image* image = decodeBitmap(file.data(), file.size());
    benchmark::DoNotOptimize(image);
    const bool decoded = image != nullptr;
    freeImage(image);
    return decoded;
}

bool sdlLoadOnce(const std::vector<uint8_t>& file) {
    SDL_Surface* surface = SDL_LoadBMP_RW(SDL_RWFromConstMem(file.data(), file.size()), 1);
    benchmark::DoNotOptimize(surface);
    const bool decoded = surface != nullptr;
    SDL_FreeSurface(surface);
    return decoded;
}

void decodeBitmapBenchmark(benchmark::State& state, const TestFile* file) {
    for (auto _ : state) {
        if (!decodeOnce(file->bytes)) {
            state.SkipWithError("decodeBitmap returned null");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOutputBytes));
}

void memcpyBenchmark(benchmark::State& state, const TestFile* file) {
    std::vector<uint8_t> copy(file->bytes.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), file->bytes.data(), file->bytes.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file->bytes.size()));
}

void sdlBenchmark(benchmark::State& state, const TestFile* file) {
    for (auto _ : state) {
        if (!sdlLoadOnce(file->bytes)) {
            state.SkipWithError(SDL_GetError());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOutputBytes));
}

// --- the summary ---------------------------------------------------------------------------

enum class Method { Decode, Memcpy, Sdl };

struct Timing {
    std::string kind;
    Method method;
};

std::map<std::string, Timing>& registered() {
    static std::map<std::string, Timing> timings;
    return timings;
}

// Shows every run as usual and keeps the best seconds per iteration of each benchmark.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    // Colour only on a terminal, so saved output stays plain text.
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) {
                continue;
            }
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            auto found = best_.find(run.benchmark_name());
            if (found == best_.end() || seconds < found->second) {
                best_[run.benchmark_name()] = seconds;
            }
        }
    }

    // Seconds per iteration, or a negative number when the benchmark did not run or failed.
    double seconds(const std::string& kind, Method method) const {
        for (const auto& [name, timing] : registered()) {
            if (timing.kind != kind || timing.method != method) continue;
            auto found = best_.find(name);
            if (found != best_.end()) return found->second;
        }
        return -1;
    }

private:
    std::map<std::string, double> best_;
};

void printRatio(double numerator, double denominator) {
    if (numerator > 0 && denominator > 0) {
        std::printf(" %9.2f", numerator / denominator);
    } else {
        std::printf(" %9s", "n/a");
    }
}

void printMilliseconds(double seconds) {
    if (seconds > 0) {
        std::printf(" %9.3f", seconds * 1000);
    } else {
        std::printf(" %9s", "n/a");
    }
}

void printSummary(const SummaryReporter& reporter) {
    std::printf("\n%-7s %9s %9s %9s %9s %9s %11s %11s\n", "file", "decode ms", "memcpy ms",
                "SDL ms", "dec/memcp", "dec/SDL", "dec peak/B", "SDL peak/B");
    for (const TestFile& file : testFiles()) {
        const double decode = reporter.seconds(file.kind, Method::Decode);
        const double copy = reporter.seconds(file.kind, Method::Memcpy);
        const double sdl = reporter.seconds(file.kind, Method::Sdl);
        std::printf("%-7s", file.kind);
        printMilliseconds(decode);
        printMilliseconds(copy);
        printMilliseconds(sdl);
        printRatio(decode, copy);
        printRatio(decode, sdl);
        const long long decodePeak = peakHeapBytes([&] { decodeOnce(file.bytes); });
        const long long sdlPeak = peakHeapBytes([&] { sdlLoadOnce(file.bytes); });
        std::printf(" %11.3f %11.3f\n", double(decodePeak) / kOutputBytes,
                    double(sdlPeak) / kOutputBytes);
    }
    std::printf(
        "\nmemcpy copies the file's bytes; peak/B is the most heap bytes live at once during one\n"
        "load, per byte of the %zu-byte RGB output.\n",
        kOutputBytes);
}

void registerBenchmarks() {
    for (const TestFile& file : testFiles()) {
        const std::string kind = file.kind;
        const std::pair<const char*, Method> methods[] = {{"decodeBitmap/", Method::Decode},
                                                          {"memcpy/", Method::Memcpy},
                                                          {"SDL_LoadBMP_RW/", Method::Sdl}};
        for (const auto& [prefix, method] : methods) {
            const std::string name = prefix + kind;
            registered()[name] = Timing{kind, method};
            auto* function = method == Method::Decode   ? decodeBitmapBenchmark
                             : method == Method::Memcpy ? memcpyBenchmark
                                                        : sdlBenchmark;
            benchmark::RegisterBenchmark(name.c_str(), function, &file)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    registerBenchmarks();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
