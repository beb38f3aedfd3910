// Large pages through transparent huge pages, asked for with madvise on a range aligned to
// them; the pages faulted in by madvise(MADV_POPULATE_WRITE), which kernels before 5.14
// refuse.

#include "image/fresh_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

void prepareForFill(void* block, size_t bytes, size_t span) {
    // Huge pages must be asked for before the first touch: a page faulted in small stays small.
    if (reinterpret_cast<uintptr_t>(block) % kLargePageBytes == 0) {
        madvise(block, span, MADV_HUGEPAGE);
    }
    madvise(block, bytes, MADV_POPULATE_WRITE);
}

void* allocateForFill(size_t bytes) {
    if (!suitsLargePages(bytes)) return std::malloc(bytes);
    // glibc maps a block this large on its own and hands back an aligned part of the mapping;
    // free() takes it back like any other.
    const std::optional<size_t> span = largePageMultiple(bytes);
    void* block = nullptr;
    if (!span || posix_memalign(&block, kLargePageBytes, *span) != 0) return nullptr;
    prepareForFill(block, bytes, *span);
    return block;
}
