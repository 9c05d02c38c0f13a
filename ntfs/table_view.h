// The table read in place, through views the byte source hands out of the
// volume's bytes (on Linux, a read-only map of the device or image), so that
// the system's cache is the only cache: a record costs neither a read nor a
// copy of the block it lies in. This is what makes path reconstruction
// cheap, since it re-reads ancestors all over the table.
//
// The table is taken in aligned blocks of VIEW_BLOCK_BYTES. Before its first
// use a block is read ahead and then viewed whole, one view per run it lies
// in; the source makes each view ready to touch, or refuses it, so an
// unreadable block is reported by the copying path rather than met in the
// middle of a record. A block that cannot be viewed (it holds a hole or
// bytes above the valid size, lies beyond the end of the device or image,
// or the source refuses it), and a record that crosses runs, are left to the
// copying path. Each block viewed asks for the blocks below it to be read
// ahead: the downward scan reads them all sooner or later.
#pragma once

#include <cstdint>

#include "ntfs/byte_source.h"
#include "ntfs/stream.h"

enum : uint32_t {
    VIEW_BLOCK_BYTES = 1u << 20,
    VIEW_READ_AHEAD_BLOCKS = 8,  // blocks read ahead below each block viewed
};

// One run's part of a block that lies across runs.
struct ViewPiece {
    uint64_t start;     // table offset of the piece's first byte
    uint64_t end;       // table offset just past its last byte
    const uint8_t* at;  // the piece's bytes, in place
};

struct TableView {
    int state;                  // 0 before the first use, then VIEW_OPEN or VIEW_NONE
    uint64_t block_count;       // of the table
    const uint8_t** block_at;   // per block in one run: its bytes, in place
    uint32_t* block_piece;      // per block across runs: its first piece
    uint8_t* block_state;       // per block: see table_view.cpp
    ViewPiece* pieces;          // of the blocks across runs, block after block
    uint32_t piece_count;
    uint32_t piece_capacity;
};

enum : int { VIEW_OPEN = 1, VIEW_NONE = 2 };

// The length bytes at offset in the table, in place (they must not cross a
// block); null when they must be read by copy, or the source has no views.
// The pointer stays valid until the source is closed.
const uint8_t* view_bytes(TableView* view, const ByteSource* source, const NtfsStream* table,
                          uint32_t cluster_bytes, uint64_t offset, uint32_t length);

void view_release(TableView* view);
