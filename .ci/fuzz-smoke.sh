#!/usr/bin/env bash
# CI smoke test of the fuzz targets: builds the "fuzz" preset (clang with
# libFuzzer and the address and undefined-behaviour sanitizers) and runs each
# target for 60 seconds (MORLA_FUZZ_SECONDS to change). A finding fails the
# run and leaves its input in fuzz/regressions/<target>/ for CTest.
# Installs clang and its runtime libraries (libFuzzer, sanitizers) when
# missing: packages clang and libclang-rt-14-dev (Debian 12).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh clang libclang-rt-14-dev

seconds=${MORLA_FUZZ_SECONDS:-60}
failures=0
for target in name_walk volume_scan matcher relay_frame command_line partition_table; do
    fuzz/run.sh "$target" "$seconds" || failures=$((failures + 1))
done
if [ "$failures" -ne 0 ]; then
    echo "fuzz smoke: FAILED: $failures target(s) with a finding"
    exit 1
fi
echo "fuzz smoke: PASSED: 6 targets, $seconds s each, no finding"
