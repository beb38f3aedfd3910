#pragma once

#include <cstdint>

// The two texture files, resolved against the working directory.
extern const char colourImageName[];
extern const char alphaImageName[];

// Reads both images (colour first, so any messages come in that order) and, when the colour
// image was read, uploads one RGBA texture: colour from the colour image, opacity from the red
// channel of the alpha image's pixel with the same index. The texture is left bound to
// GL_TEXTURE_2D. Returns its name, or 0 when no texture was made. Needs a current GL context.
uint32_t buildBlendTexture(const char* colourName, const char* alphaName);
