#pragma once

// The large blocks a load fills: in a program that loads its pictures once, at start-up, they
// are memory it has never touched, and their first touches (one fault a 4 KiB page) cost more
// than the pixel work. So each large block is asked to be backed by 2 MiB pages and to be
// faulted in by one call. Both are requests the system may refuse (huge pages switched off or
// not built in, an older kernel, an account without the privilege); a refused block is ordinary
// memory whose pages fault one at a time on first touch, and nothing else changes.

#include <cstddef>
#include <cstdint>
#include <optional>

constexpr size_t kLargePageBytes = size_t{2} << 20;

// Whether a block of `bytes` is worth a large page: rounding it up to whole large pages at
// most doubles it.
constexpr bool suitsLargePages(size_t bytes) {
    return bytes >= kLargePageBytes / 2;
}

// The first large-page boundary at or above `value`, an address or a size that has room for it.
constexpr uintptr_t largePageAbove(uintptr_t value) {
    return (value + kLargePageBytes - 1) & ~uintptr_t{kLargePageBytes - 1};
}

// `bytes` rounded up to whole large pages; empty where that does not fit in a size_t.
constexpr std::optional<size_t> largePageMultiple(size_t bytes) {
    if (bytes > SIZE_MAX - (kLargePageBytes - 1)) return std::nullopt;
    return largePageAbove(bytes);
}

// Asks for what a page-aligned block about to be written in full needs: its first `bytes`
// faulted in now, and `span` bytes (`bytes` or more, all the block's own) backed by large
// pages where the block starts on one. A hint only: the block is usable either way.
void prepareForFill(void* block, size_t bytes, size_t span);

// At least `bytes` that `std::free` releases, prepared for filling; null when there is no
// memory. Not zeroed.
void* allocateForFill(size_t bytes);
