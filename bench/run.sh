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
#   RUNS           timed rounds of the fast commands, warm (default 7)
#   COLD_RUNS      timed rounds of the fast commands, cold (default 5)
#   SLOW_RUNS      timed runs of fls and find, warm and cold (default 2; 0 leaves
#                  them out, for a quick second run of the fast commands)
#   WORK           folder for the results (default: a new one under /tmp)
set -euo pipefail

N=${1:-}
[[ "$N" =~ ^[0-9]+$ ]] || { echo "usage: $0 N" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
tools=$(cd "$repo/.." && pwd)/shared/tools
volumes=${BENCH_VOLUMES:-/work/bench-volumes}
build=${BUILD_DIR:-/tmp/morla-bench-build}
runs=${RUNS:-7}
cold_runs=${COLD_RUNS:-5}
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
need cc gcc
need taskset util-linux
need ewfacquire ewf-tools
need ewfmount ewf-tools
need qemu-img qemu-utils
need sfdisk fdisk
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

# ---- the container forms: an E01, a VHDX and a GPT disk holding the volume
bash "$here/container-forms.sh" "$image"
stem=${image%.img}

# Drive C is the image (drive letters on Linux: README, "Drive letters");
# E the E01, V the VHDX, G the GPT disk.
export WINEPREFIX=$work/prefix
mkdir -p "$WINEPREFIX/dosdevices"
ln -sfn "$image" "$WINEPREFIX/dosdevices/c::"
ln -sfn "$stem.E01" "$WINEPREFIX/dosdevices/e::"
ln -sfn "$stem.vhdx" "$WINEPREFIX/dosdevices/v::"
ln -sfn "$stem-gpt.img" "$WINEPREFIX/dosdevices/g::"

# ---- the floors: the table's own extents (found with istat), read by one
# process with pread into one cache-sized buffer (floor-read.c), and, as the
# earlier figures were, by one dd per extent
cluster=$(fsstat "$image" | awk -F': ' '/^Cluster Size/ {print $2; exit}')
istat -r "$image" 0 | awk -v c="$cluster" '
    /^Type: \$DATA/ { data = 1; next }
    /^Type:/ { data = 0 }
    data && /Starting address/ {
        gsub(",", ""); printf "%.0f:%.0f\n", $3 * c, $5 * c
    }' >"$work/extents.txt"
extents=$(wc -l <"$work/extents.txt")
[ "$extents" -gt 0 ] || { echo "no \$MFT extents found by istat" >&2; exit 1; }
awk -F: -v img="$image" '{
    printf "dd if=%s of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip=%s count=%s status=none\n", img, $1, $2
}' "$work/extents.txt" >"$work/floor.sh"
cc -O2 -o "$work/floor-read" "$here/floor-read.c"
floor_read="'$work/floor-read' '$image' $(tr '\n' ' ' <"$work/extents.txt")"
# The containers' floor: the same extents through the library that reads
# them (floor-read-tsk.c); the GPT disk's: floor-read at the partition's offset.
cc -O2 -o "$work/floor-read-tsk" "$here/floor-read-tsk.c" -ltsk
extents_list=$(tr '\n' ' ' <"$work/extents.txt")
gpt_extents=$(awk -F: '{printf "%.0f:%s ", $1 + 1048576, $2}' "$work/extents.txt")
floor_e01="'$work/floor-read-tsk' '$stem.E01' $extents_list"
floor_vhdx="'$work/floor-read-tsk' '$stem.vhdx' $extents_list"
floor_gpt="'$work/floor-read' '$stem-gpt.img' $gpt_extents"
# Today's way for an E01, for comparison: ewfmount's FUSE file, searched by
# path (the mount keeps what it decompressed in the page cache).
ewf_mnt=$work/ewf
mkdir -p "$ewf_mnt"

# ---- the ntfs-3g mount, read-only; only while find runs, since ntfsls
# refuses a volume that ntfs-3g holds open
mnt=$work/mnt
mkdir -p "$mnt"
mount_volume() { ntfs-3g -o ro "$image" "$mnt"; }
unmount_volume() {
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
}
trap 'unmount_volume || true; umount "$ewf_mnt" 2>/dev/null || true' EXIT
ewfmount "$stem.E01" "$ewf_mnt" >/dev/null

# ---- the commands (names as shown in the table)
q="'"
doc="morla ${q}*.doc${q} C"
all="morla ${q}*${q} C > /dev/null"
none="morla ${q}no-such-name${q} C"
fls_cmd="fls -r -p IMAGE"
find_cmd="find MNT -iname ${q}*.doc${q}"
ntfsls_cmd="ntfsls -R -a IMAGE"
floor_cmd="floor-read of the \$MFT extents ($extents)"
dd_cmd="dd of each \$MFT extent ($extents)"
one_cmd="taskset -c 0 morla ${q}no-such-name${q} C"
one_floor_cmd="taskset -c 0 floor-read"
# Interleaved: one run of each in turn, round after round (interleave.py).
fast=(
    "$doc" "'$morla' '*.doc' C"
    "$all" "'$morla' '*' C > /dev/null"
    "$none" "'$morla' 'no-such-name' C"
    "$floor_cmd" "$floor_read"
    "$dd_cmd" "bash '$work/floor.sh'"
    "$ntfsls_cmd" "ntfsls -R -a '$image'"
    "$one_cmd" "taskset -c 0 '$morla' 'no-such-name' C"
    "$one_floor_cmd" "taskset -c 0 $floor_read"
)
# The containers and the disk: each search and its floor, then the
# ewfmount way (label, doc, none, floor, in containers.tsv for table.py).
containers=(
    "E01" "morla ${q}*.doc${q} E (E01)" "'$morla' '*.doc' E"
    "morla ${q}no-such-name${q} E (E01)" "'$morla' 'no-such-name' E"
    "floor-read-tsk of the E01's extents" "$floor_e01"
    "VHDX" "morla ${q}*.doc${q} V (VHDX)" "'$morla' '*.doc' V"
    "morla ${q}no-such-name${q} V (VHDX)" "'$morla' 'no-such-name' V"
    "floor-read-tsk of the VHDX's extents" "$floor_vhdx"
    "GPT disk" "morla ${q}*.doc${q} G (GPT disk)" "'$morla' '*.doc' G"
    "morla ${q}no-such-name${q} G (GPT disk)" "'$morla' 'no-such-name' G"
    "floor-read of the GPT disk's extents" "$floor_gpt"
)
: >"$work/containers.tsv"
for ((i = 0; i < ${#containers[@]}; i += 7)); do
    printf '%s\t%s\t%s\t%s\n' "${containers[i]}" "${containers[i + 1]}" "${containers[i + 3]}" \
        "${containers[i + 5]}" >>"$work/containers.tsv"
    fast+=("${containers[@]:i+1:6}")
done
ewf_way="morla ${q}no-such-name${q} MNT_EWF/ewf1 (ewfmount way)"
fast+=("$ewf_way" "'$morla' 'no-such-name' '$ewf_mnt/ewf1'")
echo "$ewf_way" >"$work/ewf-way.txt"

{
    echo "morla    = $morla (drive C: WINEPREFIX=$WINEPREFIX, dosdevices/c:: -> IMAGE)"
    echo "IMAGE    = $image"
    echo "MNT      = $mnt (ntfs-3g -o ro IMAGE MNT, mounted for find only)"
    echo "floor    = $floor_read"
    echo "E, V, G  = dosdevices/e:: -> $stem.E01, v:: -> $stem.vhdx, g:: -> $stem-gpt.img"
    echo "MNT_EWF  = $ewf_mnt (ewfmount $stem.E01 MNT_EWF)"
    echo "dd       = $work/floor.sh, one line per extent, e.g.:"
    echo "           $(head -n 1 "$work/floor.sh")"
} >"$work/commands.txt"

drop='sync; echo 3 > /proc/sys/vm/drop_caches'
if ! sh -c "$drop" 2>/dev/null; then
    # Without the right to drop every cache, evict the image's own pages.
    drop="python3 -c 'import os; fd = os.open(\"$image\", os.O_RDONLY); os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)'"
    echo "== /proc/sys/vm/drop_caches is not writable: cold runs evict the image with posix_fadvise"
fi
echo "cold     = before each run (interleave.py PREPARE): $drop" >>"$work/commands.txt"

# One hyperfine export per group: $1 warm or cold, $2 the group, the rest
# hyperfine's options.
timed() {
    local kind=$1 group=$2
    shift 2
    hyperfine --style basic --export-json "$work/$kind-$group.json" "$@"
}

echo "== warm: $runs interleaved rounds (fls, find: $slow_runs runs) after one warm-up"
python3 "$here/interleave.py" "$work/warm-fast.json" "$runs" 1 '' "${fast[@]}"
if [ "$slow_runs" -gt 0 ]; then
    timed warm fls --warmup 1 --runs "$slow_runs" -n "$fls_cmd" "fls -r -p '$image'"
    mount_volume
    timed warm find --warmup 1 --runs "$slow_runs" -n "$find_cmd" "find '$mnt' -iname '*.doc'"
    unmount_volume
fi

echo "== cold: $cold_runs interleaved rounds (fls, find: $slow_runs runs), page cache dropped before each"
# The one-processor pair stays out of the cold rounds; the containers are in.
python3 "$here/interleave.py" "$work/cold-fast.json" "$cold_runs" 0 "$drop" "${fast[@]:0:12}" "${fast[@]:16}"
if [ "$slow_runs" -gt 0 ]; then
    timed cold fls --prepare "$drop" --runs "$slow_runs" -n "$fls_cmd" "fls -r -p '$image'"
    mount_volume
    timed cold find --prepare "$drop" --runs "$slow_runs" -n "$find_cmd" "find '$mnt' -iname '*.doc'"
    unmount_volume
fi

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

python3 "$here/table.py" "$work" "$N" "$image" "$doc" "$all" "$none" "$one_cmd" \
    "$floor_cmd" "$dd_cmd" "$ntfsls_cmd" "$find_cmd" "$fls_cmd" "$one_floor_cmd" | tee "$work/table.md"
echo "(results in $work)"
