#!/usr/bin/env bash
# bench/same-output.sh OLD_MORLA NEW_MORLA [IMAGE...]
#
# Runs two Morla binaries on the same volumes, each as drive C, with the
# patterns '*', '*.txt' and 'no-such-name', and compares standard output and
# standard error byte for byte: the check that a change kept every result.
# The volumes are the committed fixtures, the bundled sample, the
# Windows-made samples in ../shared (when present) and any IMAGE given (the
# 1M reference volume, say). Prints one line per run; exits 1 on a
# difference. Needs root, as any search does.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 OLD_MORLA NEW_MORLA [IMAGE...]" >&2; exit 1; }
old=$(realpath "$1") new=$(realpath "$2")
shift 2
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/morla-same.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prefix/dosdevices"

images=()
for gz in "$repo"/tests/fixtures/*.img.gz "$repo"/samples/*.img.gz; do
    gzip -dc "$gz" > "$work/${#images[@]}.img"
    images+=("$work/${#images[@]}.img")
done
# The shared samples are disks: the NTFS partition starts at sector 128.
for gz in "$repo"/../shared/ntfs-samples/*.raw.gz; do
    [ -f "$gz" ] || continue
    gzip -dc "$gz" | tail -c +65537 > "$work/${#images[@]}.img"
    images+=("$work/${#images[@]}.img")
done
images+=("$@")

differences=0
for image in "${images[@]}"; do
    ln -sfn "$(realpath "$image")" "$work/prefix/dosdevices/c::"
    for pattern in '*' '*.txt' 'no-such-name'; do
        WINEPREFIX=$work/prefix "$old" "$pattern" C >"$work/old.out" 2>"$work/old.err" || true
        WINEPREFIX=$work/prefix "$new" "$pattern" C >"$work/new.out" 2>"$work/new.err" || true
        lines=$(wc -l < "$work/new.out")
        if cmp -s "$work/old.out" "$work/new.out" && cmp -s "$work/old.err" "$work/new.err"; then
            echo "same: $image '$pattern' ($lines lines, $(sha256sum < "$work/new.out" | cut -c1-16))"
        else
            echo "DIFFERENT: $image '$pattern'"
            differences=$((differences + 1))
        fi
    done
done
[ "$differences" -eq 0 ]
