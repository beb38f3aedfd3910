// Windows gives large pages only to accounts holding the lock-pages privilege, which ordinary
// accounts lack. What every account may do is lock a range into its working set: VirtualLock
// brings all of its pages in with one call instead of one fault a page, and unlocking at once
// leaves them there. A process may lock no more than its minimum working set allows, so that
// minimum is raised by the block for the call and put back after. Any refusal leaves the block
// as it was, its pages faulting on first touch.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "image/fresh_memory.h"

void prepareForFill(void* block, size_t bytes, size_t) {
    const HANDLE self = GetCurrentProcess();
    SIZE_T minimum = 0;
    SIZE_T maximum = 0;
    DWORD flags = 0;
    if (!GetProcessWorkingSetSizeEx(self, &minimum, &maximum, &flags) ||
        bytes > SIZE_MAX - minimum) {
        return;
    }
    // A hard maximum is the user's limit: it is kept, and then the raise may be refused.
    const SIZE_T raised = minimum + bytes;
    const SIZE_T ceiling =
        (flags & QUOTA_LIMITS_HARDWS_MAX_ENABLE) ? maximum : std::max(maximum, raised);
    if (!SetProcessWorkingSetSizeEx(self, raised, ceiling, flags)) return;
    if (VirtualLock(block, bytes)) VirtualUnlock(block, bytes);
    SetProcessWorkingSetSizeEx(self, minimum, maximum, flags);
}

void* allocateForFill(size_t bytes) {
    void* block = std::malloc(bytes);
    if (block != nullptr && suitsLargePages(bytes)) prepareForFill(block, bytes, bytes);
    return block;
}
