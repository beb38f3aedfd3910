// The bitmap services of Windows: descriptions from the local heap, surfaces as 24-bit DIB
// sections selected into a memory context, conversion by SetDIBits. SetDIBits takes no length,
// so it is only ever handed data it cannot read past: whole rows that the data holds, or a
// run-length stream copied up to its last complete command and closed with an end of bitmap.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "image/dib.h"
#include "image/fresh_memory.h"
#include "image/image.h"

static_assert(sizeof(InfoHeader) == sizeof(BITMAPINFOHEADER));
static_assert(sizeof(PaletteEntry) == sizeof(RGBQUAD));
static_assert(offsetof(DibDescription, colours) == offsetof(BITMAPINFO, bmiColors));

namespace {

// Released in the loader's clean-up order: the context, the section, then its description.
struct GdiSurface {
    HDC context = nullptr;
    HBITMAP section = nullptr;
    BITMAPINFO* target = nullptr;

    GdiSurface() = default;
    GdiSurface(const GdiSurface&) = delete;
    GdiSurface& operator=(const GdiSurface&) = delete;
    ~GdiSurface() {
        if (context != nullptr) DeleteDC(context);
        if (section != nullptr) DeleteObject(section);
        if (target != nullptr) LocalFree(target);
    }
};

const BITMAPINFO* asBitmapInfo(const DibDescription& description) {
    return reinterpret_cast<const BITMAPINFO*>(&description);
}

// 24 bits, no compression, bottom-up.
BITMAPINFO* describeTarget(uint32_t width, uint32_t rows) {
    auto* target = static_cast<BITMAPINFO*>(LocalAlloc(LMEM_ZEROINIT, sizeof(BITMAPINFO)));
    if (target == nullptr) return nullptr;
    BITMAPINFOHEADER& header = target->bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = static_cast<LONG>(width);
    header.biHeight = static_cast<LONG>(rows);
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = rows * width * 3;
    return target;
}

uint32_t setBits(const GdiSurface& objects, uint32_t firstLine, uint32_t lines, const void* pixels,
                 const BITMAPINFO* description) {
    const int converted = SetDIBits(objects.context, objects.section, firstLine, lines, pixels,
                                    description, DIB_RGB_COLORS);
    if (converted <= 0) return 0;
    GdiFlush();
    return static_cast<uint32_t>(converted);
}

// The whole pixels of a row that the data holds only in part go to GDI as a row of their own
// width, copied and padded, since GDI reads a row to its padded end; it then writes only those
// pixels of the surface's row. False when there is not one whole pixel, or GDI fails.
bool convertPartialRow(DibDescription source, uint32_t row, const uint8_t* bytes, size_t available,
                       const GdiSurface& objects) {
    const uint32_t bits = source.header.bitCount;
    const uint64_t whole = bits >= 8 ? available / (bits / 8) : uint64_t{available} * (8 / bits);
    const uint32_t pixels = static_cast<uint32_t>(
        std::min<uint64_t>(whole, static_cast<uint64_t>(source.header.width)));
    if (pixels == 0) return false;
    const std::optional<size_t> stride = sourceStride(pixels, bits);
    if (!stride) return false;
    std::unique_ptr<uint8_t, FreeDeleter> copy(static_cast<uint8_t*>(std::calloc(1, *stride)));
    if (!copy) return false;
    std::memcpy(copy.get(), bytes, (size_t{pixels} * bits + 7) / 8);
    source.header.width = static_cast<int32_t>(pixels);
    source.header.imageSize = static_cast<uint32_t>(*stride);
    return setBits(objects, row, 1, copy.get(), asBitmapInfo(source)) != 0;
}

// GDI reads every row it is given to its end: it gets the whole rows the data holds, then the
// pixels of a last row held in part. A top-down source goes to GDI as bottom-up, so its rows
// land in the surface in stored order, which is what the loader expects, and a line count
// short of the height keeps the rows the data holds.
uint32_t convertRows(const DibDescription& description, const uint8_t* pixels, size_t available,
                     const GdiSurface& objects) {
    const InfoHeader& header = description.header;
    const uint32_t rows = rowCount(header);
    DibDescription source = description;
    source.header.height = static_cast<int32_t>(rows);
    const std::optional<size_t> stride =
        sourceStride(static_cast<uint32_t>(header.width), header.bitCount);
    if (!stride) return 0;
    const uint32_t lines = static_cast<uint32_t>(std::min<uint64_t>(rows, available / *stride));
    if (lines > 0 && setBits(objects, 0, lines, pixels, asBitmapInfo(source)) == 0) return 0;
    if (lines == rows) return rows;
    const size_t done = lines * *stride;
    const bool partial = convertPartialRow(source, lines, pixels + done, available - done, objects);
    return partial || lines > 0 ? rows : 0;
}

// The length of the run-length stream up to its last complete command, before any end of
// bitmap. An absolute run cut short by the end of the data counts as far as it has whole
// pixels: `cutPixels` of them at `cutAt`.
struct RleExtent {
    size_t complete = 0;
    size_t cutAt = 0;
    uint32_t cutPixels = 0;
};

RleExtent measureRle(const uint8_t* data, size_t available, uint32_t bits) {
    RleExtent extent;
    size_t at = 0;
    while (available - at >= 2) {
        const uint8_t count = data[at];
        const uint8_t value = data[at + 1];
        size_t length = 2;
        if (count == 0 && value == 1) break;
        if (count == 0 && value == 2) length = 4;
        if (count == 0 && value >= 3) {
            const size_t bytes = (size_t{value} * bits + 7) / 8;
            length = 2 + bytes + (bytes & 1);
            if (length > available - at) {
                extent.cutAt = at + 2;
                extent.cutPixels = static_cast<uint32_t>((available - at - 2) * 8 / bits);
                break;
            }
        }
        if (length > available - at) break;
        at += length;
    }
    extent.complete = at;
    return extent;
}

// The pixel `index` of an absolute run's data.
uint8_t indexAt(const uint8_t* data, uint32_t index, uint32_t bits) {
    if (bits == 8) return data[index];
    return index % 2 == 0 ? data[index / 2] >> 4 : data[index / 2] & 0x0F;
}

// A copy of the description, telling GDI the stream's real length, followed by the stream's
// complete commands, the whole pixels of a cut absolute run as runs of one, and an end of
// bitmap: everything GDI can read lies in the copy.
uint32_t convertRle(const DibDescription& description, const uint8_t* pixels, size_t available,
                    const GdiSurface& objects) {
    const uint32_t bits = description.header.bitCount;
    const RleExtent extent = measureRle(pixels, available, bits);
    if (extent.complete == 0 && extent.cutPixels == 0) return 0;
    const size_t streamBytes = extent.complete + 2 * size_t{extent.cutPixels} + 2;
    const size_t blockBytes = sizeof(DibDescription) + streamBytes;
    std::unique_ptr<uint8_t, FreeDeleter> block(static_cast<uint8_t*>(std::malloc(blockBytes)));
    if (!block) return 0;

    auto* copy = reinterpret_cast<DibDescription*>(block.get());
    std::memcpy(copy, &description, sizeof(DibDescription));
    copy->header.imageSize = static_cast<uint32_t>(streamBytes);
    uint8_t* stream = block.get() + sizeof(DibDescription);
    std::memcpy(stream, pixels, extent.complete);
    uint8_t* end = stream + extent.complete;
    for (uint32_t i = 0; i < extent.cutPixels; ++i) {
        const uint8_t index = indexAt(pixels + extent.cutAt, i, bits);
        *end++ = 1;
        *end++ = bits == 8 ? index : static_cast<uint8_t>(index << 4);
    }
    *end++ = 0;
    *end++ = 1;
    return setBits(objects, 0, rowCount(description.header), stream, asBitmapInfo(*copy)) == 0
               ? 0
               : rowCount(description.header);
}

}  // namespace

DibDescription* allocateDescription() {
    return static_cast<DibDescription*>(LocalAlloc(LMEM_FIXED, sizeof(DibDescription)));
}

void releaseDescription(DibDescription* description) {
    if (description != nullptr) LocalFree(description);
}

Surface Surface::create(uint32_t width, uint32_t rows) {
    Surface surface;
    if (width == 0 || rows == 0 || width > INT32_MAX || rows > INT32_MAX) return surface;
    const uint64_t stride = (uint64_t{width} * 3 + 3) & ~uint64_t{3};
    if (stride * rows > UINT32_MAX) return surface;  // the section's size is a 32-bit field

    std::unique_ptr<GdiSurface> objects(new (std::nothrow) GdiSurface);
    if (!objects) return surface;
    objects->context = CreateCompatibleDC(nullptr);
    if (objects->context == nullptr) return surface;
    objects->target = describeTarget(width, rows);
    if (objects->target == nullptr) return surface;
    void* bits = nullptr;
    objects->section =
        CreateDIBSection(objects->context, objects->target, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (objects->section == nullptr || bits == nullptr) return surface;
    const size_t bytes = static_cast<size_t>(stride * rows);
    if (suitsLargePages(bytes)) prepareForFill(bits, bytes, bytes);
    const HGDIOBJ previous = SelectObject(objects->context, objects->section);
    if (previous == nullptr || previous == HGDI_ERROR) return surface;

    surface.owner_ = objects.release();
    surface.bits_ = static_cast<uint8_t*>(bits);
    surface.width_ = width;
    surface.rows_ = rows;
    surface.stride_ = static_cast<size_t>(stride);
    return surface;
}

Surface::~Surface() {
    delete static_cast<GdiSurface*>(owner_);
}

uint32_t convertToSurface(const DibDescription& description, const uint8_t* pixels,
                          size_t available, const Surface& surface) {
    // GDI accepts more than the portable converter; the same files are refused on every platform.
    if (pixels == nullptr || !describesSurface(description.header, surface) ||
        !encodingAccepted(description)) {
        return 0;
    }
    const GdiSurface& objects = *static_cast<const GdiSurface*>(surface.owner_);
    switch (static_cast<Compression>(description.header.compression)) {
        case Compression::Rle8:
        case Compression::Rle4:
            return convertRle(description, pixels, available, objects);
        default:
            return convertRows(description, pixels, available, objects);
    }
}
