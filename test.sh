#!/usr/bin/env bash
# Builds blendspin and runs the whole test suite twice: in a plain build (build/), and in an
# AddressSanitizer, LeakSanitizer and UBSan build (build-sanitize/), where the end-to-end tests
# run the sanitized program too. Then cross-builds the Windows program (build-windows/) and
# runs its tests and the end-to-end tests against it under Wine. Then fuzzes the loader for FUZZ_SECONDS (default 60) on every
# core. Each part is timed; a failed part does not stop the independent ones, and the summary
# at the end says what passed.
set -uo pipefail
cd "$(dirname "$0")" || exit 1
source tools/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" || exit 1

jobs=$(nproc)
summary=()
failures=0
began=$SECONDS

duration() {
    printf '%d:%02d' $(($1 / 60)) $(($1 % 60))
}

# part NAME COMMAND...: runs one part and records its time and outcome.
part() {
    local name=$1 start=$SECONDS status=0
    shift
    echo "== $name =="
    "$@" || status=$?
    local outcome=passed
    if [ "$status" -ne 0 ]; then
        outcome="FAILED (exit $status)"
        failures=$((failures + 1))
    fi
    summary+=("$(printf '%-17s %7s  %s' "$name" "$(duration $((SECONDS - start)))" "$outcome")")
    return "$status"
}

skipped() {
    summary+=("$(printf '%-17s %7s  %s' "$1" - "skipped: $2")")
}

# build_tree DIR CMAKE_OPTION...
build_tree() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j "$jobs"
}

# The Windows lane runs the tests labelled wine itself, with Wine set up for them.
run_tests() {
    ctest --test-dir "$1" --output-on-failure -j "$jobs" -LE wine
}

build_fuzzer() {
    CC=clang CXX=clang++ build_tree build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBLENDSPIN_FUZZ=ON
}

if part "build" build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON; then
    part "tests" run_tests build
else
    skipped "tests" "the build failed"
fi

# The sanitizers' settings for every test and the programs they start come with the build
# (tests/sanitizer_environment.cmake).
if part "sanitized build" build_tree build-sanitize -DCMAKE_BUILD_TYPE=Debug \
    -DBUILD_TESTING=ON -DBLENDSPIN_SANITIZE=ON; then
    part "sanitized tests" run_tests build-sanitize
else
    skipped "sanitized tests" "the sanitized build failed"
fi

# The Windows program, cross-built, and its tests under Wine, beside the plain build's
# end-to-end tests driving it.
if [ -d build ]; then
    part "windows (wine)" env JOBS="$jobs" tools/wine_tests.sh build build-windows
else
    skipped "windows (wine)" "the build failed"
fi

if part "fuzzer build" build_fuzzer; then
    part "fuzzing" fuzz/run.sh build-fuzz/fuzz/bitmap_fuzzer "${FUZZ_SECONDS:-60}" "$jobs"
else
    skipped "fuzzing" "the fuzzer build failed"
fi

echo "== summary =="
printf '%s\n' "${summary[@]}"
printf '%-17s %7s\n' "total" "$(duration $((SECONDS - began)))"
if [ "$failures" -ne 0 ]; then
    echo "failed parts: $failures"
    exit 1
fi
echo "all parts passed"
