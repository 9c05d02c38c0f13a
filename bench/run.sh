#!/usr/bin/env bash
# bench/run.sh N
#
# Times Morla against the tools that walk directories, on the reference
# volume of N files, warm and then cold, and prints one table (see
# bench/README.md). Needs root: it mounts the volume and drops the page cache.
#
# Environment:
#   BENCH_VOLUMES  folder of the reference volumes (default /work/bench-volumes);
#                  bench-N.img is built there with the shared tool when missing
#   BUILD_DIR      where Morla is built, optimised (default /tmp/morla-bench-build)
#   MORLA          a morla binary to measure instead of building one (an
#                  older build, to compare in the same session)
#   RUNS           timed runs of each fast command, warm (default 5)
#   COLD_RUNS      timed runs of each fast command, cold (default 3)
#   SLOW_RUNS      timed runs of fls and find, warm and cold (default 2)
#   WORK           folder for the results (default: a new one under /tmp)
set -euo pipefail

N=${1:-}
[[ "$N" =~ ^[0-9]+$ ]] || { echo "usage: $0 N" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
tools=$(cd "$repo/.." && pwd)/shared/tools
volumes=${BENCH_VOLUMES:-/work/bench-volumes}
build=${BUILD_DIR:-/tmp/morla-bench-build}
runs=${RUNS:-5}
cold_runs=${COLD_RUNS:-3}
slow_runs=${SLOW_RUNS:-2}
work=${WORK:-$(mktemp -d /tmp/morla-bench.XXXXXX)}
mkdir -p "$work"

need() {
    command -v "$1" >/dev/null || { echo "missing $1 (Debian package $2)" >&2; exit 1; }
}
need hyperfine hyperfine
need fls sleuthkit
need istat sleuthkit
need ntfsls ntfs-3g
need ntfs-3g ntfs-3g
need python3 python3
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (Debian package time)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "run as root (mount, page cache)" >&2; exit 1; }

# ---- the reference volume
image=$volumes/bench-$N.img
if [ ! -f "$image" ] || [ ! -f "$image.json" ]; then
    echo "== building $image (minutes for large N)"
    mkdir -p "$volumes"
    bash "$tools/make-bench-volume.sh" "$N" "$image"
    python3 "$tools/check-bench-volume.py" "$image"
fi

# ---- Morla, optimised
if [ -n "${MORLA:-}" ]; then
    morla=$(realpath "$MORLA")
else
    echo "== building Morla (release) in $build"
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORLA_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 >/dev/null
    morla=$build/morla
fi

# Drive C is the image (drive letters on Linux: README, "Drive letters").
export WINEPREFIX=$work/prefix
mkdir -p "$WINEPREFIX/dosdevices"
ln -sfn "$image" "$WINEPREFIX/dosdevices/c::"

# ---- the floor: the table's own extents, read with dd
cluster=$(fsstat "$image" | awk -F': ' '/^Cluster Size/ {print $2; exit}')
istat -r "$image" 0 | awk -v c="$cluster" -v img="$image" '
    /^Type: \$DATA/ { data = 1; next }
    /^Type:/ { data = 0 }
    data && /Starting address/ {
        gsub(",", ""); start = $3; len = $5
        printf "dd if=%s of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip=%.0f count=%.0f status=none\n", img, start * c, len * c
    }' >"$work/floor.sh"
extents=$(wc -l <"$work/floor.sh")
[ "$extents" -gt 0 ] || { echo "no \$MFT extents found by istat" >&2; exit 1; }

# ---- the ntfs-3g mount, read-only; only while find runs, since ntfsls
# refuses a volume that ntfs-3g holds open
mnt=$work/mnt
mkdir -p "$mnt"
mount_volume() { ntfs-3g -o ro "$image" "$mnt"; }
unmount_volume() {
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
}
trap 'unmount_volume || true' EXIT

# ---- the commands (names as shown in the table)
q="'"
doc="morla ${q}*.doc${q} C"
all="morla ${q}*${q} C > /dev/null"
none="morla ${q}no-such-name${q} C"
fls_cmd="fls -r -p IMAGE"
find_cmd="find MNT -iname ${q}*.doc${q}"
ntfsls_cmd="ntfsls -R -a IMAGE"
floor_cmd="dd of each \$MFT extent ($extents)"
fast=(
    -n "$doc" "$morla '*.doc' C"
    -n "$all" "$morla '*' C > /dev/null"
    -n "$none" "$morla 'no-such-name' C"
    -n "$ntfsls_cmd" "ntfsls -R -a '$image'"
    -n "$floor_cmd" "bash '$work/floor.sh'"
)

{
    echo "morla    = $morla (drive C: WINEPREFIX=$WINEPREFIX, dosdevices/c:: -> IMAGE)"
    echo "IMAGE    = $image"
    echo "MNT      = $mnt (ntfs-3g -o ro IMAGE MNT, mounted for find only)"
    echo "floor    = $work/floor.sh, one line per extent, e.g.:"
    echo "           $(head -n 1 "$work/floor.sh")"
} >"$work/commands.txt"

drop='sync; echo 3 > /proc/sys/vm/drop_caches'
if ! sh -c "$drop" 2>/dev/null; then
    # Without the right to drop every cache, evict the image's own pages.
    drop="python3 -c 'import os; fd = os.open(\"$image\", os.O_RDONLY); os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)'"
    echo "== /proc/sys/vm/drop_caches is not writable: cold runs evict the image with posix_fadvise"
fi
echo "cold     = hyperfine --prepare \"$drop\"" >>"$work/commands.txt"

# One hyperfine export per group: $1 warm or cold, $2 the group, the rest
# hyperfine's options.
timed() {
    local kind=$1 group=$2
    shift 2
    hyperfine --style basic --export-json "$work/$kind-$group.json" "$@"
}

echo "== warm: $runs runs (fls, find: $slow_runs) after one warm-up run"
timed warm fast --warmup 1 --runs "$runs" "${fast[@]}"
timed warm fls --warmup 1 --runs "$slow_runs" -n "$fls_cmd" "fls -r -p '$image'"
mount_volume
timed warm find --warmup 1 --runs "$slow_runs" -n "$find_cmd" "find '$mnt' -iname '*.doc'"
unmount_volume

echo "== cold: $cold_runs runs (fls, find: $slow_runs), page cache dropped before each"
timed cold fast --prepare "$drop" --runs "$cold_runs" "${fast[@]}"
timed cold fls --prepare "$drop" --runs "$slow_runs" -n "$fls_cmd" "fls -r -p '$image'"
mount_volume
timed cold find --prepare "$drop" --runs "$slow_runs" -n "$find_cmd" "find '$mnt' -iname '*.doc'"
unmount_volume

echo "== memory of each Morla run (warm)"
: >"$work/memory.tsv"
for pattern in '*.doc' '*' 'no-such-name'; do
    /usr/bin/time -v -o "$work/time.txt" "$morla" "$pattern" C >/dev/null
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    anon=$(python3 "$here/peak_memory.py" "$morla" "$pattern" C)
    printf '%s\t%s\t%s\n' "$pattern" "$rss" "$anon" >>"$work/memory.tsv"
done

echo "== instructions per in-use record (callgrind)"
MORLA=$morla bash "$here/callgrind.sh" "$N" | tee "$work/callgrind.txt"

python3 "$here/table.py" "$work" "$N" "$image" "$doc" "$all" "$none" "$floor_cmd" "$ntfsls_cmd" \
    "$find_cmd" "$fls_cmd" | tee "$work/table.md"
echo "(results in $work)"
