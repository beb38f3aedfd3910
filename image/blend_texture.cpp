#include "image/blend_texture.h"

#include <GL/gl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>

#include "image/bitmap.h"
#include "image/checked_size.h"
#include "image/fresh_memory.h"

const char colourImageName[] = "1024.bmp";
const char alphaImageName[] = "1024a.bmp";

namespace {

constexpr size_t kTexelBytes = 4;
constexpr unsigned char kOpaque = 255;

// The block from new, and where in it the texels start: a large block has a large page more,
// so that they can start on one and be backed by them.
struct Staging {
    std::unique_ptr<unsigned char[]> block;
    unsigned char* texels = nullptr;
};

size_t pixelCount(const Image& image) {
    return static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
}

// Empty when the block cannot be had; the size is checked before it is formed.
Staging allocateStaging(const Image& colour) {
    if (colour.width <= 0 || colour.height <= 0) return {};
    const std::optional<size_t> bytes = checkedProduct(pixelCount(colour), kTexelBytes);
    if (!bytes) return {};
    Staging staging;
    if (!suitsLargePages(*bytes)) {
        staging.block.reset(new (std::nothrow) unsigned char[*bytes]);
        staging.texels = staging.block.get();
        return staging;
    }
    const std::optional<size_t> span = largePageMultiple(*bytes);
    if (!span || *span > SIZE_MAX - kLargePageBytes) return {};
    staging.block.reset(new (std::nothrow) unsigned char[*span + kLargePageBytes]);
    if (!staging.block) return {};
    staging.texels = reinterpret_cast<unsigned char*>(
        largePageAbove(reinterpret_cast<uintptr_t>(staging.block.get())));
    prepareForFill(staging.texels, *bytes, *span);
    return staging;
}

// Texel j takes colour pixel j and the red byte of alpha pixel j. Texels past the end of the
// alpha image (or all of them, without one) are opaque, so nothing reads beyond it.
void fillStaging(unsigned char* staging, const Image& colour, const Image* alpha) {
    const size_t pixels = pixelCount(colour);
    const size_t alphaPixels = alpha != nullptr ? pixelCount(*alpha) : 0;
    const size_t paired = pixels < alphaPixels ? pixels : alphaPixels;
    const unsigned char* rgb = colour.rgb;
    size_t j = 0;
    for (; j < paired; ++j) {
        staging[kTexelBytes * j + 0] = rgb[3 * j + 0];
        staging[kTexelBytes * j + 1] = rgb[3 * j + 1];
        staging[kTexelBytes * j + 2] = rgb[3 * j + 2];
        staging[kTexelBytes * j + 3] = alpha->rgb[3 * j];
    }
    for (; j < pixels; ++j) {
        staging[kTexelBytes * j + 0] = rgb[3 * j + 0];
        staging[kTexelBytes * j + 1] = rgb[3 * j + 1];
        staging[kTexelBytes * j + 2] = rgb[3 * j + 2];
        staging[kTexelBytes * j + 3] = kOpaque;
    }
}

GLuint uploadTexture(const Image& colour, const Image* alpha) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);

    const Staging staging = allocateStaging(colour);
    if (!staging.block) {
        // No texels, no texture: deleting it also unbinds it, so the squares draw untextured.
        glDeleteTextures(1, &name);
        return 0;
    }
    fillStaging(staging.texels, colour, alpha);
    // Rows are width × 4 bytes, so GL's default unpack alignment of 4 fits.
    glTexImage2D(GL_TEXTURE_2D, 0, 4, colour.width, colour.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 staging.texels);
    return name;
}

}  // namespace

uint32_t buildBlendTexture(const char* colourName, const char* alphaName) {
    ImagePtr colour(readImageFile(colourName));
    ImagePtr alpha(readImageFile(alphaName));

    GLuint name = 0;
    if (colour) {
        name = uploadTexture(*colour, alpha.get());
        colour.reset();  // the staging block has gone already
    }
    alpha.reset();
    return name;
}
