#!/usr/bin/env bash
# Searches the bundled sample volume as drive C: unpacks it, makes a prefix
# folder whose dosdevices/c:: names it, and runs morla with the given pattern.
# Usage: scripts/search-sample.sh [PATTERN] [MORLA_BINARY]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
pattern=${1:-*}
morla=${2:-$here/build/release/morla}
work=$(mktemp -d /tmp/morla-sample.XXXXXX)
trap 'rm -rf "$work"' EXIT
gzip -dc "$here/samples/sample-volume.img.gz" > "$work/sample.img"
mkdir -p "$work/prefix/dosdevices"
ln -s "$work/sample.img" "$work/prefix/dosdevices/c::"
WINEPREFIX="$work/prefix" "$morla" "$pattern" C
