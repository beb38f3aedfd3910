# Read by ctest in the sanitized build: every test, and every program a test starts, inherits
# these settings. Options already set in the environment come after them and win.

# Any report ends the process through abort(), which the tests see as a failure. The
# end-to-end tests preload a clock library ahead of the runtime, which is harmless here.
set(ENV{ASAN_OPTIONS}
    "detect_leaks=1:abort_on_error=1:verify_asan_link_order=0:$ENV{ASAN_OPTIONS}")
# Leaks are checked at exit; only third-party libraries are suppressed.
set(ENV{LSAN_OPTIONS}
    "suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0:$ENV{LSAN_OPTIONS}")
set(ENV{UBSAN_OPTIONS} "print_stacktrace=1:halt_on_error=1:abort_on_error=1:$ENV{UBSAN_OPTIONS}")
