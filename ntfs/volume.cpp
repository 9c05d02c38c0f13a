#include "ntfs/volume.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#include "ntfs/bytes.h"
#include "ntfs/record.h"

void ntfs_volume_data(const NtfsVolume* s, uint8_t* out) {
    const NtfsGeometry& g = s->geometry;
    std::memset(out, 0, NTFS_VOLUME_DATA_BYTES);
    ntfs_put_le64(out + 0, g.serial);
    ntfs_put_le64(out + 8, g.sectors);
    ntfs_put_le64(out + 16, g.total_clusters);
    // Free and reserved clusters (offsets 24 and 32) stay 0: counting them
    // means reading the whole cluster bitmap, and no search needs them.
    ntfs_put_le32(out + 40, g.bytes_per_sector);
    ntfs_put_le32(out + 44, g.bytes_per_cluster);
    ntfs_put_le32(out + 48, g.record_size);
    ntfs_put_le32(out + 52, g.record_size / g.bytes_per_cluster);
    ntfs_put_le64(out + 56, s->mft.valid_length);
    ntfs_put_le64(out + 64, g.mft_lcn);
    ntfs_put_le64(out + 72, g.mft_mirror_lcn);
    // The zone the driver keeps free for the table: an eighth of the volume
    // from the table's start, the default reservation.
    uint64_t zone_end = g.mft_lcn + g.total_clusters / 8;
    ntfs_put_le64(out + 80, g.mft_lcn);
    ntfs_put_le64(out + 88, zone_end < g.total_clusters ? zone_end : g.total_clusters);
}

namespace {
// The highest record at or below n whose bit is set in the table's bitmap,
// a 64-bit word at a time. 1 when found, 0 when none is set, -1 on a read
// failure (errno set).
int highest_marked(NtfsVolume* s, uint64_t n, uint64_t* found) {
    const NtfsStream* bitmap = &s->mft.bitmap;
    const uint64_t block_bits = uint64_t(CACHE_BLOCK_BYTES) * 8;
    if (n / 8 >= bitmap->size) n = bitmap->size * 8 - 1;
    for (uint64_t index = n / block_bits;; --index) {
        uint32_t length;
        const uint8_t* block = cache_block(&s->cache, &s->source, s->geometry.bytes_per_cluster,
                                           bitmap, index, &length);
        if (!block) return -1;
        uint64_t bit = n - index * block_bits;  // within this block
        for (uint64_t word = bit / 64;; --word) {
            uint64_t value = 0;
            if (word * 8 + 8 <= length) {
                value = ntfs_le64(block + word * 8);
            } else {
                for (uint32_t i = 0; i < 8 && word * 8 + i < length; ++i)
                    value |= uint64_t(block[word * 8 + i]) << (8 * i);
            }
            if (word == bit / 64 && bit % 64 != 63) value &= (uint64_t(2) << (bit % 64)) - 1;
            if (value) {
                *found = index * block_bits + word * 64 + uint64_t(63 - std::countl_zero(value));
                return 1;
            }
            if (word == 0) break;
        }
        if (index == 0) return 0;
        n = index * block_bits - 1;
    }
}

}  // namespace

NtfsVolume* ntfs_open(const ByteSource* source) {
    uint8_t boot[NTFS_BOOT_SECTOR_BYTES];
    NtfsGeometry geometry;
    if (!source_read(source, 0, boot, sizeof boot)) return nullptr;
    if (!ntfs_parse_boot_sector(boot, &geometry)) {
        errno = EINVAL;
        return nullptr;
    }
    NtfsVolume* volume = new (std::nothrow) NtfsVolume{};
    if (!volume) {
        errno = ENOMEM;
        return nullptr;
    }
    volume->source = *source;
    volume->geometry = geometry;
    volume->cache.scan_block = ~uint64_t(0);
    if (!mft_load(&volume->source, &geometry, &volume->mft)) {
        int saved = errno;
        delete volume;
        errno = saved;
        return nullptr;
    }
    uint64_t table = volume->mft.data.size;
    if (volume->mft.data.valid_size < table) table = volume->mft.data.valid_size;
    volume->records = table / geometry.record_size;
    return volume;
}

int ntfs_file_record(NtfsVolume* s, uint64_t number, uint8_t* out, uint32_t* bytes_returned) {
    const uint32_t size = s->geometry.record_size;
    uint64_t n = number & NTFS_RECORD_NUMBER_MASK;
    if (s->records == 0) {
        errno = ENODATA;
        return 0;
    }
    if (n >= s->records) n = s->records - 1;
    uint8_t* record = out + FILE_RECORD_HEADER_BYTES;
    for (;;) {
        uint64_t candidate;
        int marked = highest_marked(s, n, &candidate);
        if (marked < 0) return 0;
        if (marked == 0) {
            errno = ENODATA;
            return 0;
        }
        const uint8_t* stored = cache_record(&s->cache, &s->source, s->geometry.bytes_per_cluster,
                                             &s->mft.data, candidate * size, size);
        if (!stored) return 0;
        std::memcpy(record, stored, size);
        if (ntfs_fix_record(record, size)) {
            ntfs_put_le64(out, candidate);
            ntfs_put_le32(out + 8, size);
            if (bytes_returned) *bytes_returned = FILE_RECORD_HEADER_BYTES + size;
            return 1;
        }
        // A torn or foreign record counts as not in use.
        if (candidate == 0) {
            errno = ENODATA;
            return 0;
        }
        n = candidate - 1;
    }
}

void ntfs_close(NtfsVolume* volume) {
    if (!volume) return;
    cache_release(&volume->cache);
    mft_release(&volume->mft);
    delete volume;
}
