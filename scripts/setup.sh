#!/usr/bin/env bash
# Installs what building and testing Morla needs on a fresh Debian 12 machine.
# Idempotent; needs root (or sudo).
set -euo pipefail
"$(dirname "$0")/install-packages.sh" cmake ninja-build g++ libgtest-dev gzip ntfs-3g sleuthkit \
    dosfstools sudo attr util-linux passwd bsdutils fdisk mount python3-fusepy
# Image containers: the library Morla reads them through, and the tools the
# tests make their E01, VMDK, VHD, VHDX and qcow2 forms with.
"$(dirname "$0")/install-packages.sh" libtsk-dev libqcow-dev ewf-tools qemu-utils
# Debian packages of Morla itself (cpack -G DEB reads its libraries' needs).
"$(dirname "$0")/install-packages.sh" dpkg-dev file
