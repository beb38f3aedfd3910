#include "render/elapsed_time.h"

#include <time.h>

namespace {

timespec readRealTimeClock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// Taken during static initialisation, before main runs.
const timespec startTime = readRealTimeClock();

}  // namespace

int32_t elapsedMilliseconds() {
    const timespec now = readRealTimeClock();
    const int64_t nanoseconds = (static_cast<int64_t>(now.tv_sec) - startTime.tv_sec) * 1000000000 +
                                (now.tv_nsec - startTime.tv_nsec);
    // Division truncates toward zero; the unsigned conversion wraps modulo 2^32.
    return static_cast<int32_t>(static_cast<uint32_t>(nanoseconds / 1000000));
}
