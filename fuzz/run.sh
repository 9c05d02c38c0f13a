#!/usr/bin/env bash
# Runs one fuzz target for a given time:
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]
# TARGET: name_walk, volume_scan, matcher, relay_frame, command_line or
# partition_table.
# Builds the "fuzz" preset first (clang, libFuzzer, address and
# undefined-behaviour sanitizers) into build/fuzz, or $MORLA_FUZZ_BUILD.
# The corpus grows in $MORLA_FUZZ_WORK/TARGET (default /tmp/morla-fuzz),
# outside the repository, and is reused by later runs. A finding (crash,
# broken promise, leak, time-out, memory blow-up) is copied into
# fuzz/regressions/TARGET/, which CTest replays from then on, and the script
# exits with 1. Runs at the lowest priority: the machine is shared.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
targets="name_walk volume_scan matcher relay_frame command_line partition_table"
if [ $# -lt 2 ] || ! [[ " $targets " == *" $1 "* ]] || ! [[ $2 =~ ^[0-9]+$ ]]; then
    echo "usage: $0 TARGET SECONDS [libFuzzer options...]; TARGET: $targets" >&2
    exit 2
fi
target=$1 seconds=$2
shift 2

build=${MORLA_FUZZ_BUILD:-$top/build/fuzz}
work=${MORLA_FUZZ_WORK:-/tmp/morla-fuzz}/$target
mkdir -p "$work/corpus" "$work/findings"
if ! { (cd "$top" && cmake --preset fuzz -B "$build") &&
       cmake --build "$build" -j2 --target "fuzz_$target"; } >"$work/build.log" 2>&1; then
    tail -n 30 "$work/build.log" >&2
    echo "fuzz $target: the build failed" >&2
    exit 2
fi
rm -f "$work/findings"/*

options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="$work/findings/")
case $target in
name_walk)
    options+=(-max_len=4096)
    # Seeds: the first records of the names fixture, as they lie on disk.
    if [ -z "$(ls -A "$work/corpus")" ]; then
        image="$work/names.img"
        gzip -dc "$top/tests/fixtures/names.img.gz" > "$image"
        # The table starts at cluster 4 of 4 KiB: record r is 1 KiB block 16 + r.
        for r in $(seq 0 40); do
            dd if="$image" of="$work/corpus/record-$r" bs=1024 skip=$((16 + r)) count=1 status=none
        done
        rm -f "$image"
    fi
    ;;
volume_scan)
    # The search's own messages ("Reading MFT record ...") would drown the log.
    options+=(-close_fd_mask=2)
    ;;
esac

echo "fuzz $target for $seconds s (log: $work/log)"
status=0
nice -n 19 "$build/fuzz/fuzz_$target" "${options[@]}" "$@" "$work/corpus" >"$work/log" 2>&1 ||
    status=$?

# The totals: executions, executions per second, and the corpus reached.
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/log" |
    sed "s/^stat::/  $target: /" || true
grep -E '^#[0-9]+[[:space:]]+DONE' "$work/log" | tail -n 1 | sed "s/^/  $target: /" || true

findings=$(find "$work/findings" -type f | wc -l)
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    mkdir -p "$here/regressions/$target"
    cp "$work/findings"/* "$here/regressions/$target/" 2>/dev/null || true
    echo "fuzz $target: FINDING (status $status); input(s) kept in fuzz/regressions/$target/" >&2
    grep -E 'ERROR|broken|SUMMARY' "$work/log" | head -n 20 >&2 || true
    exit 1
fi
echo "fuzz $target: no finding"
