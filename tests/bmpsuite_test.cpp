// The loader over the BMP Suite corpus (../shared/bmpsuite): good files must match the suite's
// reference renderings, every other file must give a sound image or null with one message.
// Each test prints its files' outcomes as a table.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "tests/support/file_bytes.h"
#include "tests/support/guarded_bytes.h"
#include "tests/support/message_recorder.h"
#include "tests/support/png_reader.h"

namespace {

namespace fs = std::filesystem;

const std::string kSuite = std::string(BLENDSPIN_SOURCE_DIR) + "/../shared/bmpsuite";

// --- what the file says about itself, read independently of the loader ----------------------

struct FileHeader {
    uint32_t size = 0;  // 0 when the file is too short to hold the field
    int64_t width = 0;
    int64_t height = 0;
};

FileHeader readFileHeader(const std::vector<uint8_t>& bytes) {
    FileHeader header;
    const size_t start = bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M' ? 14 : 0;
    if (bytes.size() < start + 12) return header;
    header.size = littleEndian(bytes, start, 4);
    if (header.size == 12) {
        header.width = littleEndian(bytes, start + 4, 2);
        header.height = littleEndian(bytes, start + 6, 2);
    } else if (header.size == 40) {
        header.width = int32_t(littleEndian(bytes, start + 4, 4));
        header.height = int32_t(littleEndian(bytes, start + 8, 4));
    }
    return header;
}

bool classicHeader(const FileHeader& header) {
    return header.size == 12 || header.size == 40;
}

// --- what the loader makes of it ----------------------------------------------------------

struct Outcome {
    ImagePtr image;
    std::vector<RecordedMessage> messages;
};

Outcome loadRecorded(const std::string& path) {
    clearRecordedMessages();
    Outcome outcome;
    outcome.image.reset(loadBitmap(path.c_str()));
    outcome.messages = recordedMessages();
    return outcome;
}

// The bytes end where an inaccessible page begins: a read past the file faults.
Outcome decodeRecorded(const std::vector<uint8_t>& bytes) {
    const GuardedBytes guarded(bytes);
    EXPECT_NE(guarded.data(), nullptr);
    clearRecordedMessages();
    Outcome outcome;
    outcome.image.reset(decodeBitmap(guarded.data(), guarded.size()));
    outcome.messages = recordedMessages();
    return outcome;
}

size_t pixelBytes(const Image& image) {
    return size_t(image.width) * size_t(image.height) * 3;
}

// The largest difference of any channel, or -1 when the sizes differ. Image rows run bottom
// up, PNG rows top down.
int largestDifference(const Image& image, const RgbPicture& reference) {
    if (int64_t(image.width) != reference.width || int64_t(image.height) != reference.height) {
        return -1;
    }
    const size_t rowBytes = size_t(image.width) * 3;
    int largest = 0;
    for (size_t row = 0; row < size_t(image.height); ++row) {
        const uint8_t* ours = image.rgb + row * rowBytes;
        const uint8_t* theirs = reference.rgb.data() + (image.height - 1 - row) * rowBytes;
        for (size_t i = 0; i < rowBytes; ++i) {
            largest = std::max(largest, std::abs(ours[i] - theirs[i]));
        }
    }
    return largest;
}

// --- expectations -------------------------------------------------------------------------

// Channels wider than 8 bits keep their top 8 bits here, where the suite rounds, so they may
// land 1 below its value. Narrower channels scale exactly as the suite does.
constexpr int kWideChannelTolerance = 1;

// Windows' conversion (GDI, as Wine has it) widens channels narrower than 8 bits by repeating
// their bits, at most twice, where the suite rounds: 5 and 6 bits land up to 1 off, 3 bits up
// to 3, 2 bits up to 63. BLENDSPIN_REPEATS_CHANNEL_BITS is 1 in the Windows build.
constexpr bool kRepeatsChannelBits = BLENDSPIN_REPEATS_CHANNEL_BITS;

struct Reference {
    const char* file;
    const char* png;  // in reference/, without ".png"
    int tolerance;
    int repeatedBitsTolerance = tolerance;  // where kRepeatsChannelBits

    int allowed() const { return kRepeatsChannelBits ? repeatedBitsTolerance : tolerance; }
};

// Files with classic headers whose rendering is known. Where the suite has no PNG of a file's
// own, a sibling with the same picture and palette stands in (pal8 for the pal8 variants);
// the skipped pixels of the RLE files are black here, the suite's "-b" rendering.
const Reference kReferences[] = {
    {"g/pal1.bmp", "pal1", 0},
    {"g/pal1bg.bmp", "pal1bg", 0},
    {"g/pal1wb.bmp", "pal1", 0},
    {"g/pal4.bmp", "pal4", 0},
    {"g/pal4gs.bmp", "pal4gs", 0},
    {"g/pal4rle.bmp", "pal4", 0},
    {"g/pal8-0.bmp", "pal8", 0},
    {"g/pal8.bmp", "pal8", 0},
    {"g/pal8gs.bmp", "pal8gs", 0},
    {"g/pal8nonsquare.bmp", "pal8nonsquare-e", 0},  // stored squashed; "-v" is stretched
    {"g/pal8os2.bmp", "pal8", 0},
    {"g/pal8rle.bmp", "pal8", 0},
    {"g/pal8topdown.bmp", "pal8", 0},
    {"g/pal8w124.bmp", "pal8w124", 0},
    {"g/pal8w125.bmp", "pal8w125", 0},
    {"g/pal8w126.bmp", "pal8w126", 0},
    {"g/rgb16-565.bmp", "rgb16-565", 0, 1},
    {"g/rgb16-565pal.bmp", "rgb16-565", 0, 1},
    {"g/rgb16.bmp", "rgb16", 0, 1},
    {"g/rgb16bfdef.bmp", "rgb16", 0, 1},
    {"g/rgb24.bmp", "rgb24", 0},
    {"g/rgb24pal.bmp", "rgb24", 0},
    {"g/rgb32.bmp", "rgb24", 0},
    {"g/rgb32bf.bmp", "rgb24", 0},
    {"g/rgb32bfdef.bmp", "rgb24", 0},
    {"q/pal1p1.bmp", "pal1p1", 0},
    {"q/pal4rlecut.bmp", "pal4rlecut-b", 0},
    {"q/pal4rletrns.bmp", "pal4rletrns-b", 0},
    {"q/pal8offs.bmp", "pal8", 0},
    {"q/pal8os2-hs.bmp", "pal8", 0},
    {"q/pal8os2-sz.bmp", "pal8", 0},
    {"q/pal8os2sp.bmp", "pal8", 0},
    {"q/pal8os2v2-40sz.bmp", "pal8", 0},
    {"q/pal8oversizepal.bmp", "pal8", 0},
    {"q/pal8rlecut.bmp", "pal8rlecut-b", 0},
    {"q/pal8rletrns.bmp", "pal8rletrns-b", 0},
    {"q/rgb16-231.bmp", "rgb16-231", 0, 63},
    {"q/rgb16-3103.bmp", "rgb16-3103", kWideChannelTolerance, 3},
    {"q/rgb16faketrns.bmp", "rgb16", 0, 1},  // the set unused bits are not transparency
    {"q/rgb24largepal.bmp", "rgb24", 0},
    {"q/rgb32-111110.bmp", "rgb24", kWideChannelTolerance},
    {"q/rgb32-7187.bmp", "rgb32-7187", kWideChannelTolerance},
    {"q/rgb32fakealpha.bmp", "rgb24", 0},  // the unused byte is not alpha
};

// Classic-header files the loader must refuse: bit counts or compressions it does not decode,
// a negative width, a size past the limits, top-down RLE, a mask of no bits.
const char* const kRefused[] = {
    "b/badbitcount.bmp", "b/badwidth.bmp",  "b/reallybig.bmp",
    "b/rletopdown.bmp",  "b/rgb16-880.bmp", "q/pal2.bmp",
    "q/pal2color.bmp",   "q/rgba32abf.bmp", "q/rgba64.bmp",
};

const Reference* findReference(const std::string& file) {
    for (const Reference& reference : kReferences) {
        if (file == reference.file) return &reference;
    }
    return nullptr;
}

bool mustRefuse(const std::string& file) {
    return std::find(std::begin(kRefused), std::end(kRefused), file) != std::end(kRefused);
}

bool isLoaderMessage(const RecordedMessage& message) {
    return message.caption == "Error" &&
           (message.text == "Out of memory." || message.text == "Unknown DIB file format." ||
            message.text == "Image file conversion error." ||
            message.text.rfind("Failed to open DIB file ", 0) == 0);
}

// --- checking one file --------------------------------------------------------------------

struct TableRow {
    std::string file;
    std::string header;
    std::string outcome;
    std::string match;
};

std::string headerText(const FileHeader& header) {
    return header.size == 0 ? "short" : std::to_string(header.size);
}

std::string outcomeText(const Outcome& outcome) {
    if (outcome.image) {
        return "image " + std::to_string(outcome.image->width) + "x" +
               std::to_string(outcome.image->height);
    }
    std::string text = "null";
    for (const RecordedMessage& message : outcome.messages) {
        std::string line = message.text;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        text += " + \"" + line + "\"";
    }
    return text;
}

// Sound: an image of the header's |width| × |height| with no message, or null with exactly
// one of the loader's messages. In-memory decoding must agree with the mapped file.
void expectSound(const std::vector<uint8_t>& bytes, const FileHeader& header,
                 const Outcome& outcome) {
    if (outcome.image) {
        EXPECT_TRUE(outcome.messages.empty()) << outcomeText(outcome);
        ASSERT_NE(outcome.image->rgb, nullptr);
        ASSERT_GT(outcome.image->width, 0);
        ASSERT_GT(outcome.image->height, 0);
        EXPECT_EQ(outcome.image->width, header.width < 0 ? -header.width : header.width);
        EXPECT_EQ(outcome.image->height, header.height < 0 ? -header.height : header.height);
        // Reading the last byte lets AddressSanitizer catch a pixel block that is too short.
        const volatile unsigned char last = outcome.image->rgb[pixelBytes(*outcome.image) - 1];
        (void)last;
    } else {
        ASSERT_EQ(outcome.messages.size(), 1u) << outcomeText(outcome);
        EXPECT_TRUE(isLoaderMessage(outcome.messages[0]))
            << outcome.messages[0].caption << ": " << outcome.messages[0].text;
    }

    const Outcome inMemory = decodeRecorded(bytes);
    EXPECT_EQ(inMemory.messages.size(), outcome.messages.size());
    ASSERT_EQ(inMemory.image != nullptr, outcome.image != nullptr);
    if (outcome.image) {
        EXPECT_TRUE(std::equal(outcome.image->rgb, outcome.image->rgb + pixelBytes(*outcome.image),
                               inMemory.image->rgb));
    }
}

// The match column: how the image compares with its reference, if it has one.
std::string expectReferenceMatch(const Reference& reference, const Outcome& outcome) {
    if (!outcome.image) {
        ADD_FAILURE() << "no image; expected " << reference.png << ".png";
        return "MISSING";
    }
    RgbPicture picture;
    const std::string png = std::string(reference.png) + ".png";
    if (!readPng(kSuite + "/reference/" + png, &picture)) {
        ADD_FAILURE() << "cannot read reference " << png;
        return "no reference";
    }
    const int difference = largestDifference(*outcome.image, picture);
    if (difference < 0) {
        ADD_FAILURE() << "size " << outcome.image->width << "x" << outcome.image->height
                      << ", reference " << picture.width << "x" << picture.height;
        return "SIZE DIFFERS from " + png;
    }
    EXPECT_LE(difference, reference.allowed()) << "against " << png;
    if (difference == 0) return "exact " + png;
    const std::string text = "±" + std::to_string(difference) + " " + png;
    return difference <= reference.allowed() ? text : "DIFFERS " + text;
}

TableRow checkFile(const std::string& file) {
    SCOPED_TRACE(file);
    const std::string path = kSuite + "/" + file;
    const std::vector<uint8_t> bytes = readBytes(path);
    const FileHeader header = readFileHeader(bytes);
    const Outcome outcome = loadRecorded(path);
    TableRow row{file, headerText(header), outcomeText(outcome), "n.a."};

    expectSound(bytes, header, outcome);
    if (!classicHeader(header)) {
        EXPECT_EQ(outcome.image, nullptr);
        EXPECT_EQ(outcome.messages.size(), 1u);
        for (const RecordedMessage& message : outcome.messages) {
            EXPECT_EQ(message.text, "Unknown DIB file format.");
            EXPECT_EQ(message.caption, "Error");
        }
        return row;
    }
    if (mustRefuse(file)) {
        EXPECT_EQ(outcome.image, nullptr) << "expected refusal";
        return row;
    }
    if (const Reference* reference = findReference(file)) {
        row.match = expectReferenceMatch(*reference, outcome);
    }
    return row;
}

// --- the corpus ---------------------------------------------------------------------------

std::vector<std::string> corpusFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(kSuite + "/" + folder, error)) {
        if (entry.is_regular_file()) {
            files.push_back(folder + "/" + entry.path().filename().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void printTable(const std::vector<TableRow>& rows) {
    std::printf("| file | header | outcome | match |\n|---|---|---|---|\n");
    for (const TableRow& row : rows) {
        std::printf("| %s | %s | %s | %s |\n", row.file.c_str(), row.header.c_str(),
                    row.outcome.c_str(), row.match.c_str());
    }
    std::fflush(stdout);
}

void checkFolder(const std::string& folder, size_t minimumFiles) {
    const std::vector<std::string> files = corpusFiles(folder);
    ASSERT_GE(files.size(), minimumFiles) << "corpus missing at " << kSuite;
    std::vector<TableRow> rows;
    for (const std::string& file : files) rows.push_back(checkFile(file));
    printTable(rows);
}

// Every good file with a classic header has a listed rendering, so none is left unchecked.
TEST(BmpSuite, EveryClassicGoodFileHasAReference) {
    const std::vector<std::string> files = corpusFiles("g");
    ASSERT_FALSE(files.empty()) << "corpus missing at " << kSuite;
    for (const std::string& file : files) {
        if (classicHeader(readFileHeader(readBytes(kSuite + "/" + file)))) {
            EXPECT_NE(findReference(file), nullptr) << file;
        }
    }
}

TEST(BmpSuite, GoodFilesMatchTheirReferences) {
    checkFolder("g", 20);
}

TEST(BmpSuite, QuestionableFilesAreSoundAndMatchWhereDefined) {
    checkFolder("q", 30);
}

TEST(BmpSuite, BadFilesGiveASoundImageOrOneMessage) {
    checkFolder("b", 15);
}

TEST(BmpSuite, BitmapArrayContainerIsRejected) {
    checkFolder("x", 1);
}

}  // namespace
