#include "ntfs/record.h"

#include <cstring>

#include "ntfs/bytes.h"

namespace {
constexpr uint32_t RESIDENT_HEADER = 24;
constexpr uint32_t NONRESIDENT_HEADER = 64;
}  // namespace

void attribute_walk_start(AttributeWalk* walk, const uint8_t* record, uint32_t size) {
    walk->record = record;
    walk->size = size;
    walk->offset = ntfs_le16(record + 20);
}

const uint8_t* attribute_walk_next(AttributeWalk* walk, uint32_t* length) {
    uint32_t at = walk->offset;
    walk->offset = walk->size;  // ends the walk unless this header is sound
    if (at < 24 || at > walk->size - 8) return nullptr;
    const uint8_t* attribute = walk->record + at;
    if (ntfs_le32(attribute) == NTFS_ATTRIBUTE_END) return nullptr;
    uint32_t n = ntfs_le32(attribute + 4);
    uint32_t header = attribute[8] ? NONRESIDENT_HEADER : RESIDENT_HEADER;
    if (n < header || n > walk->size - at) return nullptr;
    uint32_t name_units = attribute[9];
    if (name_units && ntfs_le16(attribute + 10) + 2 * name_units > n) return nullptr;
    walk->offset = at + n;
    *length = n;
    return attribute;
}

bool attribute_unnamed(const uint8_t* attribute) { return attribute[9] == 0; }

bool attribute_resident(const uint8_t* attribute) { return attribute[8] == 0; }

int attribute_value(const uint8_t* attribute, uint32_t length, const uint8_t** value,
                    uint32_t* value_length) {
    uint32_t n = ntfs_le32(attribute + 16);
    uint32_t at = ntfs_le16(attribute + 20);
    if (at > length || n > length - at) return 0;
    *value = attribute + at;
    *value_length = n;
    return 1;
}

uint64_t attribute_first_vcn(const uint8_t* attribute) { return ntfs_le64(attribute + 16); }

int stream_add_piece(NtfsStream* s, const uint8_t* attribute, uint32_t length,
                     uint64_t total_clusters, uint32_t cluster_bytes) {
    uint64_t first_vcn = ntfs_le64(attribute + 16);
    uint64_t last_vcn = ntfs_le64(attribute + 24);
    if (first_vcn != s->next_vcn || s->resident) return 0;
    if (first_vcn == 0) {
        s->size = ntfs_le64(attribute + 48);
        s->valid_size = ntfs_le64(attribute + 56);
    }
    // Every byte offset in the stream must stay within a signed 64-bit value.
    const uint64_t vcn_limit = (uint64_t(1) << 62) / cluster_bytes;
    const uint8_t* p = attribute + ntfs_le16(attribute + 32);
    const uint8_t* end = attribute + length;
    if (p < attribute + NONRESIDENT_HEADER || p > end) return 0;
    int64_t lcn = 0;
    while (p < end && *p) {
        uint32_t length_bytes = *p & 0x0F;
        uint32_t delta_bytes = *p >> 4;
        if (length_bytes == 0 || length_bytes > 8 || delta_bytes > 8 ||
            uint32_t(end - p) < 1 + length_bytes + delta_bytes)
            return 0;
        ++p;
        uint64_t clusters = 0;
        for (uint32_t i = 0; i < length_bytes; ++i) clusters |= uint64_t(p[i]) << (8 * i);
        p += length_bytes;
        if (clusters == 0 || clusters > vcn_limit - s->next_vcn ||
            s->next_vcn + clusters - 1 > last_vcn)
            return 0;
        uint64_t run_lcn = NTFS_SPARSE;
        if (delta_bytes) {
            uint64_t raw = 0;
            for (uint32_t i = 0; i < delta_bytes; ++i) raw |= uint64_t(p[i]) << (8 * i);
            p += delta_bytes;
            if (delta_bytes < 8 && (raw >> (8 * delta_bytes - 1)) & 1)
                raw |= ~uint64_t(0) << (8 * delta_bytes);  // sign extension
            if (__builtin_add_overflow(lcn, int64_t(raw), &lcn) || lcn < 0 ||
                uint64_t(lcn) >= total_clusters || clusters > total_clusters - uint64_t(lcn))
                return 0;
            run_lcn = uint64_t(lcn);
        }
        if (!stream_add_extent(s, run_lcn, clusters)) return 0;
    }
    return s->next_vcn == last_vcn + 1;
}
