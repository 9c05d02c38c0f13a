// One file record as stored on the volume: its update-sequence fix-ups and
// the walk over its attribute headers, every field checked against the
// record's bounds before it is used.
#pragma once

#include <cstdint>
#include <cstring>

#include "ntfs/layout.h"
#include "ntfs/record_copy.h"

// The update sequence array of a record as stored, when the record is sound:
// the signature "FILE", an array of one entry for the sequence number and one
// per 512-byte stride lying before the first stride's tail, and that number
// at every stride's tail. Null for a torn or foreign record. Inline: once per
// record of a scan.
[[gnu::always_inline]] inline const uint8_t* ntfs_sound_record(const uint8_t* stored,
                                                                uint32_t size) {
    constexpr uint32_t stride = NTFS_FIXUP_STRIDE;
    if (std::memcmp(stored + NTFS_RECORD_SIGNATURE, "FILE", 4) != 0) return nullptr;
    const uint32_t usa_offset = ntfs_le16(stored + NTFS_RECORD_USA_OFFSET);
    const uint32_t usa_count = ntfs_le16(stored + NTFS_RECORD_USA_COUNT);
    // An offset below the array's first place wraps, so one comparison bounds
    // the array on both sides (the count is at most 129).
    constexpr uint32_t usa_first = NTFS_RECORD_USA_COUNT + 2;
    if (size == 2 * stride) {  // 1 KiB, by far the most common size: no loop, fewer tests
        if (usa_count != 3 || (usa_offset & 1) ||
            usa_offset - usa_first > stride - 2 - usa_first - 2 * 3)
            return nullptr;
        const uint8_t* usa = stored + usa_offset;
        const uint16_t sequence = ntfs_le16(usa);
        if (ntfs_le16(stored + stride - 2) != sequence ||
            ntfs_le16(stored + 2 * stride - 2) != sequence)
            return nullptr;
        return usa;
    }
    if (usa_count != size / stride + 1 || (usa_offset & 1) ||
        usa_offset - usa_first > stride - 2 - usa_first - 2 * usa_count)
        return nullptr;
    const uint8_t* usa = stored + usa_offset;
    const uint16_t sequence = ntfs_le16(usa);
    for (uint32_t i = 1; i < usa_count; ++i)
        if (ntfs_le16(stored + i * stride - 2) != sequence) return nullptr;
    return usa;
}

// Puts each stride's saved last two bytes, from the sound record's array
// usa, back into record (the record itself or its copy).
[[gnu::always_inline]] inline void ntfs_put_tails_back(uint8_t* record, const uint8_t* usa,
                                                       uint32_t size) {
    constexpr uint32_t stride = NTFS_FIXUP_STRIDE;
    if (size == 2 * stride) {
        std::memcpy(record + stride - 2, usa + 2, 2);
        std::memcpy(record + 2 * stride - 2, usa + 4, 2);
        return;
    }
    // The array lies before the first tail, so no store here changes it.
    for (uint32_t i = 1; i <= size / stride; ++i) {
        const uint16_t saved = ntfs_le16(usa + 2 * i);
        std::memcpy(record + i * stride - 2, &saved, 2);
    }
}

// Checks the record as ntfs_sound_record does and puts each stride's saved
// last two bytes back. 0 (the record unchanged) for a torn or foreign record.
inline int ntfs_fix_record(uint8_t* record, uint32_t size) {
    const uint8_t* usa = ntfs_sound_record(record, size);
    if (!usa) return 0;
    ntfs_put_tails_back(record, usa, size);
    return 1;
}

// Copies a record and fixes the copy up, as a copy and ntfs_fix_record would,
// checking the stored bytes before the copy: 0 (nothing copied) for a torn or
// foreign record.
[[gnu::always_inline]] inline int ntfs_copy_fixed_record(uint8_t* to, const uint8_t* stored,
                                                         uint32_t size) {
    const uint8_t* usa = ntfs_sound_record(stored, size);
    if (!usa) return 0;
    ntfs_copy_record(to, stored, size);
    ntfs_put_tails_back(to, usa, size);
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
