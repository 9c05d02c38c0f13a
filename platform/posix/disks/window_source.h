// One partition of a disk as a byte source of its own: the disk's bytes
// from the partition's start, ending at its end.
#pragma once

#include "ntfs/byte_source.h"

struct WindowSource {
    ByteSource disk;
    uint64_t start;
    uint64_t length;
};

// Fills source with the window [start, start + length) of disk; the window
// must lie inside the disk. A read reaching past the window fails (EIO).
void window_source_start(WindowSource* window, const ByteSource* disk, uint64_t start,
                         uint64_t length, ByteSource* source);
