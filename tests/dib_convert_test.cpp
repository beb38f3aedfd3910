#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/dib.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Bgr = std::vector<uint8_t>;  // one pixel or a whole row, as the surface stores it

const Bgr kBlack = {0, 0, 0};
const Bgr kRed = {0, 0, 255};
const Bgr kGreen = {0, 255, 0};
const Bgr kBlue = {255, 0, 0};
const Bgr kWhite = {255, 255, 255};

DibDescription describe(int32_t width, int32_t height, uint16_t bitCount,
                        Compression compression = Compression::Rgb) {
    DibDescription description{};
    description.header.size = 40;
    description.header.width = width;
    description.header.height = height;
    description.header.planes = 1;
    description.header.bitCount = bitCount;
    description.header.compression = static_cast<uint32_t>(compression);
    return description;
}

// Palette: 0 black, 1 red, 2 green, 3 blue, 4 white; `used` entries are valid.
DibDescription describeIndexed(int32_t width, int32_t height, uint16_t bitCount,
                               Compression compression = Compression::Rgb, uint32_t used = 5) {
    DibDescription description = describe(width, height, bitCount, compression);
    const PaletteEntry colours[] = {
        {0, 0, 0, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}};
    std::copy(std::begin(colours), std::end(colours), description.colours);
    description.header.coloursUsed = used;
    return description;
}

DibDescription describeBitfields(uint16_t bitCount, uint32_t red, uint32_t green, uint32_t blue,
                                 int32_t width = 1) {
    DibDescription description = describe(width, 1, bitCount, Compression::Bitfields);
    description.masks = {red, green, blue};
    return description;
}

struct Converted {
    uint32_t lines;
    Surface surface;

    Bgr pixel(uint32_t row, uint32_t column) const {
        const uint8_t* at = surface.row(row) + column * 3;
        return Bgr(at, at + 3);
    }
    Bgr row(uint32_t index) const {
        return Bgr(surface.row(index), surface.row(index) + surface.width() * 3);
    }
};

// The pixel data fills an exactly sized heap block, so AddressSanitizer reports a read of even
// one byte past its end.
Converted convert(const DibDescription& description, const Bytes& data) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[data.size()]);
    std::copy(data.begin(), data.end(), exact.get());
    const int32_t height = description.header.height;
    Surface surface = Surface::create(static_cast<uint32_t>(description.header.width),
                                      static_cast<uint32_t>(height < 0 ? -height : height));
    const uint32_t lines = convertToSurface(description, exact.get(), data.size(), surface);
    return {lines, std::move(surface)};
}

Bgr concat(std::initializer_list<Bgr> pixels) {
    Bgr all;
    for (const Bgr& pixel : pixels) all.insert(all.end(), pixel.begin(), pixel.end());
    return all;
}

TEST(Surface, RowsArePaddedToFourBytesAndZeroed) {
    const Surface surface = Surface::create(3, 2);
    ASSERT_TRUE(surface);
    EXPECT_EQ(surface.stride(), 12u);
    EXPECT_EQ(surface.row(1) - surface.row(0), 12);
    EXPECT_EQ(Surface::create(4, 1).stride(), 12u);
    EXPECT_EQ(Surface::create(5, 1).stride(), 16u);
    for (uint32_t row = 0; row < 2; ++row) {
        EXPECT_TRUE(std::all_of(surface.row(row), surface.row(row) + 12,
                                [](uint8_t byte) { return byte == 0; }));
    }
}

TEST(Surface, ImpossibleSizesGiveAnEmptySurface) {
    EXPECT_FALSE(Surface::create(0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_FALSE(Surface::create(0, 4));
    EXPECT_FALSE(Surface::create(4, 0));
}

TEST(Surface, MoveHandsOverThePixels) {
    Surface source = Surface::create(2, 2);
    uint8_t* bits = source.row(0);
    Surface target = std::move(source);
    EXPECT_FALSE(source);
    ASSERT_TRUE(target);
    EXPECT_EQ(target.row(0), bits);
    EXPECT_EQ(target.width(), 2u);
    EXPECT_EQ(target.rows(), 2u);

    Surface other = Surface::create(1, 1);
    other = std::move(target);
    EXPECT_EQ(other.row(0), bits);
}

TEST(Palette, OneBitPixelsComeFromTheMostSignificantBitAndRowsSkipTheirPadding) {
    // Width 9: two data bytes and two padding bytes per row; rows stay in stored order.
    const Converted result = convert(describeIndexed(9, 2, 1, Compression::Rgb, 2),
                                     {0xA0, 0x80, 0xFF, 0xFF, 0x01, 0x00, 0xFF, 0xFF});
    ASSERT_EQ(result.lines, 2u);
    EXPECT_EQ(result.row(0),
              concat({kRed, kBlack, kRed, kBlack, kBlack, kBlack, kBlack, kBlack, kRed}));
    EXPECT_EQ(result.row(1),
              concat({kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kRed, kBlack}));
}

TEST(Palette, FourBitPixelsTakeTheHighNibbleFirst) {
    const Converted result =
        convert(describeIndexed(3, 2, 4), {0x12, 0x30, 0xEE, 0xEE, 0x41, 0x20, 0, 0});
    ASSERT_EQ(result.lines, 2u);
    EXPECT_EQ(result.row(0), concat({kRed, kGreen, kBlue}));
    EXPECT_EQ(result.row(1), concat({kWhite, kRed, kGreen}));
}

TEST(Palette, EightBitPixelsLookUpTheirEntry) {
    const Converted result = convert(describeIndexed(3, 1, 8), {3, 4, 1, 0});
    ASSERT_EQ(result.lines, 1u);
    EXPECT_EQ(result.row(0), concat({kBlue, kWhite, kRed}));
}

TEST(Palette, IndexesPastTheTableAreBlack) {
    // Only two valid entries; the rest of the description's table holds colours that must not
    // be used.
    const Converted eightBit =
        convert(describeIndexed(4, 1, 8, Compression::Rgb, 2), {1, 2, 4, 255});
    EXPECT_EQ(eightBit.row(0), concat({kRed, kBlack, kBlack, kBlack}));

    const Converted fourBit =
        convert(describeIndexed(2, 1, 4, Compression::Rgb, 1), {0x4F, 0, 0, 0});
    EXPECT_EQ(fourBit.row(0), concat({kBlack, kBlack}));
}

// Rows of a width divisible by 4 have no padding, so the last pixel of the last row ends the
// surface's block: a 4-byte store there would overrun it, which AddressSanitizer reports.
TEST(RowEnds, IndexedRowsWithoutPaddingAreWrittenUpToTheirLastPixel) {
    const Bgr table[] = {kBlack, kRed, kGreen, kBlue, kWhite};
    for (uint16_t bits : {1, 4, 8}) {
        for (int32_t width : {4, 8, 16}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, width " << width);
            const uint32_t perByte = 8 / bits;
            const size_t stride = (size_t(width) * bits + 31) / 32 * 4;
            Bytes data(stride * 2, 0);
            Bgr rows[2];
            for (int32_t y = 0; y < 2; ++y) {
                for (int32_t x = 0; x < width; ++x) {
                    // Ends on a colour in every case, so a missing last pixel shows.
                    const uint32_t index = (x + y + 1) % (bits == 1 ? 2 : 5);
                    data[y * stride + x / perByte] |= index << (8 - bits - x % perByte * bits);
                    rows[y].insert(rows[y].end(), table[index].begin(), table[index].end());
                }
            }
            const Converted result = convert(describeIndexed(width, 2, bits), data);
            ASSERT_EQ(result.lines, 2u);
            EXPECT_EQ(result.row(0), rows[0]);
            EXPECT_EQ(result.row(1), rows[1]);
        }
    }
}

TEST(RowEnds, ThirtyTwoBitPixelsLeaveNoSpareByteBehind) {
    // The stored spare bytes are 0xAB: one written past the first row would show in the
    // second, which the data does not reach.
    const Bytes row = {1, 2, 3, 0xAB, 4, 5, 6, 0xAB, 7, 8, 9, 0xAB, 10, 11, 12, 0xAB};
    const Converted cut = convert(describe(4, 2, 32), row);
    ASSERT_EQ(cut.lines, 2u);
    EXPECT_EQ(cut.row(0), (Bgr{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(cut.row(1), Bgr(12, 0));

    Bytes both = row;
    both.insert(both.end(), row.begin(), row.end());
    EXPECT_EQ(convert(describe(4, 2, 32), both).row(1), cut.row(0));
    const Converted fields = convert(describeBitfields(16, 0xF800, 0x07E0, 0x001F, 4),
                                     {0x1F, 0, 0x1F, 0, 0x1F, 0, 0x00, 0xF8});
    EXPECT_EQ(fields.row(0), concat({kBlue, kBlue, kBlue, kRed}));
}

TEST(RowEnds, RleRunsThatEndTheLastRowStopThere) {
    const Converted eight =
        convert(describeIndexed(4, 2, 8, Compression::Rle8), {0, 4, 1, 2, 3, 4, 0, 0, 4, 2, 0, 1});
    ASSERT_EQ(eight.lines, 2u);
    EXPECT_EQ(eight.row(0), concat({kRed, kGreen, kBlue, kWhite}));
    EXPECT_EQ(eight.row(1), concat({kGreen, kGreen, kGreen, kGreen}));

    const Converted four =
        convert(describeIndexed(4, 1, 4, Compression::Rle4), {1, 0x10, 0, 3, 0x23, 0x40, 0, 1});
    ASSERT_EQ(four.lines, 1u);
    EXPECT_EQ(four.row(0), concat({kRed, kGreen, kBlue, kWhite}));
}

TEST(Rgb24, CopiesBlueGreenRedAndSkipsRowPadding) {
    const Converted result =
        convert(describe(3, 2, 24), {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9,  // padding
                                     1,   2, 3, 4, 5,   6, 7, 8, 9,   9, 9, 9});
    ASSERT_EQ(result.lines, 2u);
    EXPECT_EQ(result.row(0), concat({kBlue, kGreen, kRed}));
    EXPECT_EQ(result.row(1), (Bgr{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(Rgb24, TopDownRowsKeepTheirStoredOrder) {
    const Converted result =
        convert(describe(1, -3, 24), {255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0});
    ASSERT_EQ(result.lines, 3u);
    EXPECT_EQ(result.pixel(0, 0), kBlue);
    EXPECT_EQ(result.pixel(1, 0), kGreen);
    EXPECT_EQ(result.pixel(2, 0), kRed);
}

TEST(Bitfields, Plain16BitIsFiveFiveFiveScaledToFullRange) {
    const Converted result = convert(describe(6, 1, 16), {0xFF, 0x7F,    // all channels 31
                                                          0x00, 0x7C,    // red 31
                                                          0x01, 0x00,    // blue 1
                                                          0x00, 0x80,    // unused top bit
                                                          0x10, 0x42,    // 16, 16, 16
                                                          0xE0, 0x03});  // green 31
    ASSERT_EQ(result.lines, 1u);
    EXPECT_EQ(result.pixel(0, 0), kWhite);
    EXPECT_EQ(result.pixel(0, 1), kRed);
    EXPECT_EQ(result.pixel(0, 2), (Bgr{8, 0, 0}));  // round(255 / 31)
    EXPECT_EQ(result.pixel(0, 3), kBlack);
    EXPECT_EQ(result.pixel(0, 4), (Bgr{132, 132, 132}));  // round(16 * 255 / 31)
    EXPECT_EQ(result.pixel(0, 5), kGreen);
}

TEST(Bitfields, FiveSixFiveScalesEachChannelToFullRange) {
    const Converted result = convert(describeBitfields(16, 0xF800, 0x07E0, 0x001F, 4),
                                     {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x20, 0x08});
    ASSERT_EQ(result.lines, 1u);
    EXPECT_EQ(result.pixel(0, 0), kRed);
    EXPECT_EQ(result.pixel(0, 1), kGreen);  // green 63
    EXPECT_EQ(result.pixel(0, 2), kBlue);
    EXPECT_EQ(result.pixel(0, 3), (Bgr{0, 4, 8}));  // green 1 of 63, red 1 of 31
}

TEST(Bitfields, Plain32BitIgnoresTheTopByte) {
    const Converted result = convert(describe(2, 1, 32), {10, 20, 30, 0xFF, 40, 50, 60, 0x80});
    ASSERT_EQ(result.lines, 1u);
    EXPECT_EQ(result.row(0), (Bgr{10, 20, 30, 40, 50, 60}));
}

TEST(Bitfields, MasksMayNameTheChannelsInAnyOrder) {
    // x-b-g-r: red in the lowest byte.
    const Converted result =
        convert(describeBitfields(32, 0x000000FF, 0x0000FF00, 0x00FF0000), {10, 20, 30, 40});
    ASSERT_EQ(result.lines, 1u);
    EXPECT_EQ(result.pixel(0, 0), (Bgr{30, 20, 10}));
}

TEST(Bitfields, MasksWiderThanEightBitsKeepTheirTopBits) {
    // 10-10-10: red 0x3FF, green 0x200, blue 0x1FF.
    const uint32_t tenBits = 0x3FFu << 20 | 0x200u << 10 | 0x1FFu;
    const Converted ten = convert(
        describeBitfields(32, 0x3FF00000, 0x000FFC00, 0x000003FF),
        {uint8_t(tenBits), uint8_t(tenBits >> 8), uint8_t(tenBits >> 16), uint8_t(tenBits >> 24)});
    EXPECT_EQ(ten.pixel(0, 0), (Bgr{127, 128, 255}));

    // 3-10-3 in 16 bits, green 0x155 → 0x55.
    const uint16_t sixteen = 7u << 13 | 0x155u << 3 | 1u;
    const Converted mixed = convert(describeBitfields(16, 0xE000, 0x1FF8, 0x0007),
                                    {uint8_t(sixteen), uint8_t(sixteen >> 8), 0, 0});
    EXPECT_EQ(mixed.pixel(0, 0), (Bgr{36, 0x55, 255}));

    // A 20-bit red that reaches bit 31.
    const Converted top =
        convert(describeBitfields(32, 0xFFFFF000, 0x00000FC0, 0x0000003F), {0, 0x70, 0xAB, 0xCD});
    EXPECT_EQ(top.pixel(0, 0), (Bgr{0, 0, 0xCD}));
    const Converted full =
        convert(describeBitfields(32, 0xFFFFF000, 0x00000FC0, 0x0000003F), {0xFF, 0xFF, 0, 0x80});
    EXPECT_EQ(full.pixel(0, 0), (Bgr{255, 255, 0x80}));
}

TEST(Bitfields, UnusableMasksAreRejected) {
    struct Case {
        uint16_t bitCount;
        uint32_t red, green, blue;
    };
    const Case cases[] = {
        {16, 0xF800, 0x07E0, 0},             // a zero mask
        {16, 0xF800, 0x0FE0, 0x001F},        // red and green overlap
        {16, 0xF0F0, 0x0F00, 0x000F},        // red has a gap
        {16, 0x1F0000, 0x07E0, 0x001F},      // red lies outside 16 bits
        {32, 0xFFFFFFFF, 0x0000FF00, 0xFF},  // the full word overlaps the others
        {32, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
        {32, 0x80000001, 0x0000FF00, 0x00FF0000},  // wraps around: not contiguous
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.red << " " << c.green << " " << c.blue);
        const Converted result =
            convert(describeBitfields(c.bitCount, c.red, c.green, c.blue), Bytes(4, 0xFF));
        EXPECT_EQ(result.lines, 0u);
    }
}

TEST(Encodings, UnacceptedBitCountsAndCompressionsGiveNoLines) {
    struct Case {
        uint16_t bitCount;
        uint32_t compression;
        int32_t height;
    };
    const Case cases[] = {
        {0, 0, 1},  {2, 0, 1},  {3, 0, 1},  {30000, 0, 1},      {24, 3, 1}, {8, 3, 1},
        {24, 4, 1}, {8, 5, 1},  {32, 6, 1}, {8, 99, 1},         {4, 1, 1},  {8, 2, 1},
        {24, 1, 1}, {8, 1, -1}, {4, 2, -1}, {8, 0xFFFFFFFF, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "bits " << c.bitCount << " compression " << c.compression
                                        << " height " << c.height);
        DibDescription description = describeIndexed(1, c.height, c.bitCount);
        description.header.compression = c.compression;
        description.masks = {0xF800, 0x07E0, 0x001F};
        EXPECT_EQ(convert(description, Bytes(64, 0)).lines, 0u);
    }
}

TEST(Encodings, ASurfaceThatDoesNotMatchTheDescriptionGivesNoLines) {
    const DibDescription description = describe(2, 2, 24);
    const Bytes data(16, 0x55);
    EXPECT_EQ(convertToSurface(description, data.data(), data.size(), Surface::create(3, 2)), 0u);
    EXPECT_EQ(convertToSurface(description, data.data(), data.size(), Surface::create(2, 1)), 0u);
    EXPECT_EQ(convertToSurface(description, data.data(), data.size(), Surface()), 0u);
    EXPECT_EQ(
        convertToSurface(describe(-2, 2, 24), data.data(), data.size(), Surface::create(2, 2)), 0u);
}

TEST(Truncated, ShortDataKeepsWholePixelsOfThePartialRowAndLeavesTheRestBlack) {
    // Second row cut after one and a half pixels; the third row is missing.
    const Converted result =
        convert(describe(3, 3, 24), {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 10, 11, 12, 13, 14});
    ASSERT_EQ(result.lines, 3u);
    EXPECT_EQ(result.row(0), (Bgr{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(result.row(1), concat({{10, 11, 12}, kBlack, kBlack}));
    EXPECT_EQ(result.row(2), concat({kBlack, kBlack, kBlack}));
}

TEST(Truncated, OneByteOfOneBitDataHoldsEightPixels) {
    const Converted result = convert(describeIndexed(12, 1, 1, Compression::Rgb, 2), {0xFF});
    ASSERT_EQ(result.lines, 1u);
    EXPECT_EQ(result.pixel(0, 7), kRed);
    EXPECT_EQ(result.pixel(0, 8), kBlack);
}

TEST(Truncated, LessThanOnePixelGivesNoLines) {
    EXPECT_EQ(convert(describe(2, 2, 24), {}).lines, 0u);
    EXPECT_EQ(convert(describe(2, 2, 24), {1, 2}).lines, 0u);
    EXPECT_EQ(convert(describe(2, 2, 32), {1, 2, 3}).lines, 0u);
    EXPECT_EQ(convert(describe(2, 2, 16), {1}).lines, 0u);
    EXPECT_EQ(convert(describeIndexed(2, 2, 8), {}).lines, 0u);
}

TEST(Rle8, DecodesRunsAbsoluteRunsEndOfLineDeltaAndEndOfBitmap) {
    const Converted result = convert(describeIndexed(5, 4, 8, Compression::Rle8),
                                     {
                                         2, 1,           // two red
                                         0, 3, 2, 3, 4,  // absolute: green, blue, white
                                         0,              // padding to a 16-bit boundary
                                         0, 0,           // end of line
                                         1, 3,           // one blue
                                         0, 2, 2, 1,     // delta: right 2, up 1
                                         2, 4,           // two white
                                         0, 1,           // end of bitmap
                                         5, 1,           // never read
                                     });
    ASSERT_EQ(result.lines, 4u);
    EXPECT_EQ(result.row(0), concat({kRed, kRed, kGreen, kBlue, kWhite}));
    EXPECT_EQ(result.row(1), concat({kBlue, kBlack, kBlack, kBlack, kBlack}));
    EXPECT_EQ(result.row(2), concat({kBlack, kBlack, kBlack, kWhite, kWhite}));
    EXPECT_EQ(result.row(3), concat({kBlack, kBlack, kBlack, kBlack, kBlack}));
}

TEST(Rle4, RunsAlternateNibblesHighFirstAndOddAbsoluteRunsArePadded) {
    const Converted result = convert(describeIndexed(5, 2, 4, Compression::Rle4),
                                     {
                                         5, 0x12,                 // red, green, red, green, red
                                         0, 0,                    // end of line
                                         0, 5, 0x34, 0x12, 0x40,  // absolute: 5 nibbles
                                         0,                       // padding
                                         0, 1,                    // end of bitmap
                                     });
    ASSERT_EQ(result.lines, 2u);
    EXPECT_EQ(result.row(0), concat({kRed, kGreen, kRed, kGreen, kRed}));
    EXPECT_EQ(result.row(1), concat({kBlue, kWhite, kRed, kGreen, kWhite}));
}

TEST(RleBounds, RunsPastTheRowEndAreClippedNotWrapped) {
    const Converted eight = convert(describeIndexed(3, 2, 8, Compression::Rle8),
                                    {200, 1, 0, 4, 2, 2, 2, 2, 2, 3, 0, 0, 1, 4, 0, 1});
    ASSERT_EQ(eight.lines, 2u);
    EXPECT_EQ(eight.row(0), concat({kRed, kRed, kRed}));
    EXPECT_EQ(eight.row(1), concat({kWhite, kBlack, kBlack}));

    const Converted four =
        convert(describeIndexed(3, 2, 4, Compression::Rle4), {0, 6, 0x12, 0x34, 0x12, 0, 0, 1});
    ASSERT_EQ(four.lines, 2u);
    EXPECT_EQ(four.row(0), concat({kRed, kGreen, kBlue}));
    EXPECT_EQ(four.row(1), concat({kBlack, kBlack, kBlack}));
}

TEST(RleBounds, NothingIsWrittenAfterADeltaPastTheImage) {
    const Converted result =
        convert(describeIndexed(2, 2, 8, Compression::Rle8), {1, 1, 0, 2, 0, 5, 2, 4, 0, 1});
    ASSERT_EQ(result.lines, 2u);
    EXPECT_EQ(result.row(0), concat({kRed, kBlack}));
    EXPECT_EQ(result.row(1), concat({kBlack, kBlack}));
}

TEST(RleBounds, AStreamThatEndsEarlyKeepsWhatItDecoded) {
    // No end of bitmap; the last absolute run is cut inside its pixels.
    const Converted result =
        convert(describeIndexed(4, 2, 8, Compression::Rle8), {2, 3, 0, 0, 0, 4, 4, 1});
    ASSERT_EQ(result.lines, 2u);
    EXPECT_EQ(result.row(0), concat({kBlue, kBlue, kBlack, kBlack}));
    EXPECT_EQ(result.row(1), concat({kWhite, kRed, kBlack, kBlack}));

    // Cut inside a delta and inside a command.
    for (const Bytes& stream : {Bytes{2, 3, 0, 2, 1}, Bytes{2, 3, 0}}) {
        const Converted cut = convert(describeIndexed(4, 2, 8, Compression::Rle8), stream);
        ASSERT_EQ(cut.lines, 2u);
        EXPECT_EQ(cut.row(0), concat({kBlue, kBlue, kBlack, kBlack}));
    }
}

TEST(RleBounds, TrailingEndOfLineCodesWriteNothing) {
    const Converted result =
        convert(describeIndexed(2, 1, 8, Compression::Rle8), {2, 1, 0, 0, 0, 0, 0, 0, 3, 2, 0, 1});
    ASSERT_EQ(result.lines, 1u);
    EXPECT_EQ(result.row(0), concat({kRed, kRed}));
}

TEST(RleBounds, StreamsWithoutOneWholeCommandGiveNoLines) {
    EXPECT_EQ(convert(describeIndexed(2, 2, 8, Compression::Rle8), {}).lines, 0u);
    EXPECT_EQ(convert(describeIndexed(2, 2, 4, Compression::Rle4), {4}).lines, 0u);
}

TEST(RleBounds, IndexesPastTheTableAreBlack) {
    const Converted result = convert(describeIndexed(5, 1, 8, Compression::Rle8, 2),
                                     {1, 1, 1, 4, 0, 3, 3, 1, 1, 0, 0, 1});
    ASSERT_EQ(result.lines, 1u);
    EXPECT_EQ(result.row(0), concat({kRed, kBlack, kBlack, kRed, kRed}));
}

}  // namespace
