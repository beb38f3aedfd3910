# What the benchmark scripts share: a count from the command line, a release build of the
# targets they run, a scratch folder, and clean-up of the X server and program they start.
# Usage, from the repository root: source bench/common.sh COUNT DEFAULT USAGE TARGET...
# Sets `count`, `build` and `work_dir`; the script keeps `xvfb_pid` and `program_pid` current.

bench_name=$(basename "$0")
count=${1:-$2}
[[ "$count" =~ ^[1-9][0-9]*$ ]] || {
    echo "usage: $3" >&2
    exit 2
}
shift 3
build=${BUILD_DIR:-build}
[[ "$build" == /* ]] || build=$PWD/$build

fail() {
    echo "$bench_name: $*" >&2
    exit 1
}

source tools/packages.sh
source tools/xvfb.sh
# The bench folder is only configured where Google Benchmark is installed.
ensure_packages "${BUILD_PACKAGES[@]}" "${DEMO_PACKAGES[@]}" libbenchmark-dev
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target "$@" >/dev/null

work_dir=$(mktemp -d)
xvfb_pid=
program_pid=
stop_everything() {
    stop_program_and_xvfb
    rm -rf "$work_dir"
}
trap stop_everything EXIT
