#include <windows.h>

#include "render/elapsed_time.h"

namespace {

// 100-nanosecond intervals of the system's real-time clock (UTC).
int64_t readRealTimeClock() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<int64_t>(uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime);
}

// Taken during static initialisation, before main runs.
const int64_t startTime = readRealTimeClock();

}  // namespace

int32_t elapsedMilliseconds() {
    const int64_t intervals = readRealTimeClock() - startTime;
    // Division truncates toward zero; the unsigned conversion wraps modulo 2^32.
    return static_cast<int32_t>(static_cast<uint32_t>(intervals / 10000));
}
