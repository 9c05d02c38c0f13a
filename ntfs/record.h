// One file record as stored on the volume: its update-sequence fix-ups and
// the walk over its attribute headers, every field checked against the
// record's bounds before it is used.
#pragma once

#include <cstdint>
#include <cstring>

#include "ntfs/layout.h"
#include "ntfs/record_copy.h"

// Checks the signature "FILE" and the update sequence, and puts each sector's
// saved last two bytes back. Returns 0 for a torn or foreign record, whose
// bytes may then be partly restored. Inline: once per record of a scan.
inline int ntfs_fix_record(uint8_t* record, uint32_t size) {
    constexpr uint32_t stride = NTFS_FIXUP_STRIDE;
    if (std::memcmp(record + NTFS_RECORD_SIGNATURE, "FILE", 4) != 0) return 0;
    const uint32_t usa_offset = ntfs_le16(record + NTFS_RECORD_USA_OFFSET);
    const uint32_t usa_count = ntfs_le16(record + NTFS_RECORD_USA_COUNT);
    // One entry for the sequence number, then one per 512-byte stride; the
    // array itself must sit before the first stride's tail.
    if (usa_count != size / stride + 1 || usa_offset < NTFS_RECORD_USA_COUNT + 2 ||
        (usa_offset & 1) || usa_offset + 2 * usa_count > stride - 2)
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
    constexpr uint32_t stride = NTFS_FIXUP_STRIDE;
    if (std::memcmp(stored + NTFS_RECORD_SIGNATURE, "FILE", 4) != 0) return 0;
    const uint32_t usa_offset = ntfs_le16(stored + NTFS_RECORD_USA_OFFSET);
    const uint32_t usa_count = ntfs_le16(stored + NTFS_RECORD_USA_COUNT);
    // The same tests as ntfs_fix_record's; an offset below the array's first
    // place wraps, so one comparison bounds the array on both sides (the
    // count is at most 129).
    constexpr uint32_t usa_first = NTFS_RECORD_USA_COUNT + 2;
    if (size == 2 * stride) {  // 1 KiB, by far the most common size: no loop, fewer tests
        if (usa_count != 3 || (usa_offset & 1) ||
            usa_offset - usa_first > stride - 2 - usa_first - 2 * 3)
            return 0;
        const uint8_t* usa = stored + usa_offset;
        const uint16_t sequence = ntfs_le16(usa);
        if (ntfs_le16(stored + stride - 2) != sequence ||
            ntfs_le16(stored + 2 * stride - 2) != sequence)
            return 0;
        ntfs_copy_record(to, stored, 2 * stride);
        std::memcpy(to + stride - 2, usa + 2, 2);
        std::memcpy(to + 2 * stride - 2, usa + 4, 2);
        return 1;
    }
    if (usa_count != size / stride + 1 || (usa_offset & 1) ||
        usa_offset - usa_first > stride - 2 - usa_first - 2 * usa_count)
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
