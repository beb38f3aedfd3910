#include "image/bitmap.h"

#include <sys/stat.h>

#if defined(__x86_64__) || defined(__i386__)
#define BLENDSPIN_X86 1
#include <tmmintrin.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "image/byte_reader.h"
#include "image/checked_size.h"
#include "image/dib.h"
#include "image/fresh_memory.h"
#include "image/mapped_file.h"
#include "image/message_box.h"

unsigned char showErrorPopups = 1;

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kPixelOffsetField = 10;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr size_t kCoreBitCountField = 10;
constexpr size_t kInfoBitCountField = 14;
constexpr size_t kColoursUsedField = 32;
constexpr size_t kCoreEntrySize = 3;
constexpr size_t kInfoEntrySize = 4;

// The widest image a core header can describe, so every core image passes the side check;
// the surface limit is what bounds the memory a header can ask for.
constexpr int64_t kMaxSide = 65535;
constexpr uint64_t kMaxSurfaceBytes = uint64_t{1} << 30;

constexpr size_t kMessageBufferSize = 256;
constexpr const char* kCaption = "Error";

enum class Failure { None, OutOfMemory, UnknownFormat, ConversionError };

using PixelBlock = std::unique_ptr<unsigned char, FreeDeleter>;

void report(Failure failure) {
    if (failure == Failure::None || !showErrorPopups) return;
    const char* text = "Image file conversion error.";
    if (failure == Failure::OutOfMemory) text = "Out of memory.";
    if (failure == Failure::UnknownFormat) text = "Unknown DIB file format.";
    showModalMessage(text, kCaption);
}

void reportOpenFailure(const char* name) {
    if (!showErrorPopups) return;
    char text[kMessageBufferSize];
    // A name too long for the buffer is cut; snprintf never writes past it.
    std::snprintf(text, sizeof text, "Failed to open DIB file %s.\n", name);
    showModalMessage(text, kCaption);
}

std::optional<uint16_t> u16At(ByteReader reader, size_t offset) {
    if (!reader.seek(offset)) return std::nullopt;
    return reader.readU16();
}

std::optional<uint32_t> u32At(ByteReader reader, size_t offset) {
    if (!reader.seek(offset)) return std::nullopt;
    return reader.readU32();
}

// Reads consecutive header fields; a field the bytes do not hold reads 0 and clears `complete`.
class FieldReader {
public:
    explicit FieldReader(ByteReader reader) : reader_(reader) {}

    bool complete() const { return complete_; }
    ByteReader& reader() { return reader_; }

    uint16_t u16() { return take(reader_.readU16()); }
    uint32_t u32() { return take(reader_.readU32()); }
    int32_t s32() { return take(reader_.readS32()); }

private:
    template <typename T>
    T take(std::optional<T> value) {
        complete_ = complete_ && value.has_value();
        return value.value_or(0);
    }

    ByteReader reader_;
    bool complete_ = true;
};

uint16_t defaultEntryCount(uint16_t bitCount) {
    switch (bitCount) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

// Where a header's colour table lies, relative to the header, and how many entries a
// headerless file stores there before its pixels.
struct TableLayout {
    size_t offset = 0;  // after the header and any masks
    size_t entrySize = 0;
    uint32_t stored = 0;
};

// Entries a file stores in its table: colours used when given, else what the bit count
// indexes. Windows' own converter skips at most 256 before the pixels, so this does too.
uint32_t storedEntryCount(uint32_t coloursUsed, uint16_t bitCount) {
    if (coloursUsed == 0) return defaultEntryCount(bitCount);
    return std::min<uint32_t>(coloursUsed, kMaxPaletteEntries);
}

Failure normaliseCore(ByteReader header, uint16_t entries, DibDescription& description,
                      TableLayout& table) {
    FieldReader fields(header);
    InfoHeader& info = description.header;
    fields.u32();  // the header size, 12 here; the description is always an info header
    info.size = kInfoHeaderSize;
    // Core sizes are unsigned 16-bit: 40000 stays 40000.
    info.width = fields.u16();
    info.height = fields.u16();
    info.planes = fields.u16();
    info.bitCount = fields.u16();
    if (!fields.complete()) return Failure::UnknownFormat;
    info.compression = static_cast<uint32_t>(Compression::Rgb);
    info.imageSize = 0;
    info.xPixelsPerMetre = 0;
    info.yPixelsPerMetre = 0;
    info.coloursUsed = entries;
    info.coloursImportant = entries;
    table = TableLayout{fields.reader().position(), kCoreEntrySize, entries};
    return Failure::None;
}

Failure normaliseInfo(ByteReader header, uint16_t entries, DibDescription& description,
                      TableLayout& table) {
    FieldReader fields(header);
    InfoHeader& info = description.header;
    info.size = fields.u32();
    info.width = fields.s32();
    info.height = fields.s32();
    info.planes = fields.u16();
    info.bitCount = fields.u16();
    info.compression = fields.u32();
    info.imageSize = fields.u32();
    info.xPixelsPerMetre = fields.s32();
    info.yPixelsPerMetre = fields.s32();
    const uint32_t coloursUsed = fields.u32();
    info.coloursImportant = fields.u32();
    info.coloursUsed = entries;  // narrowed later to the entries really carried
    if (!fields.complete()) return Failure::UnknownFormat;

    if (info.compression == static_cast<uint32_t>(Compression::Bitfields)) {
        // The masks sit between the header and the colour table.
        description.masks = ColourMasks{fields.u32(), fields.u32(), fields.u32()};
        if (!fields.complete()) return Failure::ConversionError;
    }
    table = TableLayout{fields.reader().position(), kInfoEntrySize,
                        storedEntryCount(coloursUsed, info.bitCount)};
    return Failure::None;
}

Failure normalise(ByteReader header, uint16_t entries, DibDescription& description,
                  TableLayout& table) {
    const std::optional<uint32_t> size = u32At(header, 0);
    if (size == kCoreHeaderSize) return normaliseCore(header, entries, description, table);
    if (size == kInfoHeaderSize) return normaliseInfo(header, entries, description, table);
    return Failure::UnknownFormat;
}

// Core entries have 3 bytes and are widened to 4, with the reserved byte 0.
Failure readTable(ByteReader table, size_t entrySize, DibDescription& description) {
    const uint32_t entries = description.header.coloursUsed;
    const uint8_t* bytes = table.take(entries * entrySize);
    if (bytes == nullptr) return Failure::ConversionError;
    // Bit-field masks take the table's place in the description: no bit-field pixel indexes it.
    if (description.header.compression == static_cast<uint32_t>(Compression::Bitfields)) {
        return Failure::None;
    }
    for (uint32_t index = 0; index < entries; ++index, bytes += entrySize) {
        const uint8_t reserved = entrySize == kInfoEntrySize ? bytes[3] : 0;
        description.colours[index] = PaletteEntry{bytes[0], bytes[1], bytes[2], reserved};
    }
    return Failure::None;
}

// Rejects what no surface should be made for, before anything is allocated for it.
Failure checkDimensions(const InfoHeader& info) {
    if (info.width <= 0 || info.height == 0) return Failure::ConversionError;
    const uint32_t rows = rowCount(info);
    if (info.width > kMaxSide || rows > kMaxSide) return Failure::OutOfMemory;
    const size_t stride = (size_t(info.width) * 3 + 3) / 4 * 4;
    const std::optional<size_t> bytes = checkedProduct(stride, rows);
    if (!bytes || *bytes > kMaxSurfaceBytes) return Failure::OutOfMemory;
    return Failure::None;
}

// Rows in whole bytes, not padded to 4: the size of uncompressed data with no padding.
void fillImageSize(InfoHeader& info) {
    if (info.imageSize != 0) return;
    const uint64_t rowBytes = (uint64_t(info.width) * info.bitCount + 7) / 8;
    const uint64_t total = rowBytes * rowCount(info);
    // Only bit counts the converter refuses get this far; it never trusts this field anyway.
    info.imageSize = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
}

#ifdef BLENDSPIN_X86
// Blue and red trade places in five pixels a step: a 16-byte load holds them and one byte
// more, which the shuffle leaves where it is and the next step or the caller's scalar tail
// rewrites. A step runs only while 16 bytes of the row remain, so nothing outside the row is
// read or written. Returns the number of bytes done.
__attribute__((target("ssse3"))) size_t swapRowSsse3(const uint8_t* __restrict bgr,
                                                     unsigned char* __restrict rgb,
                                                     size_t rowBytes) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    size_t offset = 0;
    for (; offset + 16 <= rowBytes; offset += 15) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + offset));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + offset), _mm_shuffle_epi8(pixels, order));
    }
    return offset;
}

// SSSE3's byte shuffle does a step in one instruction; SSE2's shifts and masks took six and
// made a 24-bit load about 15% slower. Every x86-64 processor of the last decade has SSSE3, but
// the build targets the baseline, so it is asked for at run time; without it the scalar loop
// does the whole row.
bool hasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

void copyRowAsRgb(const uint8_t* __restrict bgr, unsigned char* __restrict rgb, uint32_t width) {
    const size_t rowBytes = size_t{width} * 3;
    size_t offset = 0;
#ifdef BLENDSPIN_X86
    if (hasSsse3()) offset = swapRowSsse3(bgr, rgb, rowBytes);
#endif
    for (; offset < rowBytes; offset += 3) {
        rgb[offset] = bgr[offset + 2];
        rgb[offset + 1] = bgr[offset + 1];
        rgb[offset + 2] = bgr[offset];
    }
}

// Surface rows follow the file's order; a top-down image is turned bottom-up here, so every
// record has a positive height and bottom row first.
Failure extract(const InfoHeader& info, const Surface& surface, Image*& image) {
    const uint32_t width = static_cast<uint32_t>(info.width);
    const uint32_t rows = rowCount(info);
    const size_t rowBytes = size_t{width} * 3;
    // Bounded by the surface's size, which checkDimensions has bounded.
    PixelBlock rgb(static_cast<unsigned char*>(allocateForFill(rowBytes * rows)));
    if (!rgb) return Failure::OutOfMemory;
    const bool topDown = info.height < 0;
    for (uint32_t row = 0; row < rows; ++row) {
        const uint32_t source = topDown ? rows - 1 - row : row;
        copyRowAsRgb(surface.row(source), rgb.get() + row * rowBytes, width);
    }

    image = static_cast<Image*>(std::malloc(sizeof(Image)));
    if (image == nullptr) return Failure::OutOfMemory;
    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(rows);
    image->rgb = rgb.release();
    return Failure::None;
}

// Where the pixels start: at the file header's offset, or right after every entry that a
// headerless file's table stores, indexed or not. Not yet checked against the file's length.
size_t pixelOffsetOf(const uint8_t* file, size_t size, bool hasFileHeader, size_t tableOffset,
                     const TableLayout& table) {
    if (hasFileHeader) return u32At(ByteReader(file, size), kPixelOffsetField).value_or(0);
    return tableOffset + table.stored * table.entrySize;
}

// No pixel of more than 8 bits indexes the table, so such a table is carried only as far as
// the file holds it before the pixels; writers announce colours they never store.
void boundUnindexedTable(InfoHeader& info, size_t tableOffset, size_t pixelOffset) {
    if (info.bitCount <= 8) return;
    const size_t room = pixelOffset > tableOffset ? pixelOffset - tableOffset : 0;
    info.coloursUsed = std::min<size_t>(info.coloursUsed, room / kInfoEntrySize);
}

Failure decode(const uint8_t* file, size_t size, PixelConverter convert, Image*& image) {
    const bool hasFileHeader = size >= 2 && file[0] == 'B' && file[1] == 'M';
    const size_t headerOffset = std::min(hasFileHeader ? kFileHeaderSize : 0, size);
    const ByteReader header(file + headerOffset, size - headerOffset);
    const uint16_t entries = paletteEntryCount(file + headerOffset, size - headerOffset);

    DescriptionBlock description(allocateDescription());
    if (!description) return Failure::OutOfMemory;
    TableLayout table;
    Failure failure = normalise(header, entries, *description, table);
    if (failure != Failure::None) return failure;
    InfoHeader& info = description->header;
    const size_t tableOffset = headerOffset + table.offset;
    const size_t pixelOffset = pixelOffsetOf(file, size, hasFileHeader, tableOffset, table);
    boundUnindexedTable(info, tableOffset, std::min(pixelOffset, size));
    ByteReader tableBytes(file + tableOffset, size - tableOffset);
    if ((failure = readTable(tableBytes, table.entrySize, *description)) != Failure::None) {
        return failure;
    }
    if ((failure = checkDimensions(info)) != Failure::None) return failure;
    fillImageSize(info);
    if (pixelOffset > size) return Failure::ConversionError;

    const Surface surface = Surface::create(static_cast<uint32_t>(info.width), rowCount(info));
    if (!surface) return Failure::OutOfMemory;
    if (convert(*description, file + pixelOffset, size - pixelOffset, surface) == 0) {
        return Failure::ConversionError;
    }
    return extract(info, surface, image);
}

bool isRegularFile(const char* name) {
    struct stat status;
    return stat(name, &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

uint16_t paletteEntryCount(const uint8_t* header, size_t available) {
    const ByteReader reader(header, header != nullptr ? available : 0);
    const bool core = u32At(reader, 0) == kCoreHeaderSize;
    const uint16_t bitCount =
        u16At(reader, core ? kCoreBitCountField : kInfoBitCountField).value_or(0);
    const uint32_t coloursUsed = core ? 0 : u32At(reader, kColoursUsedField).value_or(0);
    if (coloursUsed == 0) return defaultEntryCount(bitCount);
    // Entries no pixel can index are dropped; bounding the full 32-bit value also keeps 65536
    // and more from wrapping to 0 entries.
    const uint32_t indexable =
        bitCount <= 8 ? uint32_t{1} << bitCount : static_cast<uint32_t>(kMaxPaletteEntries);
    return static_cast<uint16_t>(std::min(coloursUsed, indexable));
}

Image* readImageFile(const char* name) {
    if (name == nullptr) return nullptr;
    // fopen succeeds on a directory and blocks on a FIFO, so only a regular file is probed.
    if (!isRegularFile(name)) return nullptr;
    FILE* probe = std::fopen(name, "r");
    if (probe == nullptr) return nullptr;
    std::fclose(probe);
    return loadBitmap(name);
}

Image* loadBitmap(const char* name) {
    if (name == nullptr) return nullptr;
    const MappedFile file = MappedFile::open(name);
    if (!file) {
        reportOpenFailure(name);
        return nullptr;
    }
    return decodeBitmap(file.data(), file.size());
}

Image* decodeBitmap(const uint8_t* file, size_t size) {
    return decodeBitmapWith(file, size, convertToSurface);
}

Image* decodeBitmapWith(const uint8_t* file, size_t size, PixelConverter convert) {
    Image* image = nullptr;
    report(file != nullptr ? decode(file, size, convert, image) : Failure::UnknownFormat);
    return image;
}
