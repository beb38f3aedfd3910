#!/usr/bin/env bash
# Usage: fuzz/run.sh FUZZER SECONDS
# Replays every bmpsuite file and the committed regression corpus (fuzz/corpus/), then fuzzes
# for SECONDS into a temporary working corpus. Exits non-zero on any crash, leak or timeout;
# crashing inputs are kept beside the fuzzer binary.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 FUZZER SECONDS" >&2
    exit 2
fi
fuzzer=$(realpath "$1")
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
suite="$root/../shared/bmpsuite"
regressions="$root/fuzz/corpus"

if [ ! -d "$suite" ]; then
    echo "$0: no BMP corpus at $suite" >&2
    exit 1
fi

# The largest bmpsuite file is about 64 KiB; room for inputs a little larger than that.
options=(-rss_limit_mb=4096 -timeout=10 -max_len=70000 -artifact_prefix="$(dirname "$fuzzer")/")

seeds=()
for folder in b g q x; do
    seeds+=("$suite/$folder"/*)
done
shopt -s nullglob
seeds+=("$regressions"/*)
shopt -u nullglob

echo "replaying ${#seeds[@]} inputs"
# Files named one by one are run once each, whole, without truncation to -max_len.
"$fuzzer" "${options[@]}" "${seeds[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "fuzzing for $seconds s"
"$fuzzer" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    "$work" "$suite/b" "$suite/g" "$suite/q" "$suite/x" "$regressions"
