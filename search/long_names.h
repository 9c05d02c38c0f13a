// The walk over a file record's attributes that yields its long file names:
// each file name value whose name space is not the short (DOS) one, in
// attribute order. The record is untrusted: the walk stops, without reading
// outside the record, at anything that would leave it or not advance.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ntfs/layout.h"

struct NameWalk {
    const uint8_t* at;   // the next attribute; end once the walk has ended
    const uint8_t* end;  // the record's end: nothing at or beyond it is read
};

// Fields of a file name value.
inline uint64_t name_parent(const uint8_t* value) { return ntfs_le64(value + NTFS_NAME_PARENT); }
inline uint32_t name_length(const uint8_t* value) { return value[NTFS_NAME_LENGTH]; }
// The name's UTF-16LE units, possibly unaligned: copy them out with memcpy.
inline const uint8_t* name_units(const uint8_t* value) { return value + NTFS_NAME_UNITS; }

// Inline, as the scan walks every record of the volume and a call per name
// and per record would cost a good part of the walk itself.
inline NameWalk name_walk_start(const uint8_t* record, uint32_t size) {
    NameWalk walk{record + size, record + size};
    if (size >= NTFS_RECORD_FIRST_ATTRIBUTE + 2) {
        const uint32_t first = ntfs_le16(record + NTFS_RECORD_FIRST_ATTRIBUTE);
        if (first < size) walk.at = record + first;
    }
    return walk;
}

// The next long name's file name value, or null when there is none left. The
// value's fixed part and its whole name lie inside the value as its attribute
// header sizes it, and the value inside the attribute and the record.
inline const uint8_t* next_long_name(NameWalk* walk) {
    const uint8_t* at = walk->at;  // at <= end throughout
    const uint8_t* const end = walk->end;
    while (size_t(end - at) >= NTFS_ATTRIBUTE_LENGTH + 4) {
        const uint8_t* attribute = at;
        const uint32_t type = ntfs_le32(attribute + NTFS_ATTRIBUTE_TYPE);
        const uint32_t length = ntfs_le32(attribute + NTFS_ATTRIBUTE_LENGTH);
        // length - 1 wraps for 0: one test for "does not advance or leaves".
        if (type == NTFS_TYPE_END || length - 1 >= size_t(end - at)) break;
        at += length;
        if (type != NTFS_TYPE_FILE_NAME) continue;

        // The value lies inside its attribute (so inside the record), and the
        // name inside its value: a name longer than its value would be read
        // from the bytes after it and printed as garbage.
        if (length < NTFS_RESIDENT_HEADER_BYTES) break;
        const uint32_t value_offset = ntfs_le16(attribute + NTFS_RESIDENT_VALUE_OFFSET);
        const uint32_t value_length = ntfs_le32(attribute + NTFS_RESIDENT_VALUE_LENGTH);
        if (value_offset > length || value_length > length - value_offset ||
            value_length < NTFS_NAME_UNITS)
            break;
        const uint8_t* value = attribute + value_offset;
        if (value_length - NTFS_NAME_UNITS < 2u * name_length(value)) break;
        if (value[NTFS_NAME_SPACE] != NTFS_NAME_SPACE_DOS) {
            walk->at = at;
            return value;
        }
    }
    walk->at = end;
    return nullptr;
}
