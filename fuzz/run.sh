#!/usr/bin/env bash
# Usage: fuzz/run.sh FUZZER SECONDS [JOBS]
# Replays every bmpsuite file and the committed regression corpus (fuzz/corpus/), then fuzzes
# for SECONDS in JOBS processes (default 1) into a temporary working corpus, and prints the
# number of executions and of findings. Exits non-zero on any crash, leak, timeout or running
# out of memory; the inputs that caused them are kept beside the fuzzer binary.
#
# The long campaign, outside CI and with the machine otherwise idle, is one hour on both
# cores, about 10,000 executions a second each:
#     fuzz/run.sh build-fuzz/fuzz/bitmap_fuzzer 3600 2
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 FUZZER SECONDS [JOBS]" >&2
    exit 2
fi
fuzzer=$(realpath "$1")
seconds=$2
jobs=${3:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
suite="$root/../shared/bmpsuite"
regressions="$root/fuzz/corpus"
artifacts="$(dirname "$fuzzer")/"

if [ ! -d "$suite" ]; then
    echo "$0: no BMP corpus at $suite" >&2
    exit 1
fi

# Short inputs keep each run quick; every loader path is reachable well inside 4 KiB.
options=(-rss_limit_mb=4096 -timeout=10 -max_len=4096 -artifact_prefix="$artifacts")

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
mkdir "$work/corpus"
touch "$work/stamp"  # findings are the artifacts newer than this
echo "fuzzing for $seconds s in $jobs processes"
status=0
started=$SECONDS
# Fork mode even for one job, so that every run reports its executions the same way.
"$fuzzer" "${options[@]}" -fork="$jobs" -max_total_time="$seconds" \
    "$work/corpus" "$suite/b" "$suite/g" "$suite/q" "$suite/x" "$regressions" 2>&1 |
    tee "$work/log" || status=$?

elapsed=$((SECONDS - started > 0 ? SECONDS - started : 1))
# Each status line starts with the running count of executions: "#1234: cov: ...".
executions=$(grep -o '^#[0-9]*' "$work/log" | tail -n 1 | tr -d '#')
executions=${executions:-0}
mapfile -t findings < <(find "$artifacts" -maxdepth 1 -newer "$work/stamp" \
    \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \))
echo "fuzzed $elapsed s in $jobs processes: $executions executions," \
    "$((executions / elapsed)) a second; ${#findings[@]} findings"
[ ${#findings[@]} -eq 0 ] || printf '  %s\n' "${findings[@]}"
[ "$status" -eq 0 ] && [ ${#findings[@]} -eq 0 ]
