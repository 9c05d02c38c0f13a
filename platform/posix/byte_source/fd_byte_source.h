// The NTFS reader's byte source over a file descriptor of a device or image.
// Large reads (the scan's blocks) are copied out with pread, on the reader's
// own thread, and read ahead with posix_fadvise, one read-ahead window a
// hint. Small reads (the records path reconstruction asks for all over the
// table, the bitmap's chunks) are copied out of a read-only map of the
// device, which answers from the system's cache without a system call; a
// page of it that cannot be read makes the read fail (EIO), never ends the
// process.
#pragma once

#include <cstdint>

#include "ntfs/byte_source.h"
#include "platform/posix/byte_source/read_ahead_window.h"

struct FdByteSource {
    int fd = -1;
    int map_state = 0;               // 0 until the first small read, then an FD_MAP_ value
    const uint8_t* map = nullptr;    // the device or image, read-only
    uint64_t map_length = 0;         // bytes mapped
    long faults_at_look = 0;         // page faults when the resident size was last looked at
    uint32_t reads_since_check = 0;  // small reads since the faults were last counted
    uint64_t hint_bytes = POSIX_DEFAULT_READ_AHEAD_BYTES;  // the most of one hint the system reads
};

enum : int { FD_MAP_OPEN = 1, FD_MAP_NONE = 2 };

// Fills source (whose context is fd_source) for the descriptor; the length
// is the device's or file's size.
void fd_source_start(FdByteSource* fd_source, int fd, ByteSource* source);

// Whether the bytes at [offset, offset + length) of the file look cached
// already: its first and last pages and one page in every 16 MiB between
// them are.
bool posix_range_cached(int fd, uint64_t offset, uint64_t length);
// Releases the map; the descriptor is left to its owner.
void fd_source_release(FdByteSource* fd_source);
