#include "tests/support/png_reader.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

struct PngReadStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
};

// libpng reports errors by longjmp back into this frame, so nothing in it has a destructor;
// `picture` lives in the caller's frame.
bool readRows(png_structp png, png_infop info, FILE* file, RgbPicture* picture) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);    // palette, grey below 8 bits and tRNS become 8-bit samples
    png_set_scale_16(png);  // rounds, where stripping would truncate
    png_set_gray_to_rgb(png);
    png_set_strip_alpha(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes != size_t{width} * 3) return false;
    picture->width = width;
    picture->height = height;
    picture->rgb.assign(rowBytes * height, 0);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) {
            png_read_row(png, picture->rgb.data() + y * rowBytes, nullptr);
        }
    }
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

bool readPng(const std::string& path, RgbPicture* picture) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    PngReadStructs structs;
    structs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!structs.png) return false;
    structs.info = png_create_info_struct(structs.png);
    if (!structs.info) return false;
    return readRows(structs.png, structs.info, file.get(), picture);
}
