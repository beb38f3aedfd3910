/* Preloaded into the program under test (LD_PRELOAD) so a test decides what its wall clock
 * says. CLOCK_REALTIME reads a fixed moment plus an offset in whole milliseconds, which the
 * test writes as decimal text into the file named by CLOCK_SHIM_FILE; the file is read on
 * every call, so the test can move the clock while the program runs (it should replace the
 * file with rename, so no call sees it half written). A missing or unreadable file keeps the
 * last offset read. Every other clock is the real one. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

typedef int (*ClockFunction)(clockid_t, struct timespec*);

/* A whole second, so an offset of n milliseconds reads as exactly n elapsed. */
static const time_t kBaseSeconds = 1700000000;

static _Atomic(ClockFunction) realClock;
static _Atomic long long lastOffset;

static int readOffset(long long* milliseconds) {
    const char* path = getenv("CLOCK_SHIM_FILE");
    if (path == NULL) return 0;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[32];
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length <= 0) return 0;
    text[length] = '\0';
    char* end = NULL;
    errno = 0;
    const long long value = strtoll(text, &end, 10);
    if (end == text || errno != 0) return 0;
    *milliseconds = value;
    return 1;
}

static ClockFunction realClockFunction(void) {
    ClockFunction real = atomic_load(&realClock);
    if (real == NULL) {
        real = (ClockFunction)dlsym(RTLD_NEXT, "clock_gettime");
        atomic_store(&realClock, real);
    }
    return real;
}

/* Looked up while the process is still single-threaded, so that no renderer thread has to
 * run dlsym later, while another thread may hold the dynamic loader's lock. */
__attribute__((constructor)) static void findRealClock(void) {
    realClockFunction();
}

static int callRealClock(clockid_t clock, struct timespec* now) {
    const ClockFunction real = realClockFunction();
    if (real == NULL) {
        errno = ENOSYS;
        return -1;
    }
    return real(clock, now);
}

int clock_gettime(clockid_t clock, struct timespec* now) {
    if (clock != CLOCK_REALTIME) return callRealClock(clock, now);
    /* Saved errno: a missing file must not leave ENOENT behind a call that succeeded. */
    const int savedErrno = errno;
    long long offset = 0;
    if (readOffset(&offset)) {
        atomic_store(&lastOffset, offset);
    } else {
        offset = atomic_load(&lastOffset);
    }
    errno = savedErrno;
    /* Floor division, so a negative offset still gives nanoseconds in [0, 1e9). */
    long long seconds = offset / 1000;
    long long remainder = offset % 1000;
    if (remainder < 0) {
        remainder += 1000;
        seconds -= 1;
    }
    now->tv_sec = kBaseSeconds + (time_t)seconds;
    now->tv_nsec = (long)(remainder * 1000000);
    return 0;
}
