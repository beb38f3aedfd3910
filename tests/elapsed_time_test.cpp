// The real elapsed-time source over a wall clock the test sets: it replaces clock_gettime for
// this program, so the start taken before main reads the test's clock too.

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "render/elapsed_time.h"

namespace {

constexpr int64_t kNanosecondsPerMillisecond = 1000000;
// An arbitrary wall-clock moment, with a fraction of a second, when the program starts.
constexpr int64_t kStartNanoseconds = int64_t{1796000000} * 1000000000 + 987654321;

// Constant-initialised, so it holds the start before any constructor runs.
int64_t wallClockNanoseconds = kStartNanoseconds;

void setWallClock(int64_t nanosecondsAfterStart) {
    wallClockNanoseconds = kStartNanoseconds + nanosecondsAfterStart;
}

int32_t elapsedAfter(int64_t milliseconds, int64_t extraNanoseconds = 0) {
    setWallClock(milliseconds * kNanosecondsPerMillisecond + extraNanoseconds);
    return elapsedMilliseconds();
}

}  // namespace

// Other clocks (the test framework times itself) go to the kernel.
extern "C" int clock_gettime(clockid_t clock, struct timespec* time) noexcept {
    if (clock != CLOCK_REALTIME) return static_cast<int>(syscall(SYS_clock_gettime, clock, time));
    time->tv_sec = static_cast<time_t>(wallClockNanoseconds / 1000000000);
    time->tv_nsec = static_cast<long>(wallClockNanoseconds % 1000000000);
    return 0;
}

TEST(ElapsedTime, FollowsTheWallClockAndTruncatesToWholeMilliseconds) {
    EXPECT_EQ(elapsedAfter(0), 0);
    EXPECT_EQ(elapsedAfter(1000), 1000);
    EXPECT_EQ(elapsedAfter(1, kNanosecondsPerMillisecond - 1), 1);
    // Across a second boundary the nanosecond field borrows.
    EXPECT_EQ(elapsedAfter(13, 1), 13);
}

TEST(ElapsedTime, WallClockJumpsMoveItBothWays) {
    EXPECT_EQ(elapsedAfter(3600 * 1000), 3600 * 1000);
    // Set back before the start, the count goes negative rather than stopping.
    EXPECT_EQ(elapsedAfter(-3600 * 1000), -3600 * 1000);
    EXPECT_EQ(elapsedAfter(0, -kNanosecondsPerMillisecond / 2), 0);
    EXPECT_EQ(elapsedAfter(-2, -1), -2);
}

TEST(ElapsedTime, WrapsModulo2To32AndReadsAsSigned) {
    const int64_t wrap = int64_t{1} << 32;
    EXPECT_EQ(elapsedAfter(INT32_MAX), INT32_MAX);
    // About 24.8 days on, the count jumps to its most negative value...
    EXPECT_EQ(elapsedAfter(int64_t{INT32_MAX} + 1), INT32_MIN);
    EXPECT_EQ(elapsedAfter(int64_t{INT32_MAX} + 1001), INT32_MIN + 1000);
    // ...and comes back through zero after 2^32 milliseconds.
    EXPECT_EQ(elapsedAfter(wrap), 0);
    EXPECT_EQ(elapsedAfter(wrap + 5), 5);
    EXPECT_EQ(elapsedAfter(-wrap - 7), -7);
}
