#!/usr/bin/env bash
# Builds blendspin, writes a pair of sample textures into demo-run/ and runs the program there.
# With a display it simply runs the program. Without one it runs it for a few seconds on a
# private Xvfb, saves a screenshot of its window as demo-run/screenshot.png and prints the path.
set -euo pipefail
cd "$(dirname "$0")"
source tools/packages.sh
source tools/xvfb.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${DEMO_PACKAGES[@]}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target blendspin make_sample_textures x_screenshot

build=$PWD/build
run_dir=$PWD/demo-run
mkdir -p "$run_dir"
"$build/tools/make_sample_textures" "$run_dir"
cd "$run_dir"

if [ -n "${DISPLAY:-}" ]; then
    exec "$build/blendspin" "$@"
fi

run_seconds=3
screenshot=$run_dir/screenshot.png
xvfb_pid=
program_pid=
trap stop_program_and_xvfb EXIT

fail() {
    echo "demo.sh: $*" >&2
    exit 1
}

start_xvfb "$run_dir/xvfb.log" || fail "Xvfb did not start (see $run_dir/xvfb.log)"
export DISPLAY=$xvfb_display

"$build/blendspin" "$@" &
program_pid=$!

# There is no window manager, so the program's window is the one visible child of the root.
root_window=$(xdotool search --maxdepth 0 --name '')
window=
for _ in $(seq 100); do
    kill -0 "$program_pid" 2>/dev/null || fail "blendspin exited early"
    window=$(xdotool search --onlyvisible --maxdepth 1 --name '' | grep -vx "$root_window" |
        head -n 1) || true
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || fail "blendspin did not show a window"

sleep "$run_seconds"
kill -0 "$program_pid" 2>/dev/null || fail "blendspin exited early"
"$build/tools/x_screenshot" "$screenshot" "$window"
echo "$screenshot"
