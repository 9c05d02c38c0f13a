#include "ntfs/record.h"

namespace {
// An attribute starts past the header's fields that place and mark the
// record; one that would not leave room for what is read of it before its
// length is checked (type, length and the resident flag) ends it.
constexpr uint32_t FIRST_ATTRIBUTE_MIN = NTFS_RECORD_FLAGS + 2;
constexpr uint32_t HEADER_PROBE_BYTES = NTFS_ATTRIBUTE_NON_RESIDENT + 1;
static_assert(HEADER_PROBE_BYTES > NTFS_ATTRIBUTE_LENGTH + 4 - 1);
}  // namespace

void attribute_walk_start(AttributeWalk* walk, const uint8_t* record, uint32_t size) {
    walk->record = record;
    walk->size = size;
    walk->offset = ntfs_le16(record + NTFS_RECORD_FIRST_ATTRIBUTE);
}

const uint8_t* attribute_walk_next(AttributeWalk* walk, uint32_t* length) {
    uint32_t at = walk->offset;
    walk->offset = walk->size;  // ends the walk unless this header is sound
    if (at < FIRST_ATTRIBUTE_MIN || walk->size < HEADER_PROBE_BYTES ||
        at > walk->size - HEADER_PROBE_BYTES) return nullptr;
    const uint8_t* attribute = walk->record + at;
    if (ntfs_le32(attribute + NTFS_ATTRIBUTE_TYPE) == NTFS_TYPE_END) return nullptr;
    const uint32_t attribute_length = ntfs_le32(attribute + NTFS_ATTRIBUTE_LENGTH);
    const uint32_t header = attribute_resident(attribute) ? NTFS_RESIDENT_HEADER_BYTES
                                                          : NTFS_NONRESIDENT_HEADER_BYTES;
    if (attribute_length < header || attribute_length > walk->size - at) return nullptr;
    const uint32_t name_units = attribute[NTFS_ATTRIBUTE_NAME_LENGTH];
    if (name_units &&
        ntfs_le16(attribute + NTFS_ATTRIBUTE_NAME_OFFSET) + 2 * name_units > attribute_length)
        return nullptr;
    walk->offset = at + attribute_length;
    *length = attribute_length;
    return attribute;
}

bool attribute_unnamed(const uint8_t* attribute) {
    return attribute[NTFS_ATTRIBUTE_NAME_LENGTH] == 0;
}

bool attribute_resident(const uint8_t* attribute) {
    return attribute[NTFS_ATTRIBUTE_NON_RESIDENT] == 0;
}

int attribute_value(const uint8_t* attribute, uint32_t length, const uint8_t** value,
                    uint32_t* value_length) {
    const uint32_t value_bytes = ntfs_le32(attribute + NTFS_RESIDENT_VALUE_LENGTH);
    const uint32_t at = ntfs_le16(attribute + NTFS_RESIDENT_VALUE_OFFSET);
    if (at > length || value_bytes > length - at) return 0;
    *value = attribute + at;
    *value_length = value_bytes;
    return 1;
}

uint64_t attribute_first_vcn(const uint8_t* attribute) {
    return ntfs_le64(attribute + NTFS_NONRESIDENT_FIRST_VCN);
}
