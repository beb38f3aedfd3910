#!/usr/bin/env bash
# What the texture stage costs blendspin at start-up. The real program runs N times (default
# 30: with fewer, the medians of this 200 ms start-up still move by several percent from one
# call to the next) in a folder holding the sample textures and N times in an empty one,
# interleaved, on a private Xvfb. Each run gives the wall-clock time from exec to the return of
# the first glXSwapBuffers, the CPU time and the minor page faults by then, and the part of them
# spent in glTexImage2D, all taken by the preloaded bench/swap_counter.c (CPU time is steadier
# than wall time on a busy machine, and the fault count is the same from run to run), and the
# process's peak resident memory (VmHWM), read once the first frame is out. Prints the medians,
# the time the texture stage adds as a percentage, with and without the GL's copy of the
# texture, the faults it adds, and the peak-memory difference against what loading must hold at
# once: both decoded images (3 bytes a pixel), the RGBA staging block and the texture (4 each).
# A benchmark, not a test: it fails only when a run does, never on a figure.
# Usage: bench/startup.sh [runs]     (BUILD_DIR picks the build folder; default build)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh "${1:-}" 30 "bench/startup.sh [runs]" \
    blendspin swap_counter make_sample_textures
runs=$count

# Starts blendspin in folder $1 and appends "wall µs, CPU µs, VmHWM kB, minor faults" to
# $1.figures.
measure() {
    local folder=$1 report=$work_dir/first_frame
    rm -f "$report"
    # EPOCHREALTIME is read in the subshell that then becomes the program, right before exec.
    (
        cd "$folder"
        export DISPLAY=$xvfb_display LD_PRELOAD=$build/bench/libswap_counter.so
        export SWAP_COUNTER_FIRST_FRAME=$report
        echo "${EPOCHREALTIME/[.,]/}" >"$work_dir/exec_us"  # the decimal mark follows the locale
        exec "$build/blendspin"
    ) &
    program_pid=$!
    for _ in $(seq 300); do
        [ -s "$report" ] && break
        kill -0 "$program_pid" 2>/dev/null || fail "blendspin exited before its first frame"
        sleep 0.05
    done
    [ -s "$report" ] || fail "no frame within 15 s"
    local peak
    peak=$(awk '$1 == "VmHWM:" { print $2 }' "/proc/$program_pid/status") ||
        fail "blendspin exited after its first frame"
    kill "$program_pid"
    wait "$program_pid" || true
    program_pid=
    awk -v exec_us="$(cat "$work_dir/exec_us")" -v peak="$peak" '{ value[$1] = $2 }
        END { print value["first_frame_us"] - exec_us, value["first_frame_cpu_us"], peak,
            value["first_frame_minflt"], value["upload_us"], value["upload_minflt"] }' \
        "$report" >>"$folder.figures"
}

mkdir "$work_dir/textured" "$work_dir/empty"
"$build/tools/make_sample_textures" "$work_dir/textured"
start_xvfb /dev/null || fail "Xvfb did not start"
# Alternating which goes first spreads any drift of the machine over both.
for round in $(seq "$runs"); do
    if ((round % 2)); then
        measure "$work_dir/textured"
        measure "$work_dir/empty"
    else
        measure "$work_dir/empty"
        measure "$work_dir/textured"
    fi
done

# median FILE COLUMN DIVISOR: the median of one column of a figures file, divided.
median() {
    awk -v column="$2" -v divisor="$3" '{ print $column / divisor }' "$1" | sort -g |
        awk '{ value[NR] = $1 } END {
            print NR % 2 ? value[(NR + 1) / 2] : (value[NR / 2] + value[NR / 2 + 1]) / 2 }'
}
with=$work_dir/textured.figures
without=$work_dir/empty.figures

echo "blendspin start-up on Xvfb, median of $runs runs each (1024 x 1024 sample textures):"
awk -v tt="$(median "$with" 1 1000)" -v et="$(median "$without" 1 1000)" \
    -v tc="$(median "$with" 2 1000)" -v ec="$(median "$without" 2 1000)" \
    -v tm="$(median "$with" 3 1024)" -v em="$(median "$without" 3 1024)" \
    -v tf="$(median "$with" 4 1)" -v ef="$(median "$without" 4 1)" \
    -v ut="$(median "$with" 5 1000)" -v uf="$(median "$with" 6 1)" 'BEGIN {
    held = 3 + 3 + 4 + 4  # MiB, at 1024 x 1024
    printf "%-22s %14s %14s %14s %14s\n", "", "wall ms", "CPU ms", "peak RSS MiB", "minor faults"
    printf "%-22s %14.1f %14.1f %14.1f %14d\n", "with textures", tt, tc, tm, tf
    printf "%-22s %14.1f %14.1f %14.1f %14d\n", "without texture files", et, ec, em, ef
    printf "texture stage adds %.1f%% to start-up wall time, %.1f%% to its CPU time" \
        " (target at most 15%%)\n", (tt - et) / et * 100, (tc - ec) / ec * 100
    printf "texture stage adds %d minor page faults\n", tf - ef
    printf "of which glTexImage2D, the GL copying the texture, takes %.1f ms wall and %d faults;" \
        " the rest adds %.1f%%\n", ut, uf, (tt - et - ut) / et * 100
    printf "peak memory difference %.1f MiB = %.2f x the %.0f MiB held at once" \
        " (target under 2 x)\n", tm - em, (tm - em) / held, held
}'
