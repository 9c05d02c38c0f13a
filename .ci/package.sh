#!/usr/bin/env bash
# CI: Morla installed like any other tool. The README's release build, then
#   - `cmake --install` into a throw-away prefix: the program, the manual page
#     (clean under groff's warnings, its synopsis shown by man) and the bash
#     completion (drive letters of the drive map after the pattern);
#   - `cpack -G DEB`: contents, control fields, lintian without errors, then
#     installed with apt-get and run from PATH on the sample volume; removed
#     again afterwards unless it was installed before;
#   - `cpack -G ZIP` in the Windows cross-build (made by .ci/windows.sh, or
#     here when missing): a static PE32+ morla.exe and the README.
# Installs what it lacks (root or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
start=$(date +%s)

scripts/install-packages.sh cmake ninja-build g++ gzip dpkg-dev file man-db groff-base lintian

work=$(mktemp -d /tmp/morla-package.XXXXXX)
installed_before=no
dpkg-query -W -f='${Status}' morla 2>/dev/null | grep -q 'install ok installed' && installed_before=yes
cleanup() {
    if [ "$installed_before" = no ] && dpkg-query -W morla >/dev/null 2>&1; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq morla >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

checks=0 failures=0
pass() { checks=$((checks + 1)); echo "package: ok: $1"; }
fail() {
    checks=$((checks + 1)) failures=$((failures + 1))
    echo "package: FAIL: $1"
    [ $# -lt 2 ] || printf '%s\n' "$2" | head -40
}
# expect NAME WANT GOT: passes when the texts are equal.
expect() {
    if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "$(printf 'expected:\n%s\ngot:\n%s' "$2" "$3")"; fi
}

# ---- the README's release build, then cmake --install ----------------------
cmake --preset release >/dev/null
cmake --build --preset release -j2 >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
[ -n "$version" ] || { echo "package: FAIL: no project version in the release build"; exit 1; }

prefix=$work/p
cmake --install build/release --prefix "$prefix" >/dev/null
for file in bin/morla share/man/man1/morla.1 share/bash-completion/completions/morla; do
    if [ -f "$prefix/$file" ]; then pass "cmake --install puts $file"; else fail "cmake --install puts $file"; fi
done
if [ -x "$prefix/bin/morla" ]; then pass "bin/morla is executable"; else fail "bin/morla is executable"; fi
expect "the installed program searches the sample volume" \
    "$(scripts/search-sample.sh 'report*' build/release/morla)" \
    "$(scripts/search-sample.sh 'report*' "$prefix/bin/morla")"

# ---- the manual page ----------------------------------------------------------
page=$prefix/share/man/man1/morla.1
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
expect "groff -man -ww: no warning" "" "$warnings"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
expect "man --warnings: no warning" "" "$warnings"
head=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | head -8)
echo "$head"
if grep -q '^SYNOPSIS' <<<"$head" && grep -q '^ *morla pattern \[drive letter | path \.\.\.\]' <<<"$head"; then
    pass "man -l | head shows the synopsis"
else
    fail "man -l | head shows the synopsis" "$head"
fi
if grep -q "^\.TH MORLA 1 \"[^\"]*\" \"morla $version\"" "$page"; then
    pass "the manual page names version $version"
else
    fail "the manual page names version $version" "$(grep '^\.TH' "$page")"
fi
missing=""
for section in NAME SYNOPSIS DESCRIPTION PATTERN 'DRIVE LETTERS' OUTPUT 'EXIT STATUS' \
    DIAGNOSTICS EXAMPLES SECURITY; do
    grep -q "^\.SH \"*$section\"*\$" "$page" || missing+=" $section"
done
expect "the manual page has every section" "" "$missing"

# ---- the bash completion ----------------------------------------------------------
drives=$work/wine
mkdir -p "$drives/dosdevices" "$work/home"
gzip -dc samples/sample-volume.img.gz >"$work/sample.img"
ln -s "$work/sample.img" "$drives/dosdevices/c::"
ln -s "$work/sample.img" "$drives/dosdevices/e::"
# complete_words WORD...: the completions bash offers for the last word, through
# whatever function the installed script registers for morla.
complete_words() {
    WINEPREFIX=$drives HOME=$work/home bash --norc --noprofile -c '
        source "$1"; shift
        compspec=$(complete -p morla) || exit 1
        function=${compspec#*-F }; function=${function%% *}
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        "$function" morla "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' \
        complete "$prefix/share/bash-completion/completions/morla" "$@"
}
expect "completion offers C and E after morla '*.doc'" "$(printf 'C\nE')" \
    "$(complete_words morla "'*.doc'" '')"
expect "completion offers E after morla '*.doc' c" "E" "$(complete_words morla "'*.doc'" c '')"
expect "completion keeps the typed case" "E" "$(complete_words morla "'*.doc'" E)"
expect "completion keeps the typed lower case" "e" "$(complete_words morla "'*.doc'" C e)"
expect "completion offers nothing for the pattern" "" "$(complete_words morla '')"
expect "completion offers file names after './'" "./sample.img" \
    "$(cd "$work" && complete_words morla "'*.doc'" ./sam)"
expect "completion offers folders after '/', to go on" "$work/wine/" \
    "$(complete_words morla "'*.doc'" "$work/wi")"
expect "completion offers nothing without a drive map" "" \
    "$(WINEPREFIX=$work/none bash --norc -c 'source "$1"; COMP_WORDS=(morla x ""); COMP_CWORD=2; _morla; printf "%s\n" "${COMPREPLY[@]}"' \
        complete "$prefix/share/bash-completion/completions/morla")"

# ---- the Debian package --------------------------------------------------------
rm -f build/release/morla_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/morla_*.deb)
expect "cpack -G DEB makes morla_${version}_amd64.deb" "build/release/morla_${version}_$(dpkg --print-architecture).deb" "$deb"
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/morla ./usr/share/man/man1/morla.1.gz ./usr/share/bash-completion/completions/morla \
    ./usr/share/doc/morla/copyright ./usr/share/doc/morla/changelog.gz; do
    if grep -qxF "$file" <<<"$contents"; then pass "the package holds $file"; else fail "the package holds $file" "$contents"; fi
done
expect "package name" morla "$(dpkg-deb -f "$deb" Package)"
expect "package version is the project's" "$version" "$(dpkg-deb -f "$deb" Version)"
for field in Maintainer Description; do
    if [ -n "$(dpkg-deb -f "$deb" $field)" ]; then pass "package has a $field"; else fail "package has a $field"; fi
done
expect "the package recommends bash-completion, without which the completion does nothing" \
    bash-completion "$(dpkg-deb -f "$deb" Recommends)"
depends=$(dpkg-deb -f "$deb" Depends)
if grep -q 'libc6 (>=' <<<"$depends"; then pass "dependencies from shlibs: $depends"; else fail "dependencies from shlibs" "$depends"; fi
# Containers are read through libtsk, which the release build links.
if grep -q 'libtsk' <<<"$depends"; then pass "the package depends on libtsk"; else fail "the package depends on libtsk" "$depends"; fi
if grep -q 'libqcow' <<<"$depends"; then pass "the package depends on libqcow"; else fail "the package depends on libqcow" "$depends"; fi
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/man/man1/morla.1.gz >"$work/morla.1.gz"
if gzip -t "$work/morla.1.gz" && cmp -s <(gzip -dc "$work/morla.1.gz") doc/morla.1; then
    pass "the packaged manual page is the page, compressed"
else
    fail "the packaged manual page is the page, compressed"
fi
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
cat "$work/lintian"
if [ "$lintian_status" -eq 0 ] && ! grep -q '^E:' "$work/lintian"; then
    pass "lintian reports no error"
else
    fail "lintian reports no error (status $lintian_status)"
fi

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >"$work/apt" 2>&1 ||
    { cat "$work/apt"; fail "apt-get install ./$deb"; }
expect "morla on PATH is the package's" /usr/bin/morla "$(command -v morla || true)"
expect "morla from PATH searches the sample volume" \
    "$(scripts/search-sample.sh '*' build/release/morla)" "$(scripts/search-sample.sh '*' morla)"
# Minimised images tell dpkg to leave manual pages out; there is nothing to find.
if grep -rqs '^path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/; then
    echo "package: man -w check skipped: dpkg leaves out /usr/share/man on this machine"
else
    expect "man finds the installed page" /usr/share/man/man1/morla.1.gz "$(man -w morla 2>/dev/null || true)"
fi
usage_status=0
morla >/dev/null 2>"$work/usage" || usage_status=$?
expect "morla with no argument: usage, status 1" "1 Usage:" "$usage_status $(head -c 6 "$work/usage")"

# ---- the Windows zip ------------------------------------------------------------
if [ ! -f build/windows/morla.exe ]; then
    scripts/install-packages.sh g++-mingw-w64-x86-64-posix
    cmake --preset windows >/dev/null
    cmake --build build/windows -j2 --target morla >/dev/null
fi
rm -f build/windows/morla-*-win64.zip
(cd build/windows && cpack -G ZIP >/dev/null)
zip=build/windows/morla-$version-win64.zip
if [ -f "$zip" ]; then pass "cpack -G ZIP makes $zip"; else fail "cpack -G ZIP makes $zip" "$(ls build/windows)"; fi
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$top/$zip")
exe=$work/zip/morla-$version-win64/bin/morla.exe
kind=$(file -b "$exe" 2>&1 || true)
if grep -q '^PE32+ executable (console) x86-64' <<<"$kind"; then pass "the zip holds a PE32+ morla.exe"; else fail "the zip holds a PE32+ morla.exe" "$kind"; fi
# Static: nothing but the system's own DLLs, so it runs on a bare Windows.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
if [[ $dlls =~ ^((kernel32|advapi32|shell32|user32|msvcrt)\.dll\ )+$ ]]; then
    pass "morla.exe needs only system DLLs: $dlls"
else
    fail "morla.exe needs only system DLLs" "$dlls"
fi
if cmp -s "$work/zip/morla-$version-win64/README.md" README.md; then pass "the zip holds the README"; else fail "the zip holds the README"; fi

total=$(( $(date +%s) - start ))
if [ "$failures" -eq 0 ]; then
    echo "package: PASSED: $checks checks ($total s)"
else
    echo "package: FAILED: $failures of $checks checks ($total s)"
    exit 1
fi
