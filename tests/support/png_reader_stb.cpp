// The PNG reader where libpng is not at hand (the Windows tests): stb_image, with libpng's
// rounding of 16-bit samples to 8 bits, so both readers give the same bytes.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>

#include <cstdio>
#include <memory>

#include "tests/support/png_reader.h"

namespace {

struct StbFree {
    void operator()(void* pixels) const { stbi_image_free(pixels); }
};

// png_set_scale_16's formula.
uint8_t scale16(uint16_t sample) {
    return static_cast<uint8_t>((uint32_t{sample} * 255 + 32895) >> 16);
}

}  // namespace

bool readPng(const std::string& path, RgbPicture* picture) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
    if (!file) return false;
    int width = 0;
    int height = 0;
    int channels = 0;
    const bool wide = stbi_is_16_bit_from_file(file.get()) != 0;
    if (wide) {
        std::unique_ptr<stbi_us, StbFree> samples(
            stbi_load_from_file_16(file.get(), &width, &height, &channels, 3));
        if (!samples) return false;
        picture->rgb.resize(size_t(width) * size_t(height) * 3);
        for (size_t i = 0; i < picture->rgb.size(); ++i)
            picture->rgb[i] = scale16(samples.get()[i]);
    } else {
        std::unique_ptr<stbi_uc, StbFree> samples(
            stbi_load_from_file(file.get(), &width, &height, &channels, 3));
        if (!samples) return false;
        picture->rgb.assign(samples.get(), samples.get() + size_t(width) * size_t(height) * 3);
    }
    picture->width = static_cast<uint32_t>(width);
    picture->height = static_cast<uint32_t>(height);
    return true;
}
