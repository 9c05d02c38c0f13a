#!/usr/bin/env bash
# .ci/windows-compare.sh WINDOWS_MORLA LINUX_MORLA
#
# The Windows build against the Linux build on the same volumes. Every
# fixture, the bundled sample and the Windows-made samples in ../shared
# (their NTFS partition, when present) get a drive letter in the wine prefix
# ($WINEPREFIX, which both builds read: dosdevices/x:: links to the image,
# x: to an empty folder so that wine lists the drive). For each drive and
# the patterns '*', '*.txt' and 'no-such-name', `wine morla.exe PATTERN X`
# and the Linux `morla PATTERN X` must give the same standard output and
# standard error once each CR before an LF is taken out, and the same exit
# status. Then the search of every volume under wine (a pattern only) must
# print every lettered volume's lines, in letter order. Prints one line per
# check; exits 1 on any difference. Run by .ci/windows.sh, which sets up the
# prefix and the wine environment; needs root, as a Linux search does.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 WINDOWS_MORLA LINUX_MORLA" >&2; exit 2; }
exe=$1 linux=$2
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/morla-compare.XXXXXX)
dosdevices="$WINEPREFIX/dosdevices"
letters=(c e f g h i j k l m n o p q r s t u v w x y)
used=()
cleanup() {
    for letter in "${used[@]}"; do
        rm -f "$dosdevices/$letter::"
        [ "$letter" = c ] || rm -f "$dosdevices/$letter:"
    done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/empty"

# drive IMAGE: the next free letter links to the image.
drive() {
    local letter=${letters[${#used[@]}]}
    ln -sfn "$1" "$dosdevices/$letter::"
    [ "$letter" = c ] || ln -sfn "$work/empty" "$dosdevices/$letter:"
    used+=("$letter")
}
for gz in "$repo"/tests/fixtures/*.img.gz "$repo"/samples/*.img.gz; do
    # Volumes only: a disk's partitions are told apart on Linux by Morla,
    # on Windows by the system, which gives each a volume of its own.
    case $gz in *-disk.img.gz) continue ;; esac
    gzip -dc "$gz" > "$work/${#used[@]}.img"
    drive "$work/${#used[@]}.img"
done
# The shared samples are disks: the NTFS partition starts at sector 128. The
# 1 GiB one is mostly zeros, kept sparse.
samples=0
for gz in "$repo"/../shared/ntfs-samples/*.raw.gz; do
    [ -f "$gz" ] || continue
    gzip -dc "$gz" | dd of="$work/${#used[@]}.img" bs=64K skip=1 iflag=fullblock conv=sparse status=none
    drive "$work/${#used[@]}.img"
    samples=$((samples + 1))
done
[ "$samples" -gt 0 ] || echo "windows: compare: no Windows-made samples in ../shared; skipped"
# wine reads the drive map when its server starts; the new one stays up
# until the cleanup, as the test suite's did.
timeout 60 wineserver -k >/dev/null 2>&1 || true
timeout 30 wineserver -p
timeout 60 wine cmd /c exit >/dev/null 2>&1 </dev/null || true

checks=0 differences=0
# Each CR before an LF taken out: what wine's text mode adds to every line.
strip_cr() { sed 's/\r$//' "$1"; }

for letter in "${used[@]}"; do
    drive_letter=${letter^^}
    for pattern in '*' '*.txt' 'no-such-name'; do
        checks=$((checks + 1))
        status_w=0 status_l=0
        timeout 120 wine "$exe" "$pattern" "$drive_letter" >"$work/w.out" 2>"$work/w.err" </dev/null ||
            status_w=$?
        # morla.exe never fails without a word; wine, loaded, once in a while
        # ends a run at its start so. That run is made once more.
        if [ "$status_w" -ne 0 ] && [ ! -s "$work/w.out" ] && [ ! -s "$work/w.err" ]; then
            echo "windows: wine ended '$pattern' $drive_letter with status $status_w and no output; once more"
            status_w=0
            timeout 120 wine "$exe" "$pattern" "$drive_letter" >"$work/w.out" 2>"$work/w.err" </dev/null ||
                status_w=$?
        fi
        timeout 120 "$linux" "$pattern" "$drive_letter" >"$work/l.out" 2>"$work/l.err" </dev/null ||
            status_l=$?
        bad=""
        [ "$status_w" -eq "$status_l" ] || bad+=" exit status $status_w, Linux $status_l;"
        cmp -s <(strip_cr "$work/w.out") "$work/l.out" || bad+=" standard output differs;"
        cmp -s <(strip_cr "$work/w.err") "$work/l.err" || bad+=" standard error differs;"
        if [ -z "$bad" ]; then
            echo "windows: same: '$pattern' $drive_letter ($(wc -l < "$work/l.out") lines)"
            if [ "$pattern" = '*' ]; then cp "$work/l.out" "$work/drive-$letter.out"; fi
        else
            differences=$((differences + 1))
            echo "windows: DIFFERENT: '$pattern' $drive_letter:$bad"
            diff <(strip_cr "$work/w.out") "$work/l.out" | head -10 || true
            diff <(strip_cr "$work/w.err") "$work/l.err" | head -10 || true
        fi
    done
done

# Every volume: wine lists the lettered ones in letter order (its own Z:,
# the root folder, cannot be opened as a volume and says so).
checks=$((checks + 1))
status_w=0
timeout 300 wine "$exe" '*' >"$work/w.out" 2>"$work/w.err" </dev/null || status_w=$?
: >"$work/want.out"
for letter in "${used[@]}"; do
    if [ -f "$work/drive-$letter.out" ]; then cat "$work/drive-$letter.out" >>"$work/want.out"; fi
done
if [ "$status_w" -eq 0 ] && cmp -s <(strip_cr "$work/w.out") "$work/want.out"; then
    echo "windows: same: '*' on every volume ($(wc -l < "$work/want.out") lines, ${#used[@]} drives)"
else
    differences=$((differences + 1))
    echo "windows: DIFFERENT: '*' on every volume: exit status $status_w"
    diff <(strip_cr "$work/w.out") "$work/want.out" | head -10 || true
fi

if [ "$differences" -ne 0 ]; then
    echo "windows: compare: $differences of $checks checks differ"
    exit 1
fi
echo "windows: compare: $checks checks the same"
