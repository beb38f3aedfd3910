// The bitmap services where the platform has none of its own: descriptions and surfaces from
// the C heap, conversion by the portable converter.

#include <cstdlib>

#include "image/dib.h"

DibDescription* allocateDescription() {
    return static_cast<DibDescription*>(std::malloc(sizeof(DibDescription)));
}

void releaseDescription(DibDescription* description) {
    std::free(description);
}

Surface Surface::create(uint32_t width, uint32_t rows) {
    Surface surface;
    if (width == 0 || rows == 0) return surface;
    if (size_t{width} > (SIZE_MAX - 3) / 3) return surface;  // only possible with 32-bit size_t
    const size_t stride = (size_t{width} * 3 + 3) & ~size_t{3};
    if (rows > SIZE_MAX / stride) return surface;
    void* bits = std::calloc(rows, stride);
    if (!bits) return surface;
    surface.owner_ = bits;
    surface.bits_ = static_cast<uint8_t*>(bits);
    surface.width_ = width;
    surface.rows_ = rows;
    surface.stride_ = stride;
    return surface;
}

Surface::~Surface() {
    std::free(owner_);
}

uint32_t convertToSurface(const DibDescription& description, const uint8_t* pixels,
                          size_t available, const Surface& surface) {
    return renderDibPixels(description, pixels, available, surface);
}
