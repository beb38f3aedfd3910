// buildBlendTexture in a real GL context (a GLUT window on a private Xvfb), reading BMP files
// that each test writes into a fresh folder of its own.

// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <GL/freeglut.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime; GCC installs no header for it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "image/blend_texture.h"
#include "tests/support/glut_session.h"
#include "tests/support/message_recorder.h"
#include "tests/support/temp_directory.h"
#include "tools/bmp_writer.h"

// ---- Heap accounting: every operator new of the process comes through here, so a test can
// see what a call allocates and can refuse the texture's staging block.

namespace {

std::atomic<uint64_t> newCalls{0};
std::atomic<int64_t> liveNewBlocks{0};
std::atomic<bool> refuseNextNothrowArray{false};

void* countedAllocate(std::size_t size) {
    ++newCalls;
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) ++liveNewBlocks;
    return block;
}

void countedRelease(void* block) {
    if (block == nullptr) return;
    --liveNewBlocks;
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
    void* block = countedAllocate(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (refuseNextNothrowArray.exchange(false)) {
        ++newCalls;
        return nullptr;
    }
    return countedAllocate(size);
}

void operator delete(void* block) noexcept {
    countedRelease(block);
}
void operator delete[](void* block) noexcept {
    countedRelease(block);
}
void operator delete(void* block, std::size_t) noexcept {
    countedRelease(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    countedRelease(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    countedRelease(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    countedRelease(block);
}

namespace {

using bmp_writer::Rgb;

struct HeapUse {
    uint64_t newCalls;
    int64_t liveNewBlocks;
    size_t mallocBytes;  // operator new's blocks included
};

// Exact without AddressSanitizer only while glibc's per-thread cache of freed blocks is off:
// mallinfo2 counts the blocks in that cache as in use. `main` switches it off.
size_t allocatedBytes() {
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps a heap of its own, which mallinfo2 does not see.
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// The count covers the whole process, and the GL's own threads free what earlier drawing left
// (seen: 7600 bytes during a call that allocates nothing); so the GL finishes its work first,
// and the count is read once it keeps still.
HeapUse heapUse() {
    glFinish();
    size_t bytes = allocatedBytes();
    for (int look = 0; look < 50; ++look) {
        usleep(10000);
        const size_t now = allocatedBytes();
        if (now == bytes) break;
        bytes = now;
    }
    return {newCalls.load(), liveNewBlocks.load(), bytes};
}

// ---- Pictures and the BMP files that hold them.

// Pixels bottom row first, the order in which the loader hands them on.
struct Picture {
    int width;
    int height;
    std::vector<Rgb> pixels;
};

unsigned char byte(int value) {
    return static_cast<unsigned char>(value & 0xFF);
}

// A different colour at every pixel.
Picture colourful(int width, int height) {
    Picture picture{width, height, {}};
    for (int j = 0; j < width * height; ++j) {
        picture.pixels.push_back({byte(j * 7 + 1), byte(j * 13 + 101), byte(j * 29 + 203)});
    }
    return picture;
}

// Opacity `step` × j in red; green and blue always differ from red, so reading them shows.
Picture mask(int width, int height, int step) {
    Picture picture{width, height, {}};
    for (int j = 0; j < width * height; ++j) {
        const unsigned char red = byte(j * step);
        picture.pixels.push_back({red, byte(255 - red), byte(red ^ 0x5A)});
    }
    return picture;
}

bmp_writer::Bytes bmpFile(const Picture& picture) {
    return bmp_writer::file24(picture.width, picture.height, [&picture](int x, int y) {
        return picture.pixels[static_cast<size_t>(y) * picture.width + x];
    });
}

// A file whose 124-byte (version 5) header the loader does not read.
bmp_writer::Bytes version5File() {
    const auto white = [](int, int) { return Rgb{255, 255, 255}; };
    return bmp_writer::file24(1, 1, white, bmp_writer::kV5HeaderSize);
}

// ---- What GL holds and shows.

struct Texel {
    int red;
    int green;
    int blue;
    int alpha;
    bool operator==(const Texel& other) const {
        return red == other.red && green == other.green && blue == other.blue &&
               alpha == other.alpha;
    }
};

std::ostream& operator<<(std::ostream& out, const Texel& texel) {
    return out << '(' << texel.red << ' ' << texel.green << ' ' << texel.blue << ' ' << texel.alpha
               << ')';
}

// Colour pixel j with the red of alpha pixel j; opaque where the alpha image has no pixel j.
std::vector<Texel> blended(const Picture& colour, const Picture* alpha) {
    std::vector<Texel> texels;
    for (size_t j = 0; j < colour.pixels.size(); ++j) {
        const Rgb& pixel = colour.pixels[j];
        const int opacity =
            alpha != nullptr && j < alpha->pixels.size() ? alpha->pixels[j].red : 255;
        texels.push_back({pixel.red, pixel.green, pixel.blue, opacity});
    }
    return texels;
}

GLint textureInt(GLenum parameter) {
    GLint value = -1;
    glGetTexParameteriv(GL_TEXTURE_2D, parameter, &value);
    return value;
}

GLint levelInt(GLenum parameter) {
    GLint value = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, parameter, &value);
    return value;
}

GLuint boundTexture() {
    GLint name = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return static_cast<GLuint>(name);
}

// Level 0 of the texture bound to GL_TEXTURE_2D.
std::vector<Texel> boundTexels() {
    const size_t count = static_cast<size_t>(levelInt(GL_TEXTURE_WIDTH)) *
                         static_cast<size_t>(levelInt(GL_TEXTURE_HEIGHT));
    std::vector<unsigned char> bytes(count * 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    std::vector<Texel> texels;
    for (size_t j = 0; j < count; ++j) {
        texels.push_back({bytes[4 * j], bytes[4 * j + 1], bytes[4 * j + 2], bytes[4 * j + 3]});
    }
    return texels;
}

// Draws the bound texture (if any) as the program draws its squares: white, blended over mid
// grey, one texel per pixel with texel centres on pixel centres, into the back buffer.
// Returns what was drawn, bottom row first. The front buffer reads black under Xvfb's
// llvmpipe, so the back buffer is read before any swap.
std::vector<Rgb> drawTexturedSquare(int width, int height) {
    glViewport(0, 0, width, height);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor4f(1, 1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-1, -1);
    glTexCoord2f(1, 0);
    glVertex2f(1, -1);
    glTexCoord2f(1, 1);
    glVertex2f(1, 1);
    glTexCoord2f(0, 1);
    glVertex2f(-1, 1);
    glEnd();
    std::vector<Rgb> pixels(static_cast<size_t>(width) * height);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

// ---- One GL context for the whole run, in the program's rendering state.

class GlEnvironment : public testing::Environment {
public:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(glut_.start("blend_texture_test"));
        glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA);
        glutInitWindowSize(64, 64);
        glutCreateWindow("");
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glClearColor(0.5, 0.5, 0.5, 0.0);
    }

    void TearDown() override { glut_.stop(); }

private:
    GlutSession glut_;
};

testing::Environment* const glEnvironment = testing::AddGlobalTestEnvironment(new GlEnvironment);

class BlendTextureTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.made()) << "cannot make a temporary folder";
        clearRecordedMessages();
        glBindTexture(GL_TEXTURE_2D, 0);
    }

    void TearDown() override {
        for (GLuint name : made_) glDeleteTextures(1, &name);
    }

    std::string path(const std::string& name) const { return folder_.path(name); }

    void write(const std::string& name, const bmp_writer::Bytes& bytes) const {
        bmp_writer::writeFile(path(name), bytes);
    }

    GLuint build(const std::string& colourName, const std::string& alphaName) {
        const GLuint name = buildBlendTexture(path(colourName).c_str(), path(alphaName).c_str());
        if (name != 0) made_.push_back(name);
        return name;
    }

    TempDirectory folder_{"blend_texture_test"};
    std::vector<GLuint> made_;
};

TEST_F(BlendTextureTest, ColourFromOneFileOpacityFromTheRedOfTheOther) {
    Picture colour = colourful(8, 4);
    Picture alpha = mask(8, 4, 8);
    const size_t white = 5, black = 6;
    alpha.pixels[white] = {255, 255, 255};
    alpha.pixels[black] = {0, 0, 0};
    write(colourImageName, bmpFile(colour));
    write(alphaImageName, bmpFile(alpha));

    // The program's own names, resolved against the working directory.
    const std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(folder_.path().c_str()), 0);
    const HeapUse before = heapUse();
    const GLuint name = buildBlendTexture(colourImageName, alphaImageName);
    const HeapUse after = heapUse();
    ASSERT_EQ(chdir(previous.c_str()), 0);
    if (name != 0) made_.push_back(name);

    ASSERT_NE(name, 0u);
    EXPECT_EQ(boundTexture(), name);
    EXPECT_EQ(textureInt(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(textureInt(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(levelInt(GL_TEXTURE_WIDTH), 8);
    EXPECT_EQ(levelInt(GL_TEXTURE_HEIGHT), 4);
    EXPECT_TRUE(levelInt(GL_TEXTURE_INTERNAL_FORMAT) == GL_RGBA ||
                levelInt(GL_TEXTURE_INTERNAL_FORMAT) == 4)
        << levelInt(GL_TEXTURE_INTERNAL_FORMAT);
    EXPECT_GE(levelInt(GL_TEXTURE_ALPHA_SIZE), 8);
    const std::vector<Texel> texels = boundTexels();
    EXPECT_EQ(texels, blended(colour, &alpha));
    ASSERT_EQ(texels.size(), 32u);
    EXPECT_EQ(texels[white].alpha, 255);
    EXPECT_EQ(texels[black].alpha, 0);
    EXPECT_EQ(after.liveNewBlocks, before.liveNewBlocks) << "the staging block was kept";
    EXPECT_TRUE(recordedMessages().empty());
}

TEST_F(BlendTextureTest, ImagesArePairedByPixelIndexNotByPosition) {
    const Picture colour = colourful(8, 4);
    const Picture alpha = mask(4, 8, 8);
    write("colour.bmp", bmpFile(colour));
    write("alpha.bmp", bmpFile(alpha));

    ASSERT_NE(build("colour.bmp", "alpha.bmp"), 0u);
    EXPECT_EQ(levelInt(GL_TEXTURE_WIDTH), 8);
    EXPECT_EQ(levelInt(GL_TEXTURE_HEIGHT), 4);
    EXPECT_EQ(boundTexels(), blended(colour, &alpha));
}

TEST_F(BlendTextureTest, GreyAlphaImageIsAPlainOpacityMask) {
    const Picture colour = colourful(8, 4);
    Picture alpha{8, 4, {}};
    for (int j = 0; j < 32; ++j) alpha.pixels.push_back({byte(j * 255 / 31), 0, 0});
    for (Rgb& pixel : alpha.pixels) pixel.green = pixel.blue = pixel.red;
    write("colour.bmp", bmpFile(colour));
    write("alpha.bmp", bmpFile(alpha));

    ASSERT_NE(build("colour.bmp", "alpha.bmp"), 0u);
    EXPECT_EQ(boundTexels(), blended(colour, &alpha));

    // Drawn over the grey, each pixel mixes its colour and the grey by its opacity.
    const std::vector<Rgb> drawn = drawTexturedSquare(8, 4);
    for (size_t j = 0; j < drawn.size(); ++j) {
        const double opacity = alpha.pixels[j].red / 255.0;
        const auto mix = [opacity](int value) { return value * opacity + 127.5 * (1 - opacity); };
        EXPECT_NEAR(drawn[j].red, mix(colour.pixels[j].red), 2) << "pixel " << j;
        EXPECT_NEAR(drawn[j].green, mix(colour.pixels[j].green), 2) << "pixel " << j;
        EXPECT_NEAR(drawn[j].blue, mix(colour.pixels[j].blue), 2) << "pixel " << j;
    }
}

TEST_F(BlendTextureTest, WithoutAlphaImageEveryTexelIsOpaque) {
    const Picture colour = colourful(8, 4);
    write("colour.bmp", bmpFile(colour));

    ASSERT_NE(build("colour.bmp", "missing.bmp"), 0u);
    EXPECT_EQ(boundTexels(), blended(colour, nullptr));
    EXPECT_TRUE(recordedMessages().empty());
}

// The alpha image's pixel block is exactly 5 × 3 × 3 bytes, so under AddressSanitizer a read
// past it stops the test.
TEST_F(BlendTextureTest, ShortAlphaImageCoversOnlyItsOwnPixels) {
    const Picture colour = colourful(8, 4);
    const Picture alpha = mask(5, 3, 10);
    write("colour.bmp", bmpFile(colour));
    write("alpha.bmp", bmpFile(alpha));

    ASSERT_NE(build("colour.bmp", "alpha.bmp"), 0u);
    const std::vector<Texel> texels = boundTexels();
    EXPECT_EQ(texels, blended(colour, &alpha));
    ASSERT_EQ(texels.size(), 32u);
    EXPECT_EQ(texels[14].alpha, 140);
    EXPECT_EQ(texels[15].alpha, 255);
}

TEST_F(BlendTextureTest, MissingColourImageGivesNoTextureAndWhiteSquares) {
    write("alpha.bmp", bmpFile(mask(8, 4, 8)));
    const std::string colour = path("missing.bmp");
    const std::string alpha = path("alpha.bmp");

    const HeapUse before = heapUse();
    EXPECT_EQ(buildBlendTexture(colour.c_str(), alpha.c_str()), 0u);
    EXPECT_EQ(heapUse().mallocBytes, before.mallocBytes) << "the alpha image was kept";
    EXPECT_TRUE(recordedMessages().empty());
    EXPECT_EQ(boundTexture(), 0u);
    for (const Rgb& pixel : drawTexturedSquare(8, 4)) {
        EXPECT_EQ(pixel.red, 255);
        EXPECT_EQ(pixel.green, 255);
        EXPECT_EQ(pixel.blue, 255);
    }
}

TEST_F(BlendTextureTest, BothImagesMissingAllocatesNothing) {
    const std::string colour = path("missing.bmp");
    const std::string alpha = path("missinga.bmp");

    const HeapUse before = heapUse();
    const GLuint name = buildBlendTexture(colour.c_str(), alpha.c_str());
    const HeapUse after = heapUse();

    EXPECT_EQ(name, 0u);
    EXPECT_EQ(after.newCalls, before.newCalls);
    EXPECT_EQ(after.mallocBytes, before.mallocBytes);
    EXPECT_EQ(boundTexture(), 0u);
    EXPECT_TRUE(recordedMessages().empty());
}

TEST_F(BlendTextureTest, UnreadableFilesAreReportedColourFirst) {
    write("v5.bmp", version5File());
    write("alpha.bmp", bmpFile(mask(8, 4, 8)));
    write("empty.bmp", {});

    EXPECT_EQ(build("v5.bmp", "alpha.bmp"), 0u);
    EXPECT_EQ(boundTexture(), 0u);
    ASSERT_EQ(recordedMessages().size(), 1u);
    EXPECT_EQ(recordedMessages()[0].text, "Unknown DIB file format.");
    EXPECT_EQ(recordedMessages()[0].caption, "Error");

    clearRecordedMessages();
    EXPECT_EQ(build("v5.bmp", "empty.bmp"), 0u);
    ASSERT_EQ(recordedMessages().size(), 2u);
    EXPECT_EQ(recordedMessages()[0].text, "Unknown DIB file format.");
    EXPECT_EQ(recordedMessages()[1].text, "Failed to open DIB file " + path("empty.bmp") + ".\n");
    EXPECT_EQ(recordedMessages()[1].caption, "Error");
}

TEST_F(BlendTextureTest, RefusedStagingBlockLeavesNoTextureAndNoMemory) {
    write("colour.bmp", bmpFile(colourful(8, 4)));
    write("alpha.bmp", bmpFile(mask(8, 4, 8)));
    const std::string colour = path("colour.bmp");
    const std::string alpha = path("alpha.bmp");
    // A name made and let go first, so GL's own bookkeeping for names is already in place.
    GLuint probe = 0;
    glGenTextures(1, &probe);
    glBindTexture(GL_TEXTURE_2D, probe);
    glDeleteTextures(1, &probe);

    const HeapUse before = heapUse();
    refuseNextNothrowArray = true;
    const GLuint name = buildBlendTexture(colour.c_str(), alpha.c_str());
    const bool refused = !refuseNextNothrowArray.exchange(false);
    const HeapUse after = heapUse();

    ASSERT_TRUE(refused) << "the staging block did not come from new[] (std::nothrow)";
    EXPECT_EQ(name, 0u);
    EXPECT_EQ(boundTexture(), 0u);
    // GL hands out the lowest free name or the next one up: either way it is in this range.
    std::vector<GLuint> textures;
    for (GLuint candidate = 1; candidate <= probe + 64; ++candidate) {
        if (glIsTexture(candidate)) textures.push_back(candidate);
    }
    EXPECT_EQ(textures, std::vector<GLuint>{}) << "texture objects left behind";
    EXPECT_EQ(after.liveNewBlocks, before.liveNewBlocks);
    EXPECT_EQ(after.mallocBytes, before.mallocBytes);
}

}  // namespace

int main(int argc, char** argv) {
#if !defined(__SANITIZE_ADDRESS__)
    // Freed blocks would otherwise look kept in the heap counts; the process starts itself
    // again with glibc's cache of freed blocks off. Should that fail, the counts will show it.
    constexpr const char* kNoCache = "glibc.malloc.tcache_count=0";
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables == nullptr || std::strstr(tunables, kNoCache) == nullptr) {
        const std::string value =
            tunables != nullptr ? std::string(tunables) + ":" + kNoCache : std::string(kNoCache);
        setenv("GLIBC_TUNABLES", value.c_str(), 1);
        execv("/proc/self/exe", argv);
    }
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
