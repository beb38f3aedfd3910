// Sanitized builds only: loads Mesa's driver before main and never lets it go, so blocks the
// driver still holds when the program ends stay reachable from its globals instead of reading
// as leaks from an unloaded "<unknown module>" when LeakSanitizer scans the heap at exit.

#include <dlfcn.h>

#include <cstdio>

namespace {

struct KeepGlDriver {
    KeepGlDriver() {
        // Mesa's own dlopen of the same file later finds this copy, and its dlclose then
        // leaves it mapped.
        if (dlopen(GL_DRIVER_PATH, RTLD_NOW | RTLD_NODELETE) == nullptr) {
            std::fprintf(stderr, "keep_gl_driver: %s\n", dlerror());
        }
    }
};

const KeepGlDriver keepGlDriver;

}  // namespace
