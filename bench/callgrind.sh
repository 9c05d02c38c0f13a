#!/usr/bin/env bash
# bench/callgrind.sh [N]
#
# The stable figure to watch for regressions: instructions per in-use record
# for a scan whose pattern matches nothing ('no-such-name'), counted by
# callgrind on the reference volume of N files (default 100000). Times on
# shared machines vary by 10-15 %; this count barely moves.
#
# The in-use records are the scan's record requests (calls of
# read_file_record, or of the reader's ntfs_file_record where the request is
# inlined): with no match there is no path reconstruction, so every request
# comes from the scan, one per in-use record. The figure includes start-up
# and the volume's set-up.
#
# On Linux a thread of the byte source reads the scan's next block while the
# scan works, and each side waits for the other in a short loop before it
# sleeps. Valgrind runs one thread at a time, so under it that waiting lasts
# until the other thread is let run and says nothing of a real run: its
# instructions (those of the wait loop, wait_past) are counted apart and
# left out of the figure.
#
# Environment: BENCH_VOLUMES, BUILD_DIR, MORLA as for bench/run.sh.
set -euo pipefail

N=${1:-100000}
[[ "$N" =~ ^[0-9]+$ ]] || { echo "usage: $0 [N]" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
tools=$(cd "$repo/.." && pwd)/shared/tools
volumes=${BENCH_VOLUMES:-/work/bench-volumes}
build=${BUILD_DIR:-/tmp/morla-bench-build}
command -v valgrind >/dev/null || { echo "missing valgrind (Debian package valgrind)" >&2; exit 1; }

image=$volumes/bench-$N.img
if [ ! -f "$image" ] || [ ! -f "$image.json" ]; then
    mkdir -p "$volumes"
    bash "$tools/make-bench-volume.sh" "$N" "$image"
fi

morla=${MORLA:-$build/morla}
if [ -z "${MORLA:-}" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORLA_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 >/dev/null
fi

work=$(mktemp -d /tmp/morla-callgrind.XXXXXX)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix
mkdir -p "$WINEPREFIX/dosdevices"
ln -s "$image" "$WINEPREFIX/dosdevices/c::"

valgrind --tool=callgrind --compress-pos=no --callgrind-out-file="$work/callgrind.out" \
    "$morla" 'no-such-name' C >/dev/null 2>"$work/valgrind.txt"

python3 - "$work/callgrind.out" "$N" <<'PY'
import re, sys

path, n = sys.argv[1], int(sys.argv[2])
names = {}        # compressed id -> function name
total = 0
waiting = 0       # the wait loop's own instructions
function = ""     # the function whose costs follow
inclusive = False # the next cost line is a call's, not the function's own
calls = {"read_file_record": 0, "ntfs_file_record": 0}
callee = None
with open(path) as f:
    for line in f:
        m = re.match(r"(c?fn)=\((\d+)\)(?: (.*))?", line)
        if m:
            kind, ident, name = m.groups()
            if name:
                names[ident] = name
            if kind == "cfn":
                callee = names.get(ident, "")
            else:
                function = names.get(ident, "")
            continue
        m = re.match(r"calls=(\d+) ", line)
        if m:
            inclusive = True
        if m and callee:
            # The search's request, or the reader's answer where link-time
            # optimisation inlined the request into the scan.
            for name in calls:
                if callee.startswith(name + "("):
                    calls[name] += int(m.group(1))
            continue
        if line.startswith("summary:") or line.startswith("totals:"):
            total = int(line.split()[1])
            continue
        m = re.match(r"([+-]?\d+|\*) (\d+)$", line.strip())
        if m:
            if not inclusive and "wait_past(" in function:
                waiting += int(m.group(2))
            inclusive = False
requests = calls["read_file_record"] or calls["ntfs_file_record"]
if not requests:
    sys.exit("no record request found in the callgrind output")
work = total - waiting
print(f"N = {n:,}: {work:,} instructions ({waiting:,} more waiting between the threads), "
      f"{requests:,} in-use records (record requests), "
      f"{work / requests:,.0f} instructions per in-use record")
PY
