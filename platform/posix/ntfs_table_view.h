// The table read in place through a read-only map of the whole volume, so
// that the page cache is the only cache: a record costs neither a system
// call nor a copy of the block it lies in. This is what makes path
// reconstruction cheap, since it re-reads ancestors all over the table.
//
// The table is taken in aligned blocks of VIEW_BLOCK_BYTES. Before its first
// use a block is read ahead and faulted in whole, one request per run it
// lies in, which reports an unreadable block as an error; merely touching an
// unreadable mapped page would end the process instead. A block that cannot
// be used this way (it holds a hole or bytes above the valid size, lies
// beyond the end of the device or image, or cannot be faulted in), and a
// record that crosses runs, are left to the copying path. Each block mapped
// asks for the blocks below it to be read ahead: the downward scan reads
// them all sooner or later, and it gets no read-ahead from the kernel.
#pragma once

#include <cstdint>

#include "platform/posix/ntfs_stream.h"

enum : uint32_t {
    VIEW_BLOCK_BYTES = 1u << 20,
    VIEW_READ_AHEAD_BLOCKS = 8,  // blocks read ahead below each block mapped
};

struct TableView {
    int state;                 // 0 before the first use, then VIEW_OPEN or VIEW_NONE
    const uint8_t* volume;     // the device or image mapped whole, read-only
    uint64_t volume_length;    // bytes mapped
    uint64_t block_count;      // of the table
    uint64_t* block_offset;    // per block in one run: where it lies in the volume
    uint8_t* block_state;      // per block: see ntfs_table_view.cpp
};

enum : int { VIEW_OPEN = 1, VIEW_NONE = 2 };

// Test seam: while false, a volume's first record request does not map it,
// so that all its records go through the copying path.
extern bool table_view_enabled;

// The length bytes at offset in the table, in place (they must not cross a
// block); null when they must be read by copy, or the volume could not be
// mapped at all. The pointer stays valid until view_release.
const uint8_t* view_bytes(TableView* view, int fd, const NtfsStream* table,
                          uint32_t cluster_bytes, uint64_t offset, uint32_t length);

void view_release(TableView* view);
