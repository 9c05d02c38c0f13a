#include "ntfs/mft.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ntfs/record.h"

namespace {
// The $MFT's attribute list is a few entries per extension record; anything
// near this size is damage.
constexpr uint32_t MAX_ATTRIBUTE_LIST_BYTES = 1u << 20;

struct Loader {
    const ByteSource* source;
    const NtfsGeometry* geometry;
    MftLayout* layout;
    bool data_broken;    // a piece was refused: later pieces cannot follow it
    bool bitmap_broken;
};

// Takes one attribute of a record of the $MFT (record 0 or an extension).
void take_attribute(Loader* loader, const uint8_t* attribute, uint32_t length) {
    uint32_t type = ntfs_le32(attribute + NTFS_ATTRIBUTE_TYPE);
    if ((type != NTFS_TYPE_DATA && type != NTFS_TYPE_BITMAP) ||
        !attribute_unnamed(attribute))
        return;
    bool is_data = type == NTFS_TYPE_DATA;
    NtfsStream* s = is_data ? &loader->layout->data : &loader->layout->bitmap;
    bool* broken = is_data ? &loader->data_broken : &loader->bitmap_broken;
    if (*broken) return;
    if (attribute_resident(attribute)) {
        // Only a small bitmap can be resident, and only as the whole value.
        const uint8_t* value;
        uint32_t n;
        if (is_data || s->next_vcn || s->resident || !attribute_value(attribute, length, &value, &n))
            return;
        s->resident = static_cast<uint8_t*>(std::malloc(n ? n : 1));
        if (!s->resident) return;
        std::memcpy(s->resident, value, n);
        s->size = s->valid_size = n;
        return;
    }
    const NtfsGeometry* geometry = loader->geometry;
    if (!stream_add_piece(s, attribute, length, geometry->total_clusters,
                          geometry->bytes_per_cluster))
        *broken = true;
}

// Takes every attribute of a fixed record.
void take_record(Loader* loader, const uint8_t* record) {
    AttributeWalk walk;
    attribute_walk_start(&walk, record, loader->geometry->record_size);
    uint32_t length;
    while (const uint8_t* attribute = attribute_walk_next(&walk, &length))
        take_attribute(loader, attribute, length);
}

// Reads record n of the table through the runs known so far.
int read_table_record(Loader* loader, uint64_t number, uint8_t* record) {
    uint32_t size = loader->geometry->record_size;
    const NtfsStream* data = &loader->layout->data;
    uint64_t mapped = data->next_vcn * loader->geometry->bytes_per_cluster;
    if (number >= mapped / size) return 0;
    // The sizes of the first piece may not be known yet: read by the runs.
    NtfsStream by_runs = *data;
    by_runs.size = by_runs.valid_size = mapped;
    return stream_read(loader->source, &by_runs, loader->geometry->bytes_per_cluster,
                       number * size, size, record) &&
           ntfs_fix_record(record, size);
}

// The attribute list's bytes, resident or read through its own runs.
uint8_t* read_attribute_list(Loader* loader, const uint8_t* attribute, uint32_t length,
                             uint32_t* list_length) {
    const uint8_t* value;
    uint32_t n;
    if (attribute_resident(attribute)) {
        if (!attribute_value(attribute, length, &value, &n)) return nullptr;
        uint8_t* copy = static_cast<uint8_t*>(std::malloc(n ? n : 1));
        if (copy) std::memcpy(copy, value, n);
        *list_length = n;
        return copy;
    }
    NtfsStream list{};
    if (attribute_first_vcn(attribute) != 0 ||
        !stream_add_piece(&list, attribute, length, loader->geometry->total_clusters,
                          loader->geometry->bytes_per_cluster)) {
        stream_free(&list);
        return nullptr;
    }
    uint64_t mapped = list.next_vcn * loader->geometry->bytes_per_cluster;
    if (list.size > mapped) list.size = mapped;
    if (list.size > MAX_ATTRIBUTE_LIST_BYTES) list.size = MAX_ATTRIBUTE_LIST_BYTES;
    n = uint32_t(list.size);
    uint8_t* bytes = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (bytes &&
        !stream_read(loader->source, &list, loader->geometry->bytes_per_cluster, 0, n, bytes)) {
        std::free(bytes);
        bytes = nullptr;
    }
    stream_free(&list);
    *list_length = n;
    return bytes;
}

// Follows the attribute list: each piece of $DATA or $BITMAP that lives in
// an extension record is taken from that record, in list (VCN) order. An
// extension record must itself lie in the part of the table mapped so far.
void follow_attribute_list(Loader* loader, const uint8_t* list, uint32_t list_length,
                           uint8_t* record) {
    for (uint32_t at = 0; list_length - at >= NTFS_LIST_ENTRY_MIN_BYTES;) {
        const uint8_t* entry = list + at;
        uint32_t entry_length = ntfs_le16(entry + NTFS_LIST_LENGTH);
        if (entry_length < NTFS_LIST_ENTRY_MIN_BYTES || entry_length > list_length - at) return;
        at += entry_length;
        uint32_t type = ntfs_le32(entry + NTFS_LIST_TYPE);
        uint64_t holder = ntfs_le64(entry + NTFS_LIST_HOLDER) & NTFS_RECORD_NUMBER_MASK;
        if ((type != NTFS_TYPE_DATA && type != NTFS_TYPE_BITMAP) ||
            entry[NTFS_LIST_NAME_LENGTH] != 0 || holder == 0)
            continue;
        NtfsStream* s = type == NTFS_TYPE_DATA ? &loader->layout->data : &loader->layout->bitmap;
        if (ntfs_le64(entry + NTFS_LIST_FIRST_VCN) != s->next_vcn) continue;
        // An extension record must name record 0 as its base.
        if (!read_table_record(loader, holder, record) ||
            (ntfs_le64(record + NTFS_RECORD_BASE) & NTFS_RECORD_NUMBER_MASK) != 0)
            continue;
        AttributeWalk walk;
        attribute_walk_start(&walk, record, loader->geometry->record_size);
        uint32_t length;
        while (const uint8_t* attribute = attribute_walk_next(&walk, &length)) {
            if (ntfs_le32(attribute + NTFS_ATTRIBUTE_TYPE) == type &&
                !attribute_resident(attribute) &&
                attribute_first_vcn(attribute) == s->next_vcn)
                take_attribute(loader, attribute, length);
        }
    }
}

// Cuts the readable size to what the runs map.
void settle(NtfsStream* stream, uint32_t cluster_bytes) {
    if (stream->resident) return;
    uint64_t mapped = stream->next_vcn * cluster_bytes;
    if (stream->size > mapped) stream->size = mapped;
}
}  // namespace

int mft_load(const ByteSource* source, const NtfsGeometry* geometry, MftLayout* layout) {
    *layout = MftLayout{};
    uint32_t size = geometry->record_size;
    uint8_t* record0 = static_cast<uint8_t*>(std::malloc(2 * size_t(size)));
    if (!record0) {
        errno = ENOMEM;
        return 0;
    }
    uint8_t* extension = record0 + size;
    int ok = 0;
    errno = EINVAL;
    if (source_read(source, geometry->mft_lcn * geometry->bytes_per_cluster, record0, size) &&
        ntfs_fix_record(record0, size)) {
        Loader loader{source, geometry, layout, false, false};
        take_record(&loader, record0);
        AttributeWalk walk;
        attribute_walk_start(&walk, record0, size);
        uint32_t length;
        while (const uint8_t* attribute = attribute_walk_next(&walk, &length)) {
            if (ntfs_le32(attribute + NTFS_ATTRIBUTE_TYPE) != NTFS_TYPE_ATTRIBUTE_LIST) continue;
            uint32_t list_length = 0;
            uint8_t* list = read_attribute_list(&loader, attribute, length, &list_length);
            if (list) follow_attribute_list(&loader, list, list_length, extension);
            std::free(list);
            break;
        }
        layout->valid_length = stream_valid_bytes(&layout->data);
        bool kept = stream_keep_disjoint_runs(&layout->data) &&
                    stream_keep_disjoint_runs(&layout->bitmap);
        // Bits above the bitmap's valid size read as 0, so no record there
        // is in use; a damaged size would send every search through them.
        // Nor is any bit beyond the table's last record. Both are what the
        // sizes state, before the runs cut them: a record or bit the sizes
        // place in the table but no kept run maps (a piece in a torn
        // extension record, a run list that stops early) cannot be read.
        layout->table_bytes = stream_valid_bytes(&layout->data);
        const uint64_t table_bitmap_bytes = (layout->table_bytes / size + 7) / 8;
        layout->bitmap_bytes = stream_valid_bytes(&layout->bitmap);
        if (layout->bitmap_bytes > table_bitmap_bytes) layout->bitmap_bytes = table_bitmap_bytes;
        settle(&layout->data, geometry->bytes_per_cluster);
        settle(&layout->bitmap, geometry->bytes_per_cluster);
        layout->bitmap.size = stream_valid_bytes(&layout->bitmap);
        if (layout->bitmap.size > layout->bitmap_bytes) layout->bitmap.size = layout->bitmap_bytes;
        // Runs may claim far more than the device holds (an image cut short,
        // a sparse image whose boot sector claims petabytes): only its real
        // bytes are read, and a request that needs the others fails.
        stream_cut_at(&layout->data, geometry->bytes_per_cluster, source->length);
        stream_cut_at(&layout->bitmap, geometry->bytes_per_cluster, source->length);
        ok = kept && layout->data.count > 0 && layout->data.size >= size &&
             layout->bitmap_bytes > 0;
        errno = EINVAL;
    }
    std::free(record0);
    if (!ok) mft_release(layout);
    return ok;
}

void mft_release(MftLayout* layout) {
    stream_free(&layout->data);
    stream_free(&layout->bitmap);
}
