#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"

// While non-zero, every failure to read a bitmap shows one message titled "Error".
extern unsigned char showErrorPopups;

// Null for a null name, or silently for a file that cannot be opened (missing, unreadable,
// a directory); otherwise `loadBitmap(name)`.
Image* readImageFile(const char* name);

// Reads a BMP file (12- or 40-byte header, with or without the 14-byte file header) through a
// read-only mapping. Null on failure, after at most one message.
Image* loadBitmap(const char* name);

// Decodes a whole BMP file held in memory, exactly as `loadBitmap` decodes a mapped file.
Image* decodeBitmap(const uint8_t* file, size_t size);

struct DibDescription;
class Surface;
// A pixel conversion with the contract of `convertToSurface` (image/dib.h).
using PixelConverter = uint32_t (*)(const DibDescription& description, const uint8_t* pixels,
                                    size_t available, const Surface& surface);

// As `decodeBitmap`, with `convert` in place of the platform's conversion: so the conversions
// can be compared on the same files.
Image* decodeBitmapWith(const uint8_t* file, size_t size, PixelConverter convert);

// Number of colour-table entries the DIB header at `header` announces; `available` is the
// number of bytes from `header` to the end of the file. Fields the file does not hold read 0.
uint16_t paletteEntryCount(const uint8_t* header, size_t available);
