#!/usr/bin/env bash
# Builds the Windows program and its tests (tools/build_windows.sh) and runs them under Wine:
# tools/wine_tests.sh LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]. The Windows tests run on a private
# Xvfb, with a Wine prefix inside the Windows build folder; then the Linux build's end-to-end
# tests drive blendspin.exe (each on an Xvfb of its own). Returns non-zero if anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
source tools/xvfb.sh
ensure_packages "${WINDOWS_TEST_PACKAGES[@]}" || exit 1

linux_build=$1
windows_build=$(realpath -m "${2:-build-windows}")
jobs=${JOBS:-$(nproc)}
JOBS=$jobs tools/build_windows.sh "$windows_build" || exit 1

export WINEPREFIX=$windows_build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null
    stop_xvfb
}
trap cleanup EXIT
start_xvfb "$windows_build/xvfb.log" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=$xvfb_display
# One server for the prefix for the whole run, so no test waits for one to start or leaves
# one behind.
wineboot --init >/dev/null 2>&1
wineserver -p >/dev/null 2>&1

status=0
ctest --test-dir "$windows_build" --output-on-failure || status=1
cmake -S . -B "$linux_build" -DBLENDSPIN_WINDOWS_BUILD="$windows_build" >/dev/null &&
    cmake --build "$linux_build" -j "$jobs" --target program_test texture_program_test screen_mode_test \
        message_box_probe clock_shim >/dev/null &&
    ctest --test-dir "$linux_build" -L wine --output-on-failure || status=1
exit "$status"
