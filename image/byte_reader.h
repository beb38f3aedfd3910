#pragma once

// A bounded little-endian reader over (pointer, length): every read checks that its bytes lie
// inside the range before touching them, and a failed read leaves the position unchanged.

#include <cstddef>
#include <cstdint>
#include <optional>

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t size() const { return size_; }
    size_t position() const { return position_; }
    size_t remaining() const { return size_ - position_; }

    // Moves to an absolute offset; false (and no move) past the end.
    [[nodiscard]] bool seek(size_t offset) {
        if (offset > size_) return false;
        position_ = offset;
        return true;
    }

    [[nodiscard]] bool skip(size_t count) {
        if (count > remaining()) return false;
        position_ += count;
        return true;
    }

    // The next `count` bytes, or null when fewer remain.
    [[nodiscard]] const uint8_t* take(size_t count) {
        if (count > remaining()) return nullptr;
        const uint8_t* bytes = data_ + position_;
        position_ += count;
        return bytes;
    }

    [[nodiscard]] std::optional<uint8_t> readU8() {
        const uint8_t* bytes = take(1);
        if (!bytes) return std::nullopt;
        return bytes[0];
    }

    [[nodiscard]] std::optional<uint16_t> readU16() {
        const uint8_t* bytes = take(2);
        if (!bytes) return std::nullopt;
        return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    }

    [[nodiscard]] std::optional<uint32_t> readU32() {
        const uint8_t* bytes = take(4);
        if (!bytes) return std::nullopt;
        return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
               uint32_t{bytes[3]} << 24;
    }

    // Two's complement, without relying on an implementation-defined narrowing conversion.
    [[nodiscard]] std::optional<int32_t> readS32() {
        std::optional<uint32_t> value = readU32();
        if (!value) return std::nullopt;
        if (*value <= uint32_t{INT32_MAX}) return static_cast<int32_t>(*value);
        return -static_cast<int32_t>(~*value) - 1;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};
