#include "search/long_names.h"

NameWalk name_walk_start(const uint8_t* record, uint32_t size) {
    NameWalk walk{record, size, size};
    if (size >= RECORD_FIRST_ATTRIBUTE + 2) walk.offset = field_u16(record + RECORD_FIRST_ATTRIBUTE);
    return walk;
}

const uint8_t* next_long_name(NameWalk* walk) {
    const uint8_t* record = walk->record;
    const uint32_t size = walk->size;
    // Every test keeps offset <= size, so "size - offset" never wraps.
    while (walk->offset <= size && size - walk->offset >= ATTRIBUTE_LENGTH + 4) {
        const uint32_t at = walk->offset;
        const uint8_t* attribute = record + at;
        const uint32_t type = field_u32(attribute + ATTRIBUTE_TYPE);
        const uint32_t length = field_u32(attribute + ATTRIBUTE_LENGTH);
        if (type == ATTRIBUTE_TYPE_END || length == 0 || length > size - at) break;
        walk->offset = at + length;
        if (type != ATTRIBUTE_TYPE_FILE_NAME) continue;

        // The value lies inside its attribute (so inside the record), and the
        // name inside its value: a name longer than its value would be read
        // from the bytes after it and printed as garbage.
        if (length < ATTRIBUTE_RESIDENT_HEADER) break;
        const uint32_t value_offset = field_u16(attribute + ATTRIBUTE_VALUE_OFFSET);
        const uint32_t value_length = field_u32(attribute + ATTRIBUTE_VALUE_LENGTH);
        if (value_offset > length || value_length > length - value_offset ||
            value_length < NAME_UNITS)
            break;
        const uint8_t* value = attribute + value_offset;
        if (value_length - NAME_UNITS < 2u * name_length(value)) break;
        if (field_u8(value + NAME_SPACE) != NAME_SPACE_DOS) return value;
    }
    walk->offset = size;
    return nullptr;
}
