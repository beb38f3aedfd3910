// The bitmap services where the platform has none of its own: descriptions from the C heap,
// surfaces from anonymous mappings, conversion by the portable converter.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>

#include "image/checked_size.h"
#include "image/dib.h"
#include "image/fresh_memory.h"

namespace {

// Whole pages of zeroes, so the surface needs no clearing pass of its own. A large surface
// starts on a large page: the mapping asks for a large page more and gives back what lies
// before and after the aligned part.
void* mapSurface(size_t span) {
    const bool large = suitsLargePages(span);
    if (large && span > SIZE_MAX - kLargePageBytes) return nullptr;
    const size_t length = large ? span + kLargePageBytes : span;
    void* mapped =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    if (!large) return mapped;
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = largePageAbove(start);
    if (aligned > start) munmap(mapped, aligned - start);
    const uintptr_t end = start + length;
    if (end > aligned + span) munmap(reinterpret_cast<void*>(aligned + span), end - aligned - span);
    return reinterpret_cast<void*>(aligned);
}

// What a surface of `bytes` maps: whole large pages for a large one, else whole pages.
std::optional<size_t> surfaceSpan(size_t bytes) {
    if (suitsLargePages(bytes)) return largePageMultiple(bytes);
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (bytes > SIZE_MAX - (page - 1)) return std::nullopt;
    return (bytes + page - 1) / page * page;
}

}  // namespace

DibDescription* allocateDescription() {
    return static_cast<DibDescription*>(std::malloc(sizeof(DibDescription)));
}

void releaseDescription(DibDescription* description) {
    std::free(description);
}

Surface Surface::create(uint32_t width, uint32_t rows) {
    Surface surface;
    if (width == 0 || rows == 0) return surface;
    const std::optional<size_t> rowBytes = checkedProduct(width, 3);
    if (!rowBytes || *rowBytes > SIZE_MAX - 3) return surface;
    const size_t stride = (*rowBytes + 3) & ~size_t{3};
    const std::optional<size_t> bytes = checkedProduct(stride, rows);
    const std::optional<size_t> span = bytes ? surfaceSpan(*bytes) : std::nullopt;
    if (!span) return surface;
    void* bits = mapSurface(*span);
    if (!bits) return surface;
    prepareForFill(bits, *bytes, *span);
    surface.owner_ = bits;
    surface.bits_ = static_cast<uint8_t*>(bits);
    surface.width_ = width;
    surface.rows_ = rows;
    surface.stride_ = stride;
    return surface;
}

Surface::~Surface() {
    if (owner_ != nullptr) munmap(owner_, *surfaceSpan(size_t{rows_} * stride_));
}

uint32_t convertToSurface(const DibDescription& description, const uint8_t* pixels,
                          size_t available, const Surface& surface) {
    return renderDibPixels(description, pixels, available, surface);
}
