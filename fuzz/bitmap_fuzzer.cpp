// libFuzzer target: any bytes through decodeBitmap must give a complete image and no message,
// or null and exactly one message, with no sanitizer report.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/bitmap.h"
#include "image/message_box.h"

namespace {

// Every pixel costs under coverage tracing and AddressSanitizer, and larger images only
// repeat the per-row work of smaller ones, so claims above this are skipped; it still takes
// the BMP Suite's 127 × 64 seeds and single rows 16384 wide. Claims the loader must refuse,
// more than 65535 a side or more than 1 GiB of 24-bit pixels, go through however large:
// refusing them allocates nothing, and a loader that did not would run out of memory here.
constexpr uint64_t kMaxFuzzedPixels = uint64_t{1} << 14;
constexpr uint64_t kMaxSide = 65535;
constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 30;

int messagesThisCall = 0;

uint32_t littleEndian(const uint8_t* bytes, size_t length) {
    uint32_t value = 0;
    for (size_t i = length; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

struct Claim {
    uint64_t width = 0;
    uint64_t height = 0;

    uint64_t pixels() const { return width * height; }
    bool mustBeRefused() const {
        return width > kMaxSide || height > kMaxSide || pixels() * 3 > kMaxPixelBytes;
    }
};

// The size the header claims, read the way the loader finds the header; 0 × 0 when the input
// is too short to say.
Claim claimedSize(const uint8_t* data, size_t size) {
    const size_t start = size >= 2 && data[0] == 'B' && data[1] == 'M' ? 14 : 0;
    if (size < start + 12) return {};
    const uint8_t* header = data + start;
    const uint32_t headerSize = littleEndian(header, 4);
    if (headerSize == 12) return {littleEndian(header + 4, 2), littleEndian(header + 6, 2)};
    if (headerSize != 40) return {};
    const int64_t width = int32_t(littleEndian(header + 4, 4));
    const int64_t height = int32_t(littleEndian(header + 8, 4));
    return {uint64_t(width < 0 ? -width : width), uint64_t(height < 0 ? -height : height)};
}

// The texts a decode from memory can show; opening a file is not part of it.
bool isDecodeMessage(const char* text) {
    return std::strcmp(text, "Out of memory.") == 0 ||
           std::strcmp(text, "Unknown DIB file format.") == 0 ||
           std::strcmp(text, "Image file conversion error.") == 0;
}

}  // namespace

// Linked in place of the real message box; a second message in one call traps at once, so
// the fuzzer reports it like any other crash.
void showModalMessage(const char* text, const char* caption) {
    if (text == nullptr || caption == nullptr || std::strcmp(caption, "Error") != 0 ||
        !isDecodeMessage(text)) {
        __builtin_trap();
    }
    if (++messagesThisCall > 1) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Claim claim = claimedSize(data, size);
    if (claim.pixels() > kMaxFuzzedPixels && !claim.mustBeRefused()) return 0;
    messagesThisCall = 0;
    // An exactly sized heap copy: AddressSanitizer then catches a read even one byte past the
    // end, which a mapping would hide inside its last page. new[0] is still a valid pointer.
    std::unique_ptr<uint8_t[]> file(new uint8_t[size]);
    if (size > 0) std::memcpy(file.get(), data, size);

    Image* image = decodeBitmap(file.get(), size);
    // A failure is always explained, exactly once.
    if (image == nullptr) {
        if (messagesThisCall != 1) __builtin_trap();
        return 0;
    }
    if (image->width <= 0 || image->height <= 0 || image->rgb == nullptr) __builtin_trap();
    if (messagesThisCall != 0) __builtin_trap();
    if (uint64_t(image->width) * uint64_t(image->height) != claim.pixels()) __builtin_trap();
    // Touch both ends of the pixel block, so one shorter than width × height × 3 is caught.
    const size_t lastByte = size_t{uint32_t(image->width)} * uint32_t(image->height) * 3 - 1;
    const volatile unsigned char* rgb = image->rgb;
    (void)rgb[0];
    (void)rgb[lastByte];
    std::free(image->rgb);
    std::free(image);
    return 0;
}
