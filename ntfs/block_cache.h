// What the reader keeps of the table and its bitmap while the scan walks
// them: bounded copies, whatever the volume's size, read through the byte
// source.
//
// The scan asks for the table's records downward, which the system's own
// read-ahead does not follow. So the table is read one aligned block at a
// time into a single buffer, each block once, and the source is asked to
// start on the blocks below well before the scan needs them. A block is
// small enough to stay in the processor's cache while its records are
// handed out.
//
// The bitmap is read in small chunks, kept in slots by chunk number: the
// scan moves through it slowly (a chunk holds the bits of 32,768 records),
// while the requests of path reconstruction jump around in it.
#pragma once

#include <cstdint>

#include "ntfs/byte_source.h"
#include "ntfs/stream.h"

enum : uint32_t {
    SCAN_BLOCK_BYTES = 256u << 10,
    SCAN_READ_AHEAD_BYTES = 8u << 20,  // below the block being read
    BITMAP_CHUNK_BYTES = 4096,
    BITMAP_CHUNK_SLOTS = 64,
};

struct ScanBlock {
    uint64_t tag;     // block number + 1; 0 while the buffer holds no block
    uint32_t length;  // bytes of the block inside the table
    uint8_t* bytes;   // SCAN_BLOCK_BYTES, page-aligned within memory
    void* memory;     // allocated at first use
    uint64_t hinted;  // the table from here up was asked to be read ahead
};

struct BitmapChunk {
    uint64_t tag;     // chunk number + 1; 0 while empty
    uint32_t length;  // bytes of the chunk inside the bitmap
    uint8_t* bytes;   // BITMAP_CHUNK_BYTES, allocated at first use
};

// The records that both the scan's block and a bitmap chunk at hand hold,
// taken when the scan was last answered from its block, so that its next
// requests are answered with a subtraction and a bit test. Emptied whenever
// the block or a chunk is read anew.
struct ScanHand {
    uint64_t first;          // the first record's number
    uint64_t count;          // records from first on; 0 while empty
    uint64_t first_bit;      // first's bit in bits
    const uint8_t* bits;     // the chunk's bytes
    const uint8_t* records;  // first's bytes in the block
};

struct BlockCache {
    ScanBlock scan;
    BitmapChunk chunks[BITMAP_CHUNK_SLOTS];
    ScanHand hand;
};

// Whether the scan's buffer holds the table's byte at offset.
bool scan_holds(const BlockCache* cache, uint64_t offset);

// The record_size bytes at offset in the table (a multiple of record_size),
// as stored, from the scan's block, which is read when the offset lies
// outside it (the blocks below it that hold records in use by the bitmap
// are asked to be read ahead). Valid until the next call. Null with errno
// set when the block cannot be read.
const uint8_t* scan_record(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                           const NtfsStream* table, const NtfsStream* bitmap, uint64_t offset,
                           uint32_t record_size);

// Asks the source to read ahead the blocks of the table's bytes [from, to)
// (block-aligned) that hold a record the bitmap marks in use: what the scan
// will read, and none of a free stretch, however large the table claims to
// be. Costs a pass over the bitmap's bits for the range.
void hint_blocks_in_use(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                        const NtfsStream* table, const NtfsStream* bitmap, uint32_t record_size,
                        uint64_t from, uint64_t to);

// Takes the hand around record number, when the scan's block and a bitmap
// chunk hold it (else the hand stays empty).
void scan_take_hand(BlockCache* cache, uint64_t number, uint32_t record_size);

// The highest record at or below number marked in use, as the scan's block
// holds it, when number and that record lie in the hand; null otherwise
// (nothing is read). *found is its number. Inline: the scan's every request looks here
// first, and the free records between two in use (a deleted file's) are
// passed over here rather than by a search of the bitmap.
inline const uint8_t* scan_at_hand(const BlockCache* cache, uint64_t number, uint32_t record_size,
                                   uint64_t* found) {
    const ScanHand& hand = cache->hand;
    uint64_t i = number - hand.first;  // wraps for number below the hand
    if (i >= hand.count) return nullptr;
    for (uint64_t bit = hand.first_bit + i; !(hand.bits[bit / 8] >> (bit % 8) & 1); --bit) {
        if (i == 0) return nullptr;
        --i;
    }
    *found = hand.first + i;
    return hand.records + i * record_size;
}

// Chunk 'index' of the bitmap (bytes index * BITMAP_CHUNK_BYTES onward), read
// when absent; *length is how many of its bytes lie in the bitmap. Valid
// until the next call. Null with errno set when it cannot be read.
const uint8_t* bitmap_chunk(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                            const NtfsStream* bitmap, uint64_t index, uint32_t* length);

// Frees the buffers.
void cache_release(BlockCache* cache);
