#pragma once

// A file's bytes, and the little-endian fields a BMP file stores in them, read independently
// of the loader.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

// Empty where the file cannot be read.
inline std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The `length`-byte field at `offset`; bytes past the end read as zero.
inline uint32_t littleEndian(const std::vector<uint8_t>& bytes, size_t offset, size_t length = 4) {
    uint32_t value = 0;
    for (size_t i = length; i-- > 0;) {
        value = value << 8 | (offset + i < bytes.size() ? bytes[offset + i] : 0);
    }
    return value;
}
