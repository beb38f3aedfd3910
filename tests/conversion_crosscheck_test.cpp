// The platform's conversion (Windows GDI) against the portable one, through the same loader,
// over the BMP Suite, the fuzzing corpus and cut-short copies of every file: the two give the
// same bytes, or both refuse with the same message, apart from one known difference: channels
// narrower than 8 bits are widened by repeating their bits, not by rounding, so every such
// channel stays within one step of the narrow value (8 for 5 bits, 32 for 3).
// Prints how many cases fell into each class.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/dib.h"
#include "tests/support/file_bytes.h"
#include "tests/support/guarded_bytes.h"
#include "tests/support/message_recorder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Decoded {
    ImagePtr image;
    std::vector<RecordedMessage> messages;
};

Decoded decode(const GuardedBytes& file, PixelConverter convert) {
    clearRecordedMessages();
    Decoded decoded;
    decoded.image.reset(decodeBitmapWith(file.data(), file.size(), convert));
    decoded.messages = recordedMessages();
    return decoded;
}

uint32_t bitsIn(uint32_t mask) {
    uint32_t count = 0;
    for (; mask != 0; mask &= mask - 1) ++count;
    return count;
}

// The narrowest colour channel of a 16-bit or bit-field info header; 8 for anything else.
uint32_t narrowestChannel(const Bytes& bytes) {
    const size_t header = bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M' ? 14 : 0;
    if (littleEndian(bytes, header, 4) != 40) return 8;
    const uint32_t bitCount = littleEndian(bytes, header + 14, 2);
    const uint32_t compression = littleEndian(bytes, header + 16, 4);
    if (compression == 0) return bitCount == 16 ? 5 : 8;
    if (compression != 3) return 8;
    uint32_t narrowest = 8;
    for (size_t mask = 0; mask < 3; ++mask) {
        narrowest = std::min(narrowest, bitsIn(littleEndian(bytes, header + 40 + 4 * mask, 4)));
    }
    return narrowest;
}

enum class Verdict { Identical, Differ, BothRefuse, Unexplained };

const char* verdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Identical:
            return "identical";
        case Verdict::Differ:
            return "differ: narrow channels widened by repeating bits";
        case Verdict::BothRefuse:
            return "refused by both, same message";
        case Verdict::Unexplained:
            return "UNEXPLAINED";
    }
    return "";
}

// Channels narrower than 8 bits within one step of the narrow value.
bool withinOneStep(const Image& gdi, const Image& portable, uint32_t channelBits) {
    if (channelBits >= 8) return false;
    const int step = 1 << (8 - channelBits);
    const size_t bytes = size_t(gdi.width) * size_t(gdi.height) * 3;
    for (size_t i = 0; i < bytes; ++i) {
        if (std::abs(gdi.rgb[i] - portable.rgb[i]) >= step) return false;
    }
    return true;
}

Verdict compare(const Bytes& bytes) {
    const GuardedBytes file(bytes);
    EXPECT_NE(file.data(), nullptr);
    const Decoded gdi = decode(file, convertToSurface);
    const Decoded portable = decode(file, renderDibPixels);
    if (!gdi.image || !portable.image) {
        const bool same = !gdi.image && !portable.image && gdi.messages.size() == 1 &&
                          portable.messages.size() == 1 &&
                          gdi.messages[0].text == portable.messages[0].text;
        return same ? Verdict::BothRefuse : Verdict::Unexplained;
    }
    if (gdi.image->width != portable.image->width || gdi.image->height != portable.image->height) {
        return Verdict::Unexplained;
    }
    const size_t size = size_t(gdi.image->width) * size_t(gdi.image->height) * 3;
    if (std::equal(gdi.image->rgb, gdi.image->rgb + size, portable.image->rgb)) {
        return Verdict::Identical;
    }
    return withinOneStep(*gdi.image, *portable.image, narrowestChannel(bytes))
               ? Verdict::Differ
               : Verdict::Unexplained;
}

std::vector<fs::path> corpus() {
    const std::string root = BLENDSPIN_SOURCE_DIR;
    std::vector<fs::path> files;
    for (const std::string folder :
         {"/../shared/bmpsuite/g", "/../shared/bmpsuite/q", "/../shared/bmpsuite/b",
          "/../shared/bmpsuite/x", "/fuzz/corpus"}) {
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(root + folder, error)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ConversionCrossCheck, PlatformAndPortableAgreeApartFromKnownDifferences) {
    const std::vector<fs::path> files = corpus();
    ASSERT_GT(files.size(), 80u) << "BMP Suite or fuzzing corpus missing";
    std::map<Verdict, int> counts;
    for (const fs::path& path : files) {
        const Bytes whole = readBytes(path);
        // The whole file, and cut to three quarters, a half and one byte short.
        for (size_t size :
             {whole.size(), whole.size() * 3 / 4, whole.size() / 2, whole.size() - 1}) {
            if (size == 0 || size > whole.size()) continue;
            const Bytes bytes(whole.begin(), whole.begin() + size);
            const Verdict verdict = compare(bytes);
            ++counts[verdict];
            EXPECT_NE(verdict, Verdict::Unexplained)
                << path.filename().string() << " cut to " << size << " of " << whole.size();
        }
    }
    std::printf("| outcome | cases |\n|---|---|\n");
    for (const auto& [verdict, count] : counts)
        std::printf("| %s | %d |\n", verdictName(verdict), count);
    std::fflush(stdout);
}

}  // namespace
