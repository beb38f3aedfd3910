#!/usr/bin/env bash
# Builds blendspin and runs every test: unit, in-process and end-to-end under a private Xvfb,
# the loader again under AddressSanitizer, LeakSanitizer and UBSan, and a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")"
source tools/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

jobs=$(nproc)

echo "== build and run the tests =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== loader under AddressSanitizer, LeakSanitizer and UBSan =="
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DBLENDSPIN_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs" -L loader

echo "== fuzzing the loader =="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBLENDSPIN_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$jobs"
fuzz/run.sh build-fuzz/fuzz/bitmap_fuzzer "${FUZZ_SECONDS:-60}"

echo "== all tests passed =="
