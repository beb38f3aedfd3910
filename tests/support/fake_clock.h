#pragma once

#include <cstdint>

// Linked in place of the real time source, so a test decides what `elapsedMilliseconds()`
// returns and can see how often the scene asked.
namespace fake_clock {

void setMilliseconds(int32_t milliseconds);
// Calls of `elapsedMilliseconds()` since the last reset.
int readCount();
void resetReadCount();

}  // namespace fake_clock
