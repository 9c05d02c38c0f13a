#!/usr/bin/env bash
# bench/container-forms.sh IMAGE
# Makes, beside the reference volume IMAGE (bench-N.img), the forms of it
# that bench/run.sh also times, when missing: bench-N-gpt.img, a GPT disk
# holding the volume as partition 1 at 1 MiB (sparse, as the volume is);
# bench-N.E01, one segment (ewfacquire -f encase6 -c deflate:fast, package
# ewf-tools); bench-N.vhdx (qemu-img convert, package qemu-utils).
set -euo pipefail
image=$1
stem=${image%.img}
size=$(stat -c %s "$image")
if [ ! -f "$stem-gpt.img" ]; then
    echo "== making $stem-gpt.img"
    rm -f "$stem-gpt.img.part"
    truncate -s $((size + 2 * 1048576)) "$stem-gpt.img.part"
    printf 'label: gpt\nstart=2048, size=%d, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n' $((size / 512)) |
        sfdisk -q "$stem-gpt.img.part" >/dev/null
    dd if="$image" of="$stem-gpt.img.part" bs=1M seek=1 conv=notrunc,sparse status=none
    mv "$stem-gpt.img.part" "$stem-gpt.img"
fi
if [ ! -f "$stem.E01" ]; then
    echo "== making $stem.E01 (minutes: the volume is compressed)"
    rm -f "$stem.part.E01"
    ewfacquire -u -q -t "$stem.part" -f encase6 -c deflate:fast -S 1099511627776 "$image" >/dev/null
    mv "$stem.part.E01" "$stem.E01"
fi
if [ ! -f "$stem.vhdx" ]; then
    echo "== making $stem.vhdx"
    qemu-img convert -f raw -O vhdx "$image" "$stem.vhdx.part"
    mv "$stem.vhdx.part" "$stem.vhdx"
fi
