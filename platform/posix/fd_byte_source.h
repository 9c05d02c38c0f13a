// The NTFS reader's byte source over a file descriptor of a device or image:
// pread for copies, and views out of a read-only map of the whole device,
// each faulted in before it is handed out, so that an unreadable page is a
// refused view rather than a fault in the middle of a record.
#pragma once

#include <cstdint>

#include "ntfs/byte_source.h"

struct FdByteSource {
    int fd;
    int map_state;         // 0 before the first view, then FD_MAP_OPEN or FD_MAP_NONE
    const uint8_t* map;    // the device or image, read-only
    uint64_t map_length;   // bytes mapped
};

enum : int { FD_MAP_OPEN = 1, FD_MAP_NONE = 2 };

// Test seam: while false, sources made from now on hand out no views, so
// that every record is read by copy.
extern bool table_view_enabled;

// Fills source (whose context is fd_source) for the descriptor; the length
// is the device's or file's size.
void fd_source_start(FdByteSource* fd_source, int fd, ByteSource* source);
// Releases the map; the descriptor is left to its owner.
void fd_source_release(FdByteSource* fd_source);
