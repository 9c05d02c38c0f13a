// One file record as stored on the volume: its update-sequence fix-ups and
// the walk over its attribute headers, every field checked against the
// record's bounds before it is used.
#pragma once

#include <cstdint>
#include <cstring>

#include "ntfs/bytes.h"
#include "ntfs/record_copy.h"
#include "ntfs/stream.h"

enum : uint32_t {
    NTFS_ATTRIBUTE_LIST = 0x20,
    NTFS_ATTRIBUTE_DATA = 0x80,
    NTFS_ATTRIBUTE_BITMAP = 0xB0,
    NTFS_ATTRIBUTE_END = 0xFFFFFFFF,
};
constexpr uint64_t NTFS_RECORD_NUMBER_MASK = 0xFFFFFFFFFFFFull;

// Checks the signature "FILE" and the update sequence, and puts each sector's
// saved last two bytes back. Returns 0 for a torn or foreign record, whose
// bytes may then be partly restored. Inline: once per record of a scan.
inline int ntfs_fix_record(uint8_t* record, uint32_t size) {
    constexpr uint32_t stride = 512;
    if (std::memcmp(record, "FILE", 4) != 0) return 0;
    const uint32_t usa_offset = ntfs_le16(record + 4);
    const uint32_t usa_count = ntfs_le16(record + 6);
    // One entry for the sequence number, then one per 512-byte stride; the
    // array itself must sit before the first stride's tail.
    if (usa_count != size / stride + 1 || usa_offset < 8 || (usa_offset & 1) ||
        usa_offset + 2 * usa_count > stride - 2)
        return 0;
    // Two bytes at a time, as one load and one store.
    const uint8_t* usa = record + usa_offset;
    uint16_t sequence;
    std::memcpy(&sequence, usa, 2);
    for (uint32_t i = 1; i < usa_count; ++i) {
        uint8_t* tail = record + i * stride - 2;
        uint16_t stored;
        std::memcpy(&stored, tail, 2);
        if (stored != sequence) return 0;
        std::memcpy(tail, usa + 2 * i, 2);
    }
    return 1;
}

// Copies a record and fixes the copy up, as a copy and ntfs_fix_record would,
// checking the stored bytes before the copy: 0 (nothing copied) for a torn or
// foreign record. Inline: once per record of a scan.
[[gnu::always_inline]] inline int ntfs_copy_fixed_record(uint8_t* to, const uint8_t* stored,
                                                         uint32_t size) {
    constexpr uint32_t stride = 512;
    if (std::memcmp(stored, "FILE", 4) != 0) return 0;
    const uint32_t usa_offset = ntfs_le16(stored + 4);
    const uint32_t usa_count = ntfs_le16(stored + 6);
    // The same tests as ntfs_fix_record's; an offset below 8 wraps, so one
    // comparison bounds the array on both sides (the count is at most 129).
    if (size == 1024) {  // by far the most common size: no loop, fewer tests
        if (usa_count != 3 || (usa_offset & 1) || usa_offset - 8 > stride - 2 - 8 - 2 * 3)
            return 0;
        const uint8_t* usa = stored + usa_offset;
        const uint16_t sequence = ntfs_le16(usa);
        if (ntfs_le16(stored + 510) != sequence || ntfs_le16(stored + 1022) != sequence) return 0;
        ntfs_copy_record(to, stored, 1024);
        std::memcpy(to + 510, usa + 2, 2);
        std::memcpy(to + 1022, usa + 4, 2);
        return 1;
    }
    if (usa_count != size / stride + 1 || (usa_offset & 1) ||
        usa_offset - 8 > stride - 2 - 8 - 2 * usa_count)
        return 0;
    const uint8_t* usa = stored + usa_offset;
    const uint16_t sequence = ntfs_le16(usa);
    for (uint32_t i = 1; i < usa_count; ++i)
        if (ntfs_le16(stored + i * stride - 2) != sequence) return 0;
    ntfs_copy_record(to, stored, size);
    // The copy's tails written from the stored array, which no store here
    // touches: read apart from the writes, the loop needs no reloads.
    for (uint32_t i = 1; i < usa_count; ++i) {
        const uint16_t saved = ntfs_le16(usa + 2 * i);
        std::memcpy(to + i * stride - 2, &saved, 2);
    }
    return 1;
}

// Walks the attribute headers of a fixed record.
struct AttributeWalk {
    const uint8_t* record;
    uint32_t size;
    uint32_t offset;  // of the next header; size once the walk has ended
};
void attribute_walk_start(AttributeWalk* walk, const uint8_t* record, uint32_t size);
// The next attribute and its length; null at the end marker or at the first
// header that is malformed or would cross the record's end.
const uint8_t* attribute_walk_next(AttributeWalk* walk, uint32_t* length);

// An unnamed attribute: no name of its own (the $MFT's data and bitmap).
bool attribute_unnamed(const uint8_t* attribute);
bool attribute_resident(const uint8_t* attribute);
// A resident attribute's value; 0 when it would leave the attribute.
int attribute_value(const uint8_t* attribute, uint32_t length, const uint8_t** value,
                    uint32_t* value_length);
// First VCN of a non-resident attribute's piece of runs.
uint64_t attribute_first_vcn(const uint8_t* attribute);

// Appends a non-resident piece to the stream when it starts where the stream
// ends: its runs, checked against the volume's clusters, and, for the first
// piece, its sizes. Runs are taken up to the first bad one. Returns 0 when
// the piece did not fit or ended early, so later pieces can be refused.
int stream_add_piece(NtfsStream* stream, const uint8_t* attribute, uint32_t length,
                     uint64_t total_clusters, uint32_t cluster_bytes);
