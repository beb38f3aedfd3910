#!/usr/bin/env bash
# Frame rate and CPU cost of blendspin against a bare GLUT program that only clears and swaps
# on the same 5 ms timer. Each runs for the given seconds (default 10) on a private Xvfb, in a
# folder holding the sample textures; a preloaded glXSwapBuffers wrapper counts the frames.
# The figures cover the time from each program's first frame until it is stopped.
# Usage: bench/frame_rate.sh [seconds]     (BUILD_DIR picks the build folder; default build)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh "${1:-}" 10 "bench/frame_rate.sh [seconds]" \
    blendspin bare_glut swap_counter make_sample_textures
seconds=$count

# Runs one program on a fresh X server; leaves "frames wall_us cpu_us" in $figures.
measure() {
    local name=$1 program=$2 report=$work_dir/$1.report
    start_xvfb /dev/null || fail "Xvfb did not start"
    (cd "$work_dir" && DISPLAY=$xvfb_display LD_PRELOAD=$build/bench/libswap_counter.so \
        SWAP_COUNTER_REPORT=$report exec "$program") &
    program_pid=$!
    sleep "$seconds"
    kill -0 "$program_pid" 2>/dev/null || fail "$name exited early"
    kill "$program_pid"
    wait "$program_pid" || fail "$name did not write its frame count"
    program_pid=
    stop_xvfb
    figures=$(awk '{ value[$1] = $2 } END { print value["frames"], value["wall_us"], value["cpu_us"] }' \
        "$report")
}

"$build/tools/make_sample_textures" "$work_dir"
measure blendspin "$build/blendspin"
blendspin_figures=$figures
measure bare_glut "$build/bench/bare_glut"
bare_figures=$figures

echo "$seconds s per program on Xvfb, 640 x 480 window, from the first frame on:"
awk -v spin="$blendspin_figures" -v bare="$bare_figures" 'BEGIN {
    split(spin, s); split(bare, b)
    if (s[1] == 0 || b[1] == 0) { print "no frames counted"; exit 1 }
    spinFps = s[1] / (s[2] / 1e6); bareFps = b[1] / (b[2] / 1e6)
    spinCpu = s[3] / 1e6 / s[1] * 1000; bareCpu = b[3] / 1e6 / b[1] * 1000
    printf "%-22s %8s %8s %14s\n", "", "frames", "fps", "CPU s/1000 fr"
    printf "%-22s %8d %8.1f %14.3f\n", "blendspin", s[1], spinFps, spinCpu
    printf "%-22s %8d %8.1f %14.3f\n", "bare GLUT", b[1], bareFps, bareCpu
    printf "%-22s %8s %8.3f %14.3f\n", "blendspin / bare GLUT", "", spinFps / bareFps, spinCpu / bareCpu
}'
