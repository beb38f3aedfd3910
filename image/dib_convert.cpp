#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <utility>

#include "image/byte_reader.h"
#include "image/checked_size.h"
#include "image/dib.h"

namespace {

// Blue, green, red and a spare byte: one pixel, sized for a single 4-byte store.
using Bgrx = std::array<uint8_t, 4>;

// Writes `count` pixels of `colourOf(i)` side by side, 3 bytes apart. Each but the last is one
// 4-byte store whose spare byte the next pixel overwrites; the last gets 3 bytes, so nothing
// past it is touched. Unrolled because a loop this short ran at full or half speed depending on
// where the linker placed it (within a 64-byte line or across two); four pixels a turn make
// that difference small.
template <typename ColourOf>
void writePixels(uint8_t* destination, uint32_t count, ColourOf colourOf) {
    if (count == 0) return;
#pragma GCC unroll 4
    for (uint32_t i = 0; i + 1 < count; ++i, destination += 3) {
        const Bgrx colour = colourOf(i);
        std::memcpy(destination, colour.data(), 4);
    }
    const Bgrx last = colourOf(count - 1);
    std::memcpy(destination, last.data(), 3);
}

// A colour for every possible 8-bit index; entries past the file's table stay black, so a
// stray index never reads beyond what the file supplied.
struct Palette {
    Bgrx colours[kMaxPaletteEntries];
};

Palette makePalette(const DibDescription& description) {
    Palette palette{};
    const size_t count = std::min<size_t>(description.header.coloursUsed, kMaxPaletteEntries);
    for (size_t i = 0; i < count; ++i) {
        const PaletteEntry& entry = description.colours[i];
        palette.colours[i] = {entry.blue, entry.green, entry.red, 0};
    }
    return palette;
}

// One colour channel of a bit-field pixel: `(pixel & mask) >> shift` leaves the channel's top
// (at most 8) bits, which `scale` stretches so that their maximum gives 255.
struct Channel {
    uint32_t mask;
    uint32_t shift;
    uint8_t scale[256];
};

struct Channels {
    Channel blue;
    Channel green;
    Channel red;
};

uint32_t lowestSetBit(uint32_t mask) {
    uint32_t bit = 0;
    while ((mask & 1) == 0) {
        mask >>= 1;
        ++bit;
    }
    return bit;
}

uint32_t setBitCount(uint32_t bits) {
    uint32_t count = 0;
    for (; bits != 0; bits &= bits - 1) ++count;
    return count;
}

// Contiguous: adding the lowest set bit carries through the whole run and clears it. The sum
// wraps to 0 for a mask that reaches bit 31, which is still contiguous.
bool isContiguous(uint32_t mask) {
    const uint32_t lowest = mask & (~mask + 1);
    return ((mask + lowest) & mask) == 0;
}

bool masksUsable(const ColourMasks& masks, uint32_t bitCount) {
    const uint32_t pixelBits = bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (uint32_t mask : {masks.red, masks.green, masks.blue}) {
        if (mask == 0 || (mask & ~pixelBits) != 0 || !isContiguous(mask)) return false;
    }
    return (masks.red & masks.green) == 0 && (masks.red & masks.blue) == 0 &&
           (masks.green & masks.blue) == 0;
}

// Expects a non-zero contiguous mask. Wider than 8 bits, the channel keeps its top 8 bits; the
// shift is then at most 24, so no shift ever reaches 32.
Channel makeChannel(uint32_t mask) {
    Channel channel{};
    const uint32_t lowest = lowestSetBit(mask);
    const uint32_t width = setBitCount(mask);
    channel.mask = mask;
    channel.shift = lowest + (width > 8 ? width - 8 : 0);
    const uint32_t maximum = mask >> channel.shift;
    for (uint32_t value = 0; value <= maximum; ++value) {
        channel.scale[value] = static_cast<uint8_t>((value * 255 + maximum / 2) / maximum);
    }
    return channel;
}

Channels makeChannels(const ColourMasks& masks) {
    return {makeChannel(masks.blue), makeChannel(masks.green), makeChannel(masks.red)};
}

// Whole pixels held in the first `bytes` bytes of a row.
size_t pixelsIn(size_t bytes, uint32_t bitCount) {
    return bitCount >= 8 ? bytes / (bitCount / 8) : bytes * (8 / bitCount);
}

// Pixels are packed from the most significant bit of each byte.
template <uint32_t Bits>
void expandIndexes(const uint8_t* source, uint32_t pixels, const Palette& palette,
                   uint8_t* destination) {
    constexpr uint32_t perByte = 8 / Bits;
    constexpr uint32_t indexMask = (1u << Bits) - 1;
    // A whole source byte at a time, with constant shifts, while a pixel still follows the
    // byte, so every 4-byte store's spare byte lands on a pixel still to be written; the rest
    // of the row goes through writePixels.
    uint32_t done = 0;
#pragma GCC unroll 4  // as in writePixels
    for (; done + perByte < pixels; done += perByte, destination += 3 * perByte) {
        const uint32_t byte = source[done / perByte];
        for (uint32_t k = 0; k < perByte; ++k) {
            const Bgrx& colour = palette.colours[(byte >> (8 - Bits - k * Bits)) & indexMask];
            std::memcpy(destination + 3 * k, colour.data(), 4);
        }
    }
    writePixels(destination, pixels - done, [source, done, &palette](uint32_t i) {
        const uint32_t pixel = done + i;
        const uint32_t shift = 8 - Bits - (pixel % perByte) * Bits;
        return palette.colours[(source[pixel / perByte] >> shift) & indexMask];
    });
}

uint8_t channelValue(const Channel& channel, uint32_t pixel) {
    return channel.scale[(pixel & channel.mask) >> channel.shift];
}

template <uint32_t Bytes>
void unpackBitfields(const uint8_t* source, uint32_t pixels, const Channels& channels,
                     uint8_t* destination) {
    writePixels(destination, pixels, [source, &channels](uint32_t i) {
        const uint8_t* at = source + size_t{i} * Bytes;
        uint32_t value = uint32_t{at[0]} | uint32_t{at[1]} << 8;
        if constexpr (Bytes == 4) value |= uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
        return Bgrx{channelValue(channels.blue, value), channelValue(channels.green, value),
                    channelValue(channels.red, value), 0};
    });
}

// Hands each stored row, bounded by the data that is there, to `decodeRow(source, pixels,
// destination)`. A short last row is decoded as far as it holds whole pixels; rows beyond the
// data stay black. 0 when not a single pixel is there.
template <typename DecodeRow>
uint32_t convertRows(const uint8_t* pixels, size_t available, uint32_t bitCount,
                     const Surface& surface, DecodeRow decodeRow) {
    const std::optional<size_t> stride = sourceStride(surface.width(), bitCount);
    if (!stride) return 0;
    ByteReader reader(pixels, available);
    for (uint32_t row = 0; row < surface.rows(); ++row) {
        const size_t bytes = std::min(*stride, reader.remaining());
        const size_t count = std::min<size_t>(pixelsIn(bytes, bitCount), surface.width());
        if (count == 0) {
            if (row == 0) return 0;
            break;
        }
        decodeRow(reader.take(bytes), static_cast<uint32_t>(count), surface.row(row));
    }
    return surface.rows();
}

template <uint32_t Bits>
uint32_t convertIndexedRows(const Palette& palette, const uint8_t* pixels, size_t available,
                            const Surface& surface) {
    return convertRows(pixels, available, Bits, surface,
                       [&palette](const uint8_t* source, uint32_t count, uint8_t* target) {
                           expandIndexes<Bits>(source, count, palette, target);
                       });
}

uint32_t convertIndexed(const DibDescription& description, const uint8_t* pixels, size_t available,
                        const Surface& surface) {
    const Palette palette = makePalette(description);
    switch (description.header.bitCount) {
        case 1:
            return convertIndexedRows<1>(palette, pixels, available, surface);
        case 4:
            return convertIndexedRows<4>(palette, pixels, available, surface);
        case 8:
            return convertIndexedRows<8>(palette, pixels, available, surface);
        default:
            return 0;
    }
}

uint32_t convertRgb24(const uint8_t* pixels, size_t available, const Surface& surface) {
    return convertRows(pixels, available, 24, surface,
                       [](const uint8_t* source, uint32_t count, uint8_t* destination) {
                           std::memcpy(destination, source, size_t{count} * 3);
                       });
}

// Plain 16- and 32-bit pixels are bit fields with fixed masks: 5-5-5 (top bit unused) and
// 8-8-8 (top byte unused).
constexpr ColourMasks kDefaultMasks16 = {0x7C00, 0x03E0, 0x001F};
constexpr ColourMasks kDefaultMasks32 = {0xFF0000, 0x00FF00, 0x0000FF};

// 8-8-8 pixels are stored blue, green, red, unused: already a surface pixel and its spare
// byte, so each is one copy. Their scale tables would map every value to itself.
uint32_t convertBgrx32(const uint8_t* pixels, size_t available, const Surface& surface) {
    return convertRows(pixels, available, 32, surface,
                       [](const uint8_t* source, uint32_t count, uint8_t* destination) {
                           writePixels(destination, count, [source](uint32_t i) {
                               Bgrx colour;
                               std::memcpy(colour.data(), source + size_t{i} * 4, 4);
                               return colour;
                           });
                       });
}

uint32_t convertBitfields(const ColourMasks& masks, uint32_t bitCount, const uint8_t* pixels,
                          size_t available, const Surface& surface) {
    if (bitCount == 32 && masks.red == kDefaultMasks32.red &&
        masks.green == kDefaultMasks32.green && masks.blue == kDefaultMasks32.blue) {
        return convertBgrx32(pixels, available, surface);
    }
    const Channels channels = makeChannels(masks);
    if (bitCount == 16) {
        return convertRows(pixels, available, bitCount, surface,
                           [&channels](const uint8_t* source, uint32_t count, uint8_t* target) {
                               unpackBitfields<2>(source, count, channels, target);
                           });
    }
    return convertRows(pixels, available, bitCount, surface,
                       [&channels](const uint8_t* source, uint32_t count, uint8_t* target) {
                           unpackBitfields<4>(source, count, channels, target);
                       });
}

uint32_t convertUncompressed(const DibDescription& description, const uint8_t* pixels,
                             size_t available, const Surface& surface) {
    switch (description.header.bitCount) {
        case 1:
        case 4:
        case 8:
            return convertIndexed(description, pixels, available, surface);
        case 16:
            return convertBitfields(kDefaultMasks16, 16, pixels, available, surface);
        case 24:
            return convertRgb24(pixels, available, surface);
        case 32:
            return convertBitfields(kDefaultMasks32, 32, pixels, available, surface);
        default:
            return 0;
    }
}

enum class RleState {
    Command,   // a byte pair: a run, or an escape (end of line, end of bitmap, delta, absolute)
    Delta,     // two bytes: how far right and up to move
    Absolute,  // literal pixels, padded to a 16-bit boundary
    Done,
};

// Decodes 8- and 4-bit run-length data, bottom row first. Writes are clipped to the surface
// and never wrap to the next row; every step consumes input or ends, so no stream can hang.
template <uint32_t Bits>
class RleDecoder {
public:
    RleDecoder(const DibDescription& description, const uint8_t* pixels, size_t available,
               const Surface& surface)
        : reader_(pixels, available), palette_(makePalette(description)), surface_(surface) {}

    uint32_t decode() {
        if (reader_.remaining() < 2) return 0;
        RleState state = RleState::Command;
        while (state != RleState::Done) {
            switch (state) {
                case RleState::Command:
                    state = command();
                    break;
                case RleState::Delta:
                    state = delta();
                    break;
                case RleState::Absolute:
                    state = absolute();
                    break;
                case RleState::Done:
                    break;
            }
        }
        return surface_.rows();
    }

private:
    RleState command() {
        const std::optional<uint8_t> count = reader_.readU8();
        const std::optional<uint8_t> value = reader_.readU8();
        if (!count || !value) return RleState::Done;
        if (*count != 0) {
            fill(*count, *value);
            return RleState::Command;
        }
        switch (*value) {
            case 0:
                // Files often end with an end of line after the last row; it writes nothing.
                x_ = 0;
                y_ = std::min(y_ + 1, surface_.rows());
                return RleState::Command;
            case 1:
                return RleState::Done;
            case 2:
                return RleState::Delta;
            default:
                absoluteCount_ = *value;
                return RleState::Absolute;
        }
    }

    RleState delta() {
        const std::optional<uint8_t> right = reader_.readU8();
        const std::optional<uint8_t> up = reader_.readU8();
        if (!right || !up) return RleState::Done;
        advance(*right);
        y_ += *up;
        return y_ < surface_.rows() ? RleState::Command : RleState::Done;
    }

    RleState absolute() {
        size_t bytes = (size_t{absoluteCount_} * Bits + 7) / 8;
        bytes += bytes & 1;
        const size_t present = std::min(bytes, reader_.remaining());
        const uint8_t* source = reader_.take(present);
        const uint32_t count =
            std::min<uint32_t>(absoluteCount_, static_cast<uint32_t>(present * 8 / Bits));
        const uint32_t visible = visiblePixels(count);
        if (visible > 0) expandIndexes<Bits>(source, visible, palette_, destination());
        advance(absoluteCount_);
        return present < bytes ? RleState::Done : RleState::Command;
    }

    // A run of one index (8-bit) or of two alternating indexes, high nibble first (4-bit).
    void fill(uint32_t count, uint8_t value) {
        const uint32_t visible = visiblePixels(count);
        const Bgrx first = palette_.colours[Bits == 8 ? value : value >> 4];
        const Bgrx second = palette_.colours[Bits == 8 ? value : value & 0x0F];
        if (visible > 0) {
            writePixels(destination(), visible,
                        [&first, &second](uint32_t i) { return i % 2 == 0 ? first : second; });
        }
        advance(count);
    }

    uint32_t visiblePixels(uint32_t count) const {
        if (y_ >= surface_.rows() || x_ >= surface_.width()) return 0;
        return std::min(count, surface_.width() - x_);
    }

    uint8_t* destination() const { return surface_.row(y_) + size_t{x_} * 3; }

    // Pixels past the row's end are dropped, so the position stops at the row's end.
    void advance(uint32_t pixels) { x_ = std::min(x_ + pixels, surface_.width()); }

    ByteReader reader_;
    const Palette palette_;
    const Surface& surface_;
    uint32_t x_ = 0;
    uint32_t y_ = 0;
    uint8_t absoluteCount_ = 0;
};

}  // namespace

uint32_t rowCount(const InfoHeader& header) {
    return header.height < 0 ? 0u - static_cast<uint32_t>(header.height)
                             : static_cast<uint32_t>(header.height);
}

std::optional<size_t> sourceStride(uint32_t width, uint32_t bitCount) {
    const std::optional<size_t> bits = checkedProduct(width, bitCount);
    if (!bits || *bits > SIZE_MAX - 31) return std::nullopt;
    return (*bits + 31) / 32 * 4;
}

bool describesSurface(const InfoHeader& header, const Surface& surface) {
    return surface && header.width > 0 && header.height != 0 &&
           surface.width() == static_cast<uint32_t>(header.width) &&
           surface.rows() == rowCount(header);
}

bool encodingAccepted(const DibDescription& description) {
    const InfoHeader& header = description.header;
    const bool bottomUp = header.height > 0;
    switch (static_cast<Compression>(header.compression)) {
        case Compression::Rgb:
            switch (header.bitCount) {
                case 1:
                case 4:
                case 8:
                case 16:
                case 24:
                case 32:
                    return true;
                default:
                    return false;
            }
        case Compression::Bitfields:
            if (header.bitCount != 16 && header.bitCount != 32) return false;
            return masksUsable(description.masks, header.bitCount);
        case Compression::Rle8:
            // Deltas move up the image, which has no sound meaning for top-down rows.
            return header.bitCount == 8 && bottomUp;
        case Compression::Rle4:
            return header.bitCount == 4 && bottomUp;
    }
    return false;
}

uint32_t renderDibPixels(const DibDescription& description, const uint8_t* pixels, size_t available,
                         const Surface& surface) {
    const InfoHeader& header = description.header;
    if (!pixels || !describesSurface(header, surface) || !encodingAccepted(description)) return 0;
    switch (static_cast<Compression>(header.compression)) {
        case Compression::Rgb:
            return convertUncompressed(description, pixels, available, surface);
        case Compression::Bitfields:
            return convertBitfields(description.masks, header.bitCount, pixels, available, surface);
        case Compression::Rle8:
            return RleDecoder<8>(description, pixels, available, surface).decode();
        case Compression::Rle4:
            return RleDecoder<4>(description, pixels, available, surface).decode();
    }
    return 0;
}
