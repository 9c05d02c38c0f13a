// The walk over a file record's attributes that yields its long file names:
// each file name value whose name space is not the short (DOS) one, in
// attribute order. The record is untrusted: the walk stops, without reading
// outside the record, at anything that would leave it or not advance.
#pragma once

#include <cstdint>

#include "search/records.h"

struct NameWalk {
    const uint8_t* record;  // the record itself (after the reply header)
    uint32_t size;          // the record size; nothing at or beyond it is read
    uint32_t offset;        // the next attribute; size once the walk has ended
};

NameWalk name_walk_start(const uint8_t* record, uint32_t size);
// The next long name's file name value, or null when there is none left. The
// value's fixed part and its whole name lie inside the value as its attribute
// header sizes it, and the value inside the attribute and the record.
const uint8_t* next_long_name(NameWalk* walk);

// Fields of a file name value.
inline uint64_t name_parent(const uint8_t* value) { return field_u64(value + NAME_PARENT); }
inline uint32_t name_length(const uint8_t* value) { return field_u8(value + NAME_LENGTH); }
// The name's UTF-16LE units, possibly unaligned: copy them out with memcpy.
inline const uint8_t* name_units(const uint8_t* value) { return value + NAME_UNITS; }
