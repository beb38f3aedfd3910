#pragma once

// The normalised bitmap description that the loader builds from either header form, and the
// 24-bit surface that the converter renders it into.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

enum class Compression : uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    Bitfields = 3,
};

// The 40-byte info header, field for field.
struct InfoHeader {
    uint32_t size;
    int32_t width;
    int32_t height;  // negative: rows are stored top-down
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t imageSize;
    int32_t xPixelsPerMetre;
    int32_t yPixelsPerMetre;
    uint32_t coloursUsed;  // after normalisation: the number of valid entries in `colours`
    uint32_t coloursImportant;
};

struct PaletteEntry {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t reserved;
};

constexpr size_t kMaxPaletteEntries = 256;

struct ColourMasks {
    uint32_t red;
    uint32_t green;
    uint32_t blue;
};

// Header, then either the colour masks (Compression::Bitfields) or the colour table: the
// layout of the platform's own bitmap description, so it can be handed over unchanged.
struct DibDescription {
    InfoHeader header;
    union {
        PaletteEntry colours[kMaxPaletteEntries];  // first, so `DibDescription{}` zeroes it all
        ColourMasks masks;
    };
};

// From the platform's heap (not zero-filled: every field used is written), or null.
DibDescription* allocateDescription();
void releaseDescription(DibDescription* description);

struct DescriptionRelease {
    void operator()(DibDescription* description) const { releaseDescription(description); }
};
using DescriptionBlock = std::unique_ptr<DibDescription, DescriptionRelease>;

class Surface;

// Rows of the image a header describes, whichever way they are stored.
uint32_t rowCount(const InfoHeader& header);

// Bytes in a stored row of `width` pixels: whole bytes, padded to a multiple of 4. Empty where
// that does not fit in a size_t.
std::optional<size_t> sourceStride(uint32_t width, uint32_t bitCount);

// Whether `surface` exists and has the width and rows that `header` describes.
bool describesSurface(const InfoHeader& header, const Surface& surface);

// The platform's conversion. Renders `available` bytes of pixel data at `pixels` into `surface`,
// which must have |height| rows of width pixels. Never reads outside [pixels, pixels +
// available). Returns the number of lines converted: 0 for an encoding it does not accept or
// when not a single pixel could be read, otherwise |height| (rows the data does not reach stay
// black).
uint32_t convertToSurface(const DibDescription& description, const uint8_t* pixels,
                          size_t available, const Surface& surface);

// Blue, green, red pixels; each row padded to a multiple of 4 bytes; rows in the source's
// stored order. Zero-filled when created, so pixels nobody writes stay black. The platform
// decides where the pixels live and what else a surface holds (`owner_`).
class Surface {
public:
    Surface() = default;
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    Surface(Surface&& other) noexcept { swap(other); }
    Surface& operator=(Surface&& other) noexcept {
        swap(other);
        return *this;
    }
    ~Surface();

    // An empty surface on overflow or allocation failure; callers bound the size first.
    static Surface create(uint32_t width, uint32_t rows);

    explicit operator bool() const { return bits_ != nullptr; }
    uint32_t width() const { return width_; }
    uint32_t rows() const { return rows_; }
    size_t stride() const { return stride_; }
    uint8_t* row(uint32_t index) const { return bits_ + index * stride_; }

private:
    // It reaches the platform objects behind the surface.
    friend uint32_t convertToSurface(const DibDescription&, const uint8_t*, size_t, const Surface&);

    void swap(Surface& other) noexcept {
        std::swap(owner_, other.owner_);
        std::swap(bits_, other.bits_);
        std::swap(width_, other.width_);
        std::swap(rows_, other.rows_);
        std::swap(stride_, other.stride_);
    }

    void* owner_ = nullptr;
    uint8_t* bits_ = nullptr;
    uint32_t width_ = 0;
    uint32_t rows_ = 0;
    size_t stride_ = 0;
};

// Whether the converters render this description's encoding: 1, 4, 8, 16, 24 and 32 bits
// uncompressed; 16 and 32 bits with contiguous, disjoint, non-empty masks; 8- and 4-bit
// run-length data stored bottom-up.
bool encodingAccepted(const DibDescription& description);

// The portable converter, with the contract of `convertToSurface`: the Linux build's
// conversion, and on Windows the reference the platform's is compared with.
uint32_t renderDibPixels(const DibDescription& description, const uint8_t* pixels, size_t available,
                         const Surface& surface);
