// Windows gives large pages only to accounts holding the lock-pages privilege, which ordinary
// accounts lack, and has no call that faults demand-zero pages in without also locking them
// into the working set; so every block is ordinary memory whose pages fault on first touch.

#include "image/fresh_memory.h"

#include <cstdint>
#include <cstdlib>

void prepareForFill(void*, size_t, size_t) {}

void* allocateForFill(size_t bytes) {
    return std::malloc(bytes);
}
