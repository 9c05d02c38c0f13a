// An open volume on Linux: the device or image, the byte source over it, and
// the NTFS reader built from its bytes at the first volume request.
#pragma once

#include "ntfs/volume.h"
#include "platform/posix/byte_source/fd_byte_source.h"
#include "platform/posix/disks/window_source.h"
#include "platform/posix/handles.h"

struct PosixVolume {
    PosixHandle base;  // kind POSIX_VOLUME, the device's descriptor
    FdByteSource bytes;
    NtfsVolume* ntfs;  // null until the first request
    // A partition of a disk, or a container's volume: the container's bytes
    // (null: the descriptor's), and the partition's place in them (a
    // length of 0: all of them). The container outlives the volume.
    const ByteSource* container;
    uint64_t start;
    uint64_t length;
    WindowSource window;
};

// CloseHandle of a volume: the reader, the map and the descriptor.
void posix_close_volume(PosixVolume* volume);
