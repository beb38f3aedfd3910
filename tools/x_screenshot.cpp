// Saves what an X window shows (the root window unless a window id is given) as a PNG.
// Usage: x_screenshot OUTPUT.png [WINDOW_ID]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;
using ImageHandle = std::unique_ptr<XImage, ImageDestroyer>;

// Xlib reports protocol errors (a bad window id, an unviewable window) asynchronously through
// a handler whose default exits the process; this one only remembers that one happened.
int lastXError = 0;

int recordXError(Display*, XErrorEvent* event) {
    lastXError = event->error_code;
    return 0;
}

// How one colour channel sits in a pixel value: its mask, shifted down to bit 0, and the shift.
struct Channel {
    unsigned long mask = 0;
    int shift = 0;
};

Channel channelFromMask(unsigned long mask) {
    Channel channel;
    if (mask == 0) return channel;
    while ((mask & 1) == 0) {
        mask >>= 1;
        ++channel.shift;
    }
    channel.mask = mask;
    return channel;
}

png_byte scaleTo8Bits(unsigned long pixel, const Channel& channel) {
    if (channel.mask == 0) return 0;
    return static_cast<png_byte>(((pixel >> channel.shift) & channel.mask) * 255 / channel.mask);
}

bool parseWindowId(const char* text, Window& window) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value == 0 || value > 0xFFFFFFFFull) {
        return false;
    }
    window = static_cast<Window>(value);
    return true;
}

// Only TrueColor visuals carry their colours in the pixel value itself, which every X server
// we run on (Xvfb at depth 24, desktop servers at 24 or 32) provides.
ImageHandle grabWindow(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        std::fputs("x_screenshot: no such window\n", stderr);
        return nullptr;
    }
    if (attributes.visual->c_class != TrueColor) {
        std::fputs("x_screenshot: only TrueColor visuals are supported\n", stderr);
        return nullptr;
    }
    ImageHandle image(
        XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap));
    XSync(display, False);
    if (!image || lastXError != 0) {
        std::fputs("x_screenshot: the window's contents cannot be read (is it mapped?)\n", stderr);
        return nullptr;
    }
    // Some servers leave the masks of the returned image empty; the visual always has them.
    image->red_mask = attributes.visual->red_mask;
    image->green_mask = attributes.visual->green_mask;
    image->blue_mask = attributes.visual->blue_mask;
    return image;
}

std::vector<png_byte> toRgb(XImage* image) {
    const Channel red = channelFromMask(image->red_mask);
    const Channel green = channelFromMask(image->green_mask);
    const Channel blue = channelFromMask(image->blue_mask);
    std::vector<png_byte> rgb;
    rgb.reserve(static_cast<size_t>(image->width) * image->height * 3);
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            rgb.push_back(scaleTo8Bits(pixel, red));
            rgb.push_back(scaleTo8Bits(pixel, green));
            rgb.push_back(scaleTo8Bits(pixel, blue));
        }
    }
    return rgb;
}

bool writePng(const char* path, int width, int height, const std::vector<png_byte>& rgb) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, path, 0, rgb.data(), width * 3, nullptr)) {
        std::fprintf(stderr, "x_screenshot: %s: %s\n", path, png.message);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Window window = 0;
    if (argc < 2 || argc > 3 || (argc == 3 && !parseWindowId(argv[2], window))) {
        std::fputs("usage: x_screenshot OUTPUT.png [WINDOW_ID]\n", stderr);
        return 2;
    }
    DisplayHandle display(XOpenDisplay(nullptr));
    if (!display) {
        std::fprintf(stderr, "x_screenshot: cannot open display \"%s\"\n", XDisplayName(nullptr));
        return 1;
    }
    XSetErrorHandler(recordXError);
    if (window == 0) window = DefaultRootWindow(display.get());

    const ImageHandle image = grabWindow(display.get(), window);
    if (!image) return 1;
    const std::vector<png_byte> rgb = toRgb(image.get());
    return writePng(argv[1], image->width, image->height, rgb) ? 0 : 1;
}
