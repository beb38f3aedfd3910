/* Counts the frames a GL program presents, from outside it: loaded with LD_PRELOAD, it wraps
 * glXSwapBuffers. When the process is stopped with SIGTERM it writes, to the file named by
 * SWAP_COUNTER_REPORT, the frames presented after the first one and the wall-clock and CPU
 * microseconds they took, so window creation and start-up are left out of both:
 *
 *   frames N
 *   wall_us N
 *   cpu_us N
 *
 * When SWAP_COUNTER_FIRST_FRAME names a file, the first swap also writes to it, as soon as it
 * returns, the wall-clock time of that moment in microseconds since the epoch, the CPU
 * microseconds the process has used up to then and its minor page faults (first touches of
 * memory: a count that stays the same from run to run while times drift):
 *
 *   first_frame_us N
 *   first_frame_cpu_us N
 *   first_frame_minflt N
 *   upload_us N
 *   upload_minflt N
 *
 * The last two are what glTexImage2D took by then, in wall-clock microseconds and minor page
 * faults: the GL's own copy of the texture, which the program hands over but does not make.
 *
 * The real-time clock, not the monotonic one, so a script can subtract a time it took itself
 * just before starting the program (bash's EPOCHREALTIME).
 *
 * Without either variable it only passes the calls through. */
#define _GNU_SOURCE
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

typedef void (*SwapBuffersFunction)(Display*, GLXDrawable);
typedef void (*TexImageFunction)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
                                 const void*);

static const char* reportPath;
static volatile sig_atomic_t swapCount;
/* Volatile so the handler, which may interrupt any thread, sees them set before the count. */
static volatile int64_t firstSwapWallMicroseconds;
static volatile int64_t firstSwapCpuMicroseconds;
static volatile int64_t firstSwapMinorFaults;
static int64_t uploadWallMicroseconds;
static int64_t uploadMinorFaults;

static int64_t wallMicroseconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

/* User and system time of every thread, the renderer's worker threads included. */
static int64_t cpuMicroseconds(void) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return ((int64_t)usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 +
           usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

static int64_t minorFaults(void) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

/* The handler may only call async-signal-safe functions, so no stdio: numbers are formatted
 * by hand. getrusage is not on POSIX's list, but on Linux it is a plain system call. */
static size_t appendText(char* out, size_t used, const char* text) {
    while (*text) out[used++] = *text++;
    return used;
}

static size_t appendNumber(char* out, size_t used, int64_t value) {
    char digits[24];
    size_t count = 0;
    if (value < 0) value = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (count > 0) out[used++] = digits[--count];
    return used;
}

/* One write, so a reader polling the file sees either nothing or the whole report. */
static void reportFirstFrame(void) {
    const char* path = getenv("SWAP_COUNTER_FIRST_FRAME");
    if (!path) return;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    char text[192];
    size_t used = appendText(text, 0, "first_frame_us ");
    used = appendNumber(text, used, (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000);
    used = appendText(text, used, "\nfirst_frame_cpu_us ");
    used = appendNumber(text, used, firstSwapCpuMicroseconds);
    used = appendText(text, used, "\nfirst_frame_minflt ");
    used = appendNumber(text, used, firstSwapMinorFaults);
    used = appendText(text, used, "\nupload_us ");
    used = appendNumber(text, used, uploadWallMicroseconds);
    used = appendText(text, used, "\nupload_minflt ");
    used = appendNumber(text, used, uploadMinorFaults);
    used = appendText(text, used, "\n");
    const int file = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0) return;
    if (write(file, text, used) != (ssize_t)used) abort();
    close(file);
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const void* pixels) {
    static TexImageFunction realTexImage;
    if (!realTexImage) {
        realTexImage = (TexImageFunction)dlsym(RTLD_NEXT, "glTexImage2D");
        if (!realTexImage) abort();
    }
    const int64_t wall = wallMicroseconds();
    const int64_t faults = minorFaults();
    realTexImage(target, level, internalFormat, width, height, border, format, type, pixels);
    uploadWallMicroseconds += wallMicroseconds() - wall;
    uploadMinorFaults += minorFaults() - faults;
}

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
    static SwapBuffersFunction realSwapBuffers;
    if (!realSwapBuffers) {
        realSwapBuffers = (SwapBuffersFunction)dlsym(RTLD_NEXT, "glXSwapBuffers");
        if (!realSwapBuffers) abort();
    }
    realSwapBuffers(display, drawable);
    if (swapCount == 0) {
        firstSwapWallMicroseconds = wallMicroseconds();
        firstSwapCpuMicroseconds = cpuMicroseconds();
        firstSwapMinorFaults = minorFaults();
        reportFirstFrame();
    }
    swapCount = swapCount + 1;
}

static void reportAndExit(int signalNumber) {
    (void)signalNumber;
    const int frames = swapCount > 0 ? swapCount - 1 : 0;
    const int64_t wall = frames > 0 ? wallMicroseconds() - firstSwapWallMicroseconds : 0;
    const int64_t cpu = frames > 0 ? cpuMicroseconds() - firstSwapCpuMicroseconds : 0;
    char text[128];
    size_t used = appendText(text, 0, "frames ");
    used = appendNumber(text, used, frames);
    used = appendText(text, used, "\nwall_us ");
    used = appendNumber(text, used, wall);
    used = appendText(text, used, "\ncpu_us ");
    used = appendNumber(text, used, cpu);
    used = appendText(text, used, "\n");

    const int file = open(reportPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int status = 1;
    if (file >= 0) {
        status = write(file, text, used) == (ssize_t)used ? 0 : 1;
        close(file);
    }
    _exit(status);
}

__attribute__((constructor)) static void installReportHandler(void) {
    reportPath = getenv("SWAP_COUNTER_REPORT");
    if (!reportPath) return;
    struct sigaction action = {0};
    action.sa_handler = reportAndExit;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, NULL);
}
