#!/usr/bin/env bash
# The Windows check: cross-builds Morla for 64-bit Windows with mingw-w64
# (posix thread model, statically linked), runs the test suite under wine,
# checks the command-line behaviour of morla.exe, then compares its searches
# with the Linux build's on the test volumes (.ci/windows-compare.sh): wine
# has no NTFS requests, so morla.exe reads those volumes with its own NTFS
# reader, as it does a volume Windows mounts as RAW.
# Run from anywhere; installs what it lacks (root or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
phase_start=$start
phase() {
    local now
    now=$(date +%s)
    echo "windows: $1 in $((now - phase_start)) s"
    timings+=("$1 $((now - phase_start)) s")
    phase_start=$now
}
timings=()

# ---- packages: mingw-w64 and wine, without recommends; idempotent ----------
scripts/install-packages.sh g++-mingw-w64-x86-64-posix wine64 wine
phase "packages"

# ---- cross-build: wine is installed first, so that the toolchain file finds
# it and CTest runs the test executables through it --------------------------
cmake --preset windows >/dev/null
cmake --build build/windows -j2
phase "cross-build"

# ---- wine: a throw-away prefix, no display driver (a message box returns at
# once instead of waiting for a click), quiet, no Mono or Gecko prompts -------
WINEPREFIX=$(mktemp -d /tmp/morla-wine.XXXXXX)
work=$(mktemp -d /tmp/morla-windows-check.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=;winex11.drv=d"
# Arguments reach wine as UTF-8 only under a UTF-8 locale.
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
# wine keeps the prefix's server socket in /tmp/wine-*/server-<device>-<inode>.
server_dir=$(printf 'server-%x-%x' "$((0x$(stat -c %D "$WINEPREFIX")))" "$(stat -c %i "$WINEPREFIX")")
cleanup() {
    # Only this prefix's server (and the wine processes it runs) is ended.
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    for folder in /tmp/wine-*/"$server_dir"; do
        [ -d "$folder" ] || continue
        rm -rf "$folder"
        rmdir "$(dirname "$folder")" 2>/dev/null || true
    done
    rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT
timeout 180 wineboot --init >/dev/null 2>&1
timeout 120 wineserver -w
# A server that stays up until the cleanup: one that ends by itself between
# two tests can do so just as the next connects ("recvmsg: Connection reset
# by peer"), which fails a test that did nothing wrong. Its helper processes
# live as long and keep the standard streams of the run that started them,
# so a first run with none starts them.
timeout 30 wineserver -p
timeout 60 wine cmd /c exit >/dev/null 2>&1 </dev/null || true
phase "wine prefix"

# ---- the test suite under wine ---------------------------------------------
# E: is an NTFS image for the relay's tests: the device link and the folder
# link wine lists drives by.
zcat tests/fixtures/names.img.gz >"$work/names.img"
mkdir -p "$work/e-folder"
ln -sfn "$work/e-folder" "$WINEPREFIX/dosdevices/e:"
ln -sfn "$work/names.img" "$WINEPREFIX/dosdevices/e::"
failures=0
if ! timeout 900 ctest --preset windows; then
    echo "windows: FAIL: the test suite under wine"
    failures=$((failures + 1))
fi
rm -f "$WINEPREFIX/dosdevices/e:" "$WINEPREFIX/dosdevices/e::"
phase "tests under wine"

# ---- morla.exe on the command line -----------------------------------------
exe="$PWD/build/windows/morla.exe"
checks=0

# check NAME STATUS OUT ERR ARG...: runs morla.exe with the arguments and
# compares its exit status and both streams byte for byte (OUT and ERR are
# printf formats; '-' skips a stream).
check() {
    local name=$1 status=$2 out=$3 err=$4 got_status=0
    shift 4
    checks=$((checks + 1))
    timeout 60 wine "$exe" "$@" >"$work/out" 2>"$work/err" </dev/null || got_status=$?
    local bad=""
    [ "$got_status" -eq "$status" ] || bad+=" exit status $got_status, expected $status;"
    if [ "$out" != - ]; then
        printf "$out" >"$work/want-out"
        cmp -s "$work/out" "$work/want-out" || bad+=" standard output differs;"
    fi
    if [ "$err" != - ]; then
        printf "$err" >"$work/want-err"
        cmp -s "$work/err" "$work/want-err" || bad+=" standard error differs;"
    fi
    if [ -z "$bad" ]; then
        echo "windows: ok: $name"
        return
    fi
    failures=$((failures + 1))
    echo "windows: FAIL: $name:$bad"
    echo "--- standard output:"; od -c "$work/out" | head -20
    echo "--- standard error:"; od -c "$work/err" | head -20
}

# argv[0] as wine hands it to the program: the DOS form of the path.
argv0=$(timeout 60 winepath -w "$exe")
argv0=${argv0//\\/\\\\}
usage="Usage:\t${argv0//%/%%} <pattern> [<drive letter>*]\r\n"
usage+="\tpattern\t\tfilename to search for, e.g. *.doc\r\n"
usage+="\tdrive letter\te.g. C\r\n"
usage+="\r\n"
usage+="Note: Multiple drive letters may be given, separated by spaces;\r\n"
usage+="if only a pattern is given, Morla will search all local NTFS\r\n"
usage+="file systems.\r\n"
check "no argument: usage on standard error with CR LF, status 1" 1 "" "$usage"
for help in -h --help '/?'; do
    check "$help: the usage text, status 1" 1 "" "$usage" "$help" C
done
version=$(sed -n 's/^project(morla VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
check "--version: the project's version, status 0" 0 "morla $version\r\n" "" --version
check "-V: the same" 0 "morla $version\r\n" "" -V

# The fresh prefix has drives C: and Z: only. A drive named that cannot be
# searched ends the run with status 3, after every other one was.
check "invalid and missing drive letters" 3 "" \
    "Invalid drive letter '1'\r\nUnable to access drive q\r\n" x.txt 1 q
check "C: is the prefix's folder, no volume: its scan stays silent" 0 "" "" '*' C
check "the relay prefix after the first unit is a pattern" 3 "" \
    "Unable to access drive q\r\n" 'x\\.\pipe\morla-uac-pipe-0000abcd' q
# E: an image that ends before its table, under a device link and the
# folder link wine lists drives by.
head -c 8192 "$work/names.img" >"$work/cut.img"
mkdir -p "$work/e-folder"
ln -sfn "$work/e-folder" "$WINEPREFIX/dosdevices/e:"
ln -sfn "$work/cut.img" "$WINEPREFIX/dosdevices/e::"
check "an NTFS image cut before its table: a failed read, status 3" 3 "" \
    "Reading MFT record failed with error 38: End of file.\r\r\n" '*' C e
rm -f "$WINEPREFIX/dosdevices/e:" "$WINEPREFIX/dosdevices/e::"
check "messages keep every character (UTF-8); a lone surrogate becomes U+FFFD" 3 "" \
    "Invalid drive letter '\xc3\xa9'\r\nInvalid drive letter '\xef\xbf\xbd'\r\nUnable to access drive q\r\nUnable to access drive q\r\n" \
    x.txt é 😀 qdrive q
check "a pattern alone searches every volume and prints no match" 0 "" - '*.no-such-morla-name'

# A failed write ends the run with the system's code: standard error on a
# full disk (wine answers ERROR_DISK_FULL, 112) leaves no room for a report.
checks=$((checks + 1))
got_status=0
timeout 60 wine "$exe" x.txt 1 >"$work/out" 2>/dev/full </dev/null || got_status=$?
if [ "$got_status" -eq 112 ] && [ ! -s "$work/out" ]; then
    echo "windows: ok: standard error on a full disk ends the run with error 112"
else
    failures=$((failures + 1))
    echo "windows: FAIL: standard error on a full disk: exit status $got_status, expected 112"
fi

# On a terminal wine gives the program a console: the text then goes through
# the console's wide-character output. script(1) provides the terminal.
if command -v script >/dev/null; then
    checks=$((checks + 1))
    command_line=$(printf '%q ' wine "$exe" x.txt é 😀 q)
    timeout 60 script -qec "$command_line" /dev/null >"$work/tty" </dev/null || true
    # Drop wine's cursor escapes and the terminal's carriage returns.
    sed -E 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1b\][^\x07]*\x07//g' "$work/tty" | tr -d '\r' >"$work/tty-text"
    printf "Invalid drive letter '\xc3\xa9'\nInvalid drive letter '\xef\xbf\xbd'\nUnable to access drive q\n" >"$work/want-tty"
    if cmp -s "$work/tty-text" "$work/want-tty"; then
        echo "windows: ok: console output keeps every character"
    else
        failures=$((failures + 1))
        echo "windows: FAIL: console output keeps every character"
        od -c "$work/tty" | head -20
    fi
    # The requester's copy of relayed UTF-8 to a console, which only a
    # terminal gives the test executable.
    checks=$((checks + 1))
    report=$(timeout 60 winepath -w "$work/console.xml")
    command_line=$(printf '%q ' wine "$PWD/build/windows/morla_system_tests.exe" \
        --gtest_filter='WindowsRelayConsole.*' --gtest_output="xml:$report")
    status=0
    timeout 120 script -qec "$command_line" /dev/null >"$work/tty" </dev/null || status=$?
    # Run, not skipped: the test found its console.
    if [ "$status" -eq 0 ] && grep -q 'result="completed"' "$work/console.xml" 2>/dev/null; then
        echo "windows: ok: relayed UTF-8 shows on a console, characters split between reads whole"
    else
        failures=$((failures + 1))
        echo "windows: FAIL: relayed UTF-8 on a console (status $status)"
        sed -E 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/tty" | tr -d '\r' | tail -20
    fi
else
    echo "windows: console checks skipped: script(1) is not installed"
fi
phase "command-line checks"

# ---- the same searches as the Linux build (which needs root to search) -----
compared="not compared (a Linux search needs root)"
if [ "$(id -u)" -eq 0 ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release -j2 --target morla >/dev/null
    compared="the same searches as the Linux build"
    if ! .ci/windows-compare.sh "$exe" "$PWD/build/release/morla"; then
        failures=$((failures + 1))
        echo "windows: FAIL: morla.exe and the Linux build differ"
    fi
else
    echo "windows: comparison with the Linux build skipped: not root"
fi
phase "comparison with the Linux build"

total=$(( $(date +%s) - start ))
summary=$(printf "%s, " "${timings[@]}"); summary=${summary%, }
if [ "$failures" -eq 0 ]; then
    echo "windows: PASSED: test suite, $checks command-line checks and $compared under wine ($summary; total $total s)"
else
    echo "windows: FAILED: $failures failure(s) ($summary; total $total s)"
    exit 1
fi
