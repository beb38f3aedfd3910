#include "image/bitmap.h"

#include <gtest/gtest.h>

#ifdef __linux__
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#endif

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/message_recorder.h"
#include "tests/support/temp_directory.h"
#include "tools/bmp_writer.h"

namespace {

using bmp_writer::Bmp;
using bmp_writer::Bytes;
using bmp_writer::encode;
using Rgb = std::array<uint8_t, 3>;

constexpr Rgb kBlack = {0, 0, 0};
constexpr Rgb kRed = {255, 0, 0};
constexpr Rgb kGreen = {0, 255, 0};
constexpr Rgb kBlue = {0, 0, 255};

// `count` table entries of grey levels 0, 1, 2...; entry `special` gets `colour` instead.
Bytes greyTable(size_t count, size_t entrySize, size_t special = SIZE_MAX, Rgb colour = kBlack) {
    Bytes table;
    for (size_t i = 0; i < count; ++i) {
        const Rgb rgb = i == special ? colour : Rgb{uint8_t(i), uint8_t(i), uint8_t(i)};
        table.insert(table.end(), {rgb[2], rgb[1], rgb[0]});
        if (entrySize == 4) table.push_back(0);
    }
    return table;
}

Rgb pixelAt(const Image& image, int x, int y) {
    const unsigned char* p = image.rgb + (size_t(y) * image.width + x) * 3;
    return {p[0], p[1], p[2]};
}

class BitmapTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.made()) << "cannot make a temporary folder";
        clearRecordedMessages();
        showErrorPopups = 1;
    }
    void TearDown() override { showErrorPopups = 1; }

    std::string write(const Bytes& bytes, const std::string& name = "image.bmp") {
        const std::string path = folder_.path(name);
        bmp_writer::writeFile(path, bytes);
        return path;
    }

    ImagePtr load(const Bmp& bmp) { return ImagePtr(readImageFile(write(encode(bmp)).c_str())); }

    TempDirectory folder_{"bitmap-test"};
};

TEST_F(BitmapTest, NamesThatCannotBeOpenedGiveNullSilently) {
    EXPECT_EQ(readImageFile(nullptr), nullptr);
    EXPECT_EQ(readImageFile((folder_.path() + "/missing.bmp").c_str()), nullptr);
    EXPECT_EQ(readImageFile(folder_.path().c_str()), nullptr);
    EXPECT_TRUE(recordedMessages().empty());
}

TEST_F(BitmapTest, EmptyFileShowsTheOpenMessageOnce) {
    const std::string path = write({});
    EXPECT_EQ(readImageFile(path.c_str()), nullptr);
    ASSERT_EQ(recordedMessages().size(), 1u);
    EXPECT_EQ(recordedMessages()[0].text, "Failed to open DIB file " + path + ".\n");
    EXPECT_EQ(recordedMessages()[0].caption, "Error");

    clearRecordedMessages();
    showErrorPopups = 0;
    EXPECT_EQ(readImageFile(path.c_str()), nullptr);
    EXPECT_TRUE(recordedMessages().empty());
}

TEST_F(BitmapTest, OpenMessageForALongNameIsCutToTheBuffer) {
    // 250 characters: too long for the message buffer, short enough for every platform's paths.
    const std::string file = "empty.bmp";
    const std::string folder(250 - folder_.path().size() - file.size() - 2, 'a');
    ASSERT_TRUE(std::filesystem::create_directory(folder_.path() + "/" + folder));
    const std::string path = write({}, folder + "/" + file);
    const std::string text = "Failed to open DIB file " + path + ".\n";
    ASSERT_GT(text.size(), 256u);

    EXPECT_EQ(readImageFile(path.c_str()), nullptr);
    ASSERT_EQ(recordedMessages().size(), 1u);
    EXPECT_EQ(recordedMessages()[0].text, text.substr(0, 255));
}

struct Rejection {
    const char* name;
    Bmp bmp;
    size_t keepBytes;  // the file is cut to this many bytes; SIZE_MAX keeps it whole
    const char* message;
};

void PrintTo(const Rejection& rejection, std::ostream* out) {
    *out << rejection.name;
}

constexpr const char* kUnknown = "Unknown DIB file format.";
constexpr const char* kConversion = "Image file conversion error.";
constexpr const char* kMemory = "Out of memory.";

Bmp withMasks(std::vector<uint32_t> masks) {
    return Bmp().size(2, 1).bits(16).bitfields(masks).data(Bytes(4));
}

const Bytes kPixel = Bytes(4);

const Rejection kRejections[] = {
    {"header108", Bmp().header(108).data(kPixel), SIZE_MAX, kUnknown},
    {"header124", Bmp().header(124).data(kPixel), SIZE_MAX, kUnknown},
    {"header16", Bmp().header(16).data(kPixel), SIZE_MAX, kUnknown},
    {"onlySignature", Bmp(), 2, kUnknown},
    {"fileHeaderCut", Bmp(), 12, kUnknown},
    {"infoHeaderCut", Bmp(), 14 + 30, kUnknown},
    {"coreHeaderCut", Bmp().header(12), 14 + 10, kUnknown},
    {"headerlessCut", Bmp().headerless(), 39, kUnknown},
    // The pixel offsets point inside the file, so only the short table can reject these.
    {"infoTableCut", Bmp().bits(8).palette(greyTable(4, 4)).offset(14 + 40 + 16).data(kPixel),
     SIZE_MAX, kConversion},
    {"coreTableCut",
     Bmp().header(12).bits(4).palette(greyTable(10, 3)).offset(14 + 12 + 30).data(kPixel), SIZE_MAX,
     kConversion},
    {"masksCut", withMasks({0xF800, 0x07E0, 0x001F}), 14 + 40 + 8, kConversion},
    {"zeroMask", withMasks({0xF800, 0, 0x001F}), SIZE_MAX, kConversion},
    {"overlappingMasks", withMasks({0xF800, 0x0FE0, 0x001F}), SIZE_MAX, kConversion},
    {"gappedMask", withMasks({0xF800, 0x07A0, 0x001F}), SIZE_MAX, kConversion},
    {"zeroWidth", Bmp().size(0, 1).data(kPixel), SIZE_MAX, kConversion},
    {"negativeWidth", Bmp().size(-1, 1).data(kPixel), SIZE_MAX, kConversion},
    {"zeroHeight", Bmp().size(1, 0).data(kPixel), SIZE_MAX, kConversion},
    {"unknownBitCount", Bmp().bits(3).data(kPixel), SIZE_MAX, kConversion},
    {"offsetPastEnd", Bmp().offset(14 + 40 + 5).data(kPixel), SIZE_MAX, kConversion},
    {"noPixelBytes", Bmp(), SIZE_MAX, kConversion},
    {"widthOverSide", Bmp().size(65536, 1).data(kPixel), SIZE_MAX, kMemory},
    {"heightOverSide", Bmp().size(1, -65536).data(kPixel), SIZE_MAX, kMemory},
    {"mostNegativeHeight", Bmp().size(1, INT32_MIN).data(kPixel), SIZE_MAX, kMemory},
    {"surfaceOverLimit", Bmp().size(20000, 20000).data(kPixel), SIZE_MAX, kMemory},
    {"coreSurfaceOverLimit", Bmp().header(12).size(65535, 65535).data(kPixel), SIZE_MAX, kMemory},
};

class BitmapRejectionTest : public BitmapTest, public testing::WithParamInterface<Rejection> {};

TEST_P(BitmapRejectionTest, GivesNullWithExactlyOneMessageAndNoneWhenSilenced) {
    Bytes bytes = encode(GetParam().bmp);
    if (GetParam().keepBytes < bytes.size()) bytes.resize(GetParam().keepBytes);
    const std::string path = write(bytes);

    EXPECT_EQ(readImageFile(path.c_str()), nullptr);
    ASSERT_EQ(recordedMessages().size(), 1u);
    EXPECT_EQ(recordedMessages()[0].text, GetParam().message);
    EXPECT_EQ(recordedMessages()[0].caption, "Error");

    clearRecordedMessages();
    showErrorPopups = 0;
    EXPECT_EQ(readImageFile(path.c_str()), nullptr);
    EXPECT_TRUE(recordedMessages().empty());
}

INSTANTIATE_TEST_SUITE_P(Files, BitmapRejectionTest, testing::ValuesIn(kRejections),
                         [](const auto& info) { return std::string(info.param.name); });

// A headerless DIB header announcing `bitCount` bits and `coloursUsed` colours, cut to
// `keepBytes`.
Bytes headerBytes(uint32_t headerSize, uint16_t bitCount, uint32_t coloursUsed,
                  size_t keepBytes = SIZE_MAX) {
    Bytes bytes = encode(Bmp().headerless().header(headerSize).bits(bitCount).colours(coloursUsed));
    bytes.resize(std::min(bytes.size(), keepBytes));
    return bytes;
}

TEST(PaletteEntryCount, DefaultsBoundsAndMissingFields) {
    struct Case {
        Bytes header;
        uint16_t expected;
    };
    const Case cases[] = {
        {headerBytes(40, 1, 0), 2},
        {headerBytes(40, 4, 0), 16},
        {headerBytes(40, 8, 0), 256},
        {headerBytes(40, 24, 0), 0},
        {headerBytes(40, 16, 0), 0},
        {headerBytes(40, 8, 20), 20},
        {headerBytes(40, 8, 300), 256},
        {headerBytes(40, 8, 65536), 256},
        {headerBytes(40, 1, 5), 2},
        {headerBytes(40, 24, 70000), 256},
        {headerBytes(12, 8, 0), 256},
        {headerBytes(12, 4, 0), 16},
        {headerBytes(40, 8, 20, 20), 256},  // colours used lies past the end: reads 0
        {headerBytes(40, 8, 20, 15), 0},    // so does the bit count
        {Bytes{}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(paletteEntryCount(c.header.data(), c.header.size()), c.expected)
            << "header of " << c.header.size() << " bytes";
    }
}

TEST_F(BitmapTest, ColoursUsedDecidesHowManyEntriesAreCarried) {
    // 21 entries in the file, but only 20 in use: index 20 must come out black.
    Bytes table = greyTable(21, 4, 19, kRed);
    table[20 * 4 + 1] = 255;
    const ImagePtr image =
        load(Bmp().size(2, 1).bits(8).colours(20).palette(table).data({19, 20, 0, 0}));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(pixelAt(*image, 0, 0), kRed);
    EXPECT_EQ(pixelAt(*image, 1, 0), kBlack);

    // 65536 would keep no entries if cut to 16 bits; bounded, all 256 are there.
    const ImagePtr bounded = load(
        Bmp().bits(8).colours(65536).palette(greyTable(256, 4, 255, kGreen)).data({255, 0, 0, 0}));
    ASSERT_NE(bounded, nullptr);
    EXPECT_EQ(pixelAt(*bounded, 0, 0), kGreen);
    EXPECT_TRUE(recordedMessages().empty());
}

// Headerless files: the pixels must be found right after the default-sized table. The pixel
// selects the last entry, which is red; a misplaced pointer reads grey entries or red's zero
// first byte instead, which select other entries.
struct DefaultTable {
    uint32_t headerSize;
    uint16_t bitCount;
    size_t entries;
    uint8_t pixel;
};

void PrintTo(const DefaultTable& param, std::ostream* out) {
    *out << param.headerSize << "-byte header, " << param.bitCount << " bits";
}

class DefaultTableTest : public BitmapTest, public testing::WithParamInterface<DefaultTable> {};

TEST_P(DefaultTableTest, HeaderlessPixelsFollowTheTable) {
    const DefaultTable& param = GetParam();
    const size_t entrySize = param.headerSize == 12 ? 3 : 4;
    Bmp bmp = Bmp().headerless().header(param.headerSize).bits(param.bitCount);
    bmp.palette(greyTable(param.entries, entrySize, param.entries - 1, kRed));
    bmp.data(param.entries > 0 ? Bytes{param.pixel, 0, 0, 0} : Bytes{0, 0, 255, 0});

    const ImagePtr image = load(bmp);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(pixelAt(*image, 0, 0), kRed);
}

INSTANTIATE_TEST_SUITE_P(
    BitCounts, DefaultTableTest,
    testing::Values(DefaultTable{40, 1, 2, 0x80}, DefaultTable{40, 4, 16, 0xF0},
                    DefaultTable{40, 8, 256, 0xFF}, DefaultTable{40, 24, 0, 0},
                    DefaultTable{12, 1, 2, 0x80}, DefaultTable{12, 4, 16, 0xF0},
                    DefaultTable{12, 8, 256, 0xFF}, DefaultTable{12, 24, 0, 0}));

// A table longer than the bit count indexes: a headerless file's pixels follow every entry
// it stores, up to the 256 the platform skips, and only the first 2^bits are used. The pixel
// picks the last indexable entry, red; pixels looked for earlier read a grey entry's first
// byte, which picks a grey entry.
TEST_F(BitmapTest, PixelsFollowEveryStoredEntryOfALongTable) {
    struct Case {
        uint16_t bitCount;
        uint32_t coloursUsed;
        size_t stored;
        uint8_t pixel;
    };
    for (const Case c : {Case{1, 3, 3, 0x80}, Case{4, 17, 17, 0xF0}, Case{4, 300, 256, 0xF0}}) {
        const size_t indexable = size_t{1} << c.bitCount;
        for (bool fileHeader : {false, true}) {
            Bmp bmp = Bmp().bits(c.bitCount).colours(c.coloursUsed);
            bmp.palette(greyTable(c.stored, 4, indexable - 1, kRed)).data({c.pixel, 0, 0, 0});
            if (!fileHeader) bmp.headerless();
            const ImagePtr image = load(bmp);
            ASSERT_NE(image, nullptr) << c.bitCount << " bits, " << c.coloursUsed << " colours";
            EXPECT_EQ(pixelAt(*image, 0, 0), kRed) << c.bitCount << " bits, " << c.coloursUsed
                                                   << " colours, file header " << fileHeader;
        }
    }
    EXPECT_TRUE(recordedMessages().empty());
}

// No pixel above 8 bits indexes the table, so colours used that the file does not store
// before its pixels must not stop the image.
TEST_F(BitmapTest, UnstoredTablesAboveEightBitsAreIgnored) {
    const Bytes redRgb = {0, 0, 255, 0};
    for (uint32_t coloursUsed : {4u, UINT32_MAX}) {
        const Bmp files[] = {
            Bmp().colours(coloursUsed).data(redRgb),
            Bmp().colours(coloursUsed).palette(greyTable(2, 4)).data(redRgb),
            Bmp().bits(32).colours(coloursUsed).data(redRgb),
            Bmp()
                .bits(16)
                .bitfields({0xF800, 0x07E0, 0x001F})
                .colours(coloursUsed)
                .data({0x00, 0xF8, 0, 0}),
        };
        for (const Bmp& bmp : files) {
            const ImagePtr image = load(bmp);
            ASSERT_NE(image, nullptr) << bmp.bitCount << " bits, " << coloursUsed << " colours";
            EXPECT_EQ(pixelAt(*image, 0, 0), kRed) << bmp.bitCount << " bits";
        }
    }
    EXPECT_TRUE(recordedMessages().empty());
}

TEST_F(BitmapTest, FileHeaderOffsetLocatesThePixels) {
    // Pixels read right after the table would find the gap's index 0, black.
    Bmp bmp = Bmp().bits(8).colours(2).palette(greyTable(2, 4, 1, kRed)).data({1, 0, 0, 0});
    bmp.gap = Bytes(8, 0);
    const ImagePtr image = load(bmp);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(pixelAt(*image, 0, 0), kRed);
}

TEST_F(BitmapTest, RowsArePackedWithoutPaddingAndBottomFirst) {
    for (int32_t width = 1; width <= 5; ++width) {
        // Stored bottom row first, each padded to 4 bytes; pixel (x, y) is (10x, 100 + y, 7).
        Bmp bmp = Bmp().size(width, 2);
        Bytes expected;
        for (int32_t y = 0; y < 2; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                bmp.pixels.insert(bmp.pixels.end(), {7, uint8_t(100 + y), uint8_t(10 * x)});
                expected.insert(expected.end(), {uint8_t(10 * x), uint8_t(100 + y), 7});
            }
            bmp.pixels.resize((bmp.pixels.size() + 3) / 4 * 4, 0xEE);
        }
        const ImagePtr image = load(bmp);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->width, width);
        ASSERT_EQ(image->height, 2);
        EXPECT_EQ(Bytes(image->rgb, image->rgb + expected.size()), expected) << width;
    }
}

TEST(BitmapRows, EveryWidthSwapsBlueAndRedInEachPixel) {
    // Widths 1 to 17 reach every tail the five-pixel steps leave. Every stored byte differs,
    // so a byte taken from the wrong place shows, and the output is an exact heap block, so
    // AddressSanitizer reports a store past the last row.
    for (int32_t width = 1; width <= 17; ++width) {
        Bmp bmp = Bmp().size(width, 2);
        Bytes expected;
        for (int32_t y = 0; y < 2; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t blue = uint8_t(bmp.pixels.size() + 1);
                bmp.pixels.insert(bmp.pixels.end(), {blue, uint8_t(blue + 1), uint8_t(blue + 2)});
                expected.insert(expected.end(), {uint8_t(blue + 2), uint8_t(blue + 1), blue});
            }
            bmp.pixels.resize((bmp.pixels.size() + 3) / 4 * 4, 0xEE);
        }
        const Bytes file = encode(bmp);
        const ImagePtr image(decodeBitmap(file.data(), file.size()));
        ASSERT_NE(image, nullptr) << width;
        EXPECT_EQ(Bytes(image->rgb, image->rgb + expected.size()), expected) << width;
    }
}

TEST_F(BitmapTest, ByteOrderIsRedGreenBlue) {
    const ImagePtr image = load(Bmp().size(2, 1).data({255, 0, 0, 0, 0, 255, 0, 0}));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Bytes(image->rgb, image->rgb + 6), (Bytes{0, 0, 255, 255, 0, 0}));
}

TEST_F(BitmapTest, CoreSizesAreUnsigned) {
    Bytes pixels(5000, 0);
    pixels.front() = 0x80;
    pixels.back() = 0x01;
    const ImagePtr image =
        load(Bmp().header(12).size(40000, 1).bits(1).palette({0, 0, 0, 0, 255, 0}).data(pixels));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 40000);
    EXPECT_EQ(image->height, 1);
    EXPECT_EQ(pixelAt(*image, 0, 0), kGreen);
    EXPECT_EQ(pixelAt(*image, 1, 0), kBlack);
    EXPECT_EQ(pixelAt(*image, 39999, 0), kGreen);
}

TEST_F(BitmapTest, TopDownImagesComeBackBottomUp) {
    // Stored top row first: red, green, blue from the top.
    const ImagePtr image = load(Bmp().size(1, -3).data({0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0}));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->height, 3);
    EXPECT_EQ(pixelAt(*image, 0, 0), kBlue);
    EXPECT_EQ(pixelAt(*image, 0, 1), kGreen);
    EXPECT_EQ(pixelAt(*image, 0, 2), kRed);
}

TEST_F(BitmapTest, BitfieldMasksAreCarriedWithAndWithoutFileHeader) {
    // Headerless, the pixels follow the masks; if the masks were not skipped, they would be
    // read as pixels.
    for (bool fileHeader : {true, false}) {
        Bmp bmp = Bmp().size(3, 1).bits(16).bitfields({0xF800, 0x07E0, 0x001F});
        bmp.data({0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0});
        if (!fileHeader) bmp.headerless();
        const ImagePtr image = load(bmp);
        ASSERT_NE(image, nullptr) << fileHeader;
        EXPECT_EQ(pixelAt(*image, 0, 0), kRed) << fileHeader;
        EXPECT_EQ(pixelAt(*image, 1, 0), kGreen) << fileHeader;
        EXPECT_EQ(pixelAt(*image, 2, 0), kBlue) << fileHeader;
    }
    EXPECT_TRUE(recordedMessages().empty());
}

// 0 when a 24-bit file decodes to its pixels with blue and red swapped.
int decodesToItsPixels(const Bytes& file, const Bytes& stored) {
    const ImagePtr image(decodeBitmap(file.data(), file.size()));
    if (!image) return 2;
    for (size_t i = 0; i < stored.size(); i += 3) {
        if (image->rgb[i] != stored[i + 2] || image->rgb[i + 1] != stored[i + 1] ||
            image->rgb[i + 2] != stored[i]) {
            return 3;
        }
    }
    return 0;
}

// 1024 × 1024 at 24 bits: surface and output are large blocks; rows need no padding.
Bmp largeBmp() {
    Bmp bmp = Bmp().size(1024, 1024);
    bmp.pixels.resize(size_t{1024} * 1024 * 3);
    for (size_t i = 0; i < bmp.pixels.size(); ++i) bmp.pixels[i] = uint8_t(i * 7 + i / 4093);
    return bmp;
}

#ifdef __linux__
// The rest of the process gets no huge pages, and madvise(MADV_POPULATE_WRITE) fails as on a
// kernel before 5.14. True once both are in force; neither can be taken back.
bool refuseLargePagesAndPopulating() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_madvise, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, MADV_POPULATE_WRITE, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        return false;
    }
    static char page[4096] __attribute__((aligned(4096)));
    return prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0) == 1 &&
           madvise(page, sizeof page, MADV_POPULATE_WRITE) == -1 && errno == EINVAL;
}

TEST(BitmapLargeBlocks, DecodeTheSameWhereHugePagesAndPopulatingAreRefused) {
    const Bmp bmp = largeBmp();
    const Bytes file = encode(bmp);
    ASSERT_EQ(decodesToItsPixels(file, bmp.pixels), 0) << "as the system allows";
    // In a child, since the refusals last for the rest of the process.
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0)
        _exit(refuseLargePagesAndPopulating() ? decodesToItsPixels(file, bmp.pixels) : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not refused, 2: no image, 3: other pixels";
}
#endif

#ifdef _WIN32
// Run again by a lane that may lock no memory (tests/windows.cmake), which sets the variable.
TEST(BitmapLargeBlocks, DecodeTheSameWhereLockingIsRefused) {
    if (std::getenv("BLENDSPIN_LOCKING_REFUSED") == nullptr) GTEST_SKIP() << "locking allowed";
    const size_t probeBytes = size_t{1} << 20;
    void* probe = VirtualAlloc(nullptr, probeBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(probe, nullptr);
    const bool locked = VirtualLock(probe, probeBytes);
    VirtualFree(probe, 0, MEM_RELEASE);
    ASSERT_FALSE(locked) << "locking is not refused";
    const Bmp bmp = largeBmp();
    EXPECT_EQ(decodesToItsPixels(encode(bmp), bmp.pixels), 0);
}
#endif

}  // namespace
