#!/usr/bin/env bash
# Installs what building and testing Morla needs on a fresh Debian 12 machine.
# Idempotent; needs root (or sudo).
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev gzip ntfs-3g sleuthkit dosfstools sudo attr util-linux passwd bsdutils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
