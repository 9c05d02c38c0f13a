// What the record source keeps of the streams it reads. The table is read
// in place through a map of the volume where it can be (table_view.h);
// the rest goes through two tiers of copies, of bounded size whatever the
// volume's size.
//
// Large blocks (1 MiB) serve the scan: it walks the table downward, which
// defeats the kernel's read-ahead, so the table is read a block at a time
// and each block is read once. Small chunks serve path reconstruction: it
// re-reads ancestor directories, which may lie anywhere in the table, and
// reading a whole block for each would cost a megabyte per record. A miss
// becomes a block when it is the scan's next block down (or the first one),
// and a chunk otherwise. Chunks sit in a two-way set-associative table.
#pragma once

#include <cstdint>

#include "ntfs/stream.h"
#include "ntfs/table_view.h"

enum : uint32_t {
    CACHE_BLOCK_BYTES = 1u << 20,
    CACHE_BLOCKS = 4,
    CACHE_CHUNK_BYTES = 4096,           // raised to the record size when larger
    CACHE_CHUNK_MEMORY = 16u << 20,     // all chunks together
};

struct CacheBlock {
    const NtfsStream* stream;  // null while the block holds nothing
    uint64_t index;            // block number within the stream
    uint64_t last_use;
    uint32_t length;           // bytes of the block inside the stream
    uint8_t* bytes;            // CACHE_BLOCK_BYTES, allocated at first use
};

struct CacheChunk {
    uint64_t index;  // chunk number within the table; valid while bytes is set
    bool used;
    uint8_t* bytes;
};

struct BlockCache {
    CacheBlock blocks[CACHE_BLOCKS];
    uint64_t clock;
    uint32_t recent;        // block of the last hit, tried first
    uint64_t scan_block;    // last block filled for the table; ~0 before any
    uint32_t chunk_bytes;
    uint32_t chunk_sets;
    CacheChunk* chunks;     // chunk_sets * 2, allocated at first use
    uint8_t* replace_next;  // per set: the way a miss replaces
    TableView view;         // the table in place, opened at the first record
};

// Block 'index' of the stream (bytes index * CACHE_BLOCK_BYTES onward),
// read when absent; *length is how many of its bytes lie in the stream. A
// resident stream is its own single block. The pointer stays valid until
// the next call. Null with errno set when the block cannot be read.
const uint8_t* cache_block(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                           const NtfsStream* stream, uint64_t index, uint32_t* length);

// The record_size bytes at offset in the table (a multiple of record_size),
// from a block or a chunk. Same lifetime and failure as cache_block.
const uint8_t* cache_record(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                            const NtfsStream* table, uint64_t offset, uint32_t record_size);

void cache_release(BlockCache* cache);
