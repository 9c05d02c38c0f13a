#!/usr/bin/env bash
# Valgrind memcheck over the real morla binary, end to end, on the committed
# volumes: a few representative runs (results with non-ASCII and control
# characters, a fragmented table, two drives, a volume cut short inside its
# table (its first request fails: a report, no lines), a drive that is not NTFS,
# bad and missing drive letters, the usage text). Every run must be free of
# memory errors and of definite leaks. Builds the debug preset's binary
# first (or uses $MORLA_BUILD). Installs valgrind when missing. Search runs need root, as CI has.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/install-packages.sh valgrind

build=${MORLA_BUILD:-$top/build/debug}
if [ -z "${MORLA_BUILD:-}" ]; then
    cmake --preset debug >/dev/null
fi
cmake --build "$build" -j2 --target morla >/dev/null
morla="$build/morla"

work=$(mktemp -d /tmp/morla-valgrind.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prefix/dosdevices"
gzip -dc tests/fixtures/names.img.gz > "$work/names.img"
gzip -dc tests/fixtures/fragmented.img.gz > "$work/fragmented.img"
gzip -dc samples/sample-volume.img.gz > "$work/sample.img"
head -c 80000 "$work/names.img" > "$work/cut.img"   # ends inside the table
truncate -s 1M "$work/zeros.img"
ln -s "$work/names.img" "$work/prefix/dosdevices/c::"
ln -s "$work/fragmented.img" "$work/prefix/dosdevices/f::"
ln -s "$work/sample.img" "$work/prefix/dosdevices/s::"
ln -s "$work/cut.img" "$work/prefix/dosdevices/t::"
ln -s "$work/zeros.img" "$work/prefix/dosdevices/z::"
export WINEPREFIX="$work/prefix"

runs=0 failures=0
# check STATUS LINES ARG...: runs morla under memcheck; the exit status and
# the number of result lines must be as given, the log free of errors.
check() {
    local want_status=$1 want_lines=$2 status=0
    shift 2
    runs=$((runs + 1))
    valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite \
        --error-exitcode=1 --log-file="$work/log" \
        "$morla" "$@" >"$work/out" 2>"$work/err" </dev/null || status=$?
    local lines
    lines=$(wc -l < "$work/out")
    if [ "$status" -eq "$want_status" ] && [ "$lines" -eq "$want_lines" ] &&
        grep -q 'ERROR SUMMARY: 0 errors' "$work/log" &&
        grep -q 'definitely lost: 0 bytes\|All heap blocks were freed' "$work/log"; then
        echo "valgrind: ok: morla $* ($lines lines)"
        return
    fi
    failures=$((failures + 1))
    echo "valgrind: FAIL: morla $*: status $status (expected $want_status), $lines lines (expected $want_lines)"
    sed -n '/HEAP SUMMARY/,$p; /Invalid\|uninitialised\|definitely/,+12p' "$work/log" | head -60
    head -c 2000 "$work/err"
}

check 1 0
check 0 57 '*' C
check 0 24 '*.TXT' c
check 0 1215 '*' f
check 0 5 'report*' s C
check 3 0 '*' t
check 0 0 '*' z
check 3 0 x.txt 1 q

echo "valgrind: $runs runs, $failures failed"
[ "$failures" -eq 0 ]
