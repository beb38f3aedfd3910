#include "tests/support/fake_clock.h"

#include "render/elapsed_time.h"

namespace {
int32_t currentMilliseconds = 0;
int reads = 0;
}  // namespace

int32_t elapsedMilliseconds() {
    ++reads;
    return currentMilliseconds;
}

namespace fake_clock {

void setMilliseconds(int32_t milliseconds) {
    currentMilliseconds = milliseconds;
}

int readCount() {
    return reads;
}

void resetReadCount() {
    reads = 0;
}

}  // namespace fake_clock
