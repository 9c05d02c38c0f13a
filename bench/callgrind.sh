#!/usr/bin/env bash
# bench/callgrind.sh [N]
#
# The stable figure to watch for regressions: instructions per in-use record
# for a scan whose pattern matches nothing ('no-such-name'), counted by
# callgrind on the reference volume of N files (default 100000). Times on
# shared machines vary by 10-15 %; this count barely moves.
#
# The in-use records are counted from the volume itself, whatever the
# binary inlines: the set bits of the table's bitmap ($MFT's $BITMAP, read
# with icat) for the records the table holds. With no match there is no path
# reconstruction, so the scan makes one record request per in-use record
# (the reference volumes hold no torn record). The figure includes start-up
# and the volume's set-up.
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
command -v icat >/dev/null || { echo "missing icat (Debian package sleuthkit)" >&2; exit 1; }

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

# The table's bitmap, and how many records the table holds (its $DATA size
# over the record size).
icat "$image" 0-176 >"$work/bitmap"
record_bytes=$(fsstat "$image" | awk '/^Size of MFT Entries/ {print $5; exit}')
table_bytes=$(istat "$image" 0 | sed -n 's/^Type: \$DATA .* size: \([0-9]*\).*/\1/p' | head -n 1)
[[ "$record_bytes" =~ ^[0-9]+$ && "$table_bytes" =~ ^[0-9]+$ ]] ||
    { echo "cannot tell the table's size from fsstat and istat" >&2; exit 1; }

python3 - "$work/callgrind.out" "$N" "$work/bitmap" $((table_bytes / record_bytes)) <<'PY'
import sys

path, n, bitmap, records = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
with open(bitmap, "rb") as f:
    bits = f.read()
in_use = sum(bin(byte).count("1") for byte in bits[:records // 8])
if records % 8 and records // 8 < len(bits):
    in_use += bin(bits[records // 8] & ((1 << records % 8) - 1)).count("1")
total = 0
with open(path) as f:
    for line in f:
        if line.startswith("summary:") or line.startswith("totals:"):
            total = int(line.split()[1])
if not in_use:
    sys.exit("no record in use in the table's bitmap")
print(f"N = {n:,}: {total:,} instructions, "
      f"{in_use:,} in-use records (bits set in the table's bitmap), "
      f"{total / in_use:,.0f} instructions per in-use record")
PY
