#include "ntfs/volume.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#include "ntfs/layout.h"
#include "ntfs/record.h"

void ntfs_volume_data(const NtfsVolume* volume, uint8_t* out) {
    const NtfsGeometry& g = volume->geometry;
    std::memset(out, 0, NTFS_VOLUME_DATA_BYTES);
    ntfs_put_le64(out + NTFS_VOLUME_DATA_SERIAL, g.serial);
    ntfs_put_le64(out + NTFS_VOLUME_DATA_SECTORS, g.sectors);
    ntfs_put_le64(out + NTFS_VOLUME_DATA_TOTAL_CLUSTERS, g.total_clusters);
    // Free and reserved clusters stay 0: counting them means reading the
    // whole cluster bitmap, and no search needs them.
    ntfs_put_le32(out + NTFS_VOLUME_DATA_BYTES_PER_SECTOR, g.bytes_per_sector);
    ntfs_put_le32(out + NTFS_VOLUME_DATA_BYTES_PER_CLUSTER, g.bytes_per_cluster);
    ntfs_put_le32(out + NTFS_VOLUME_DATA_RECORD_SIZE, g.record_size);
    ntfs_put_le32(out + NTFS_VOLUME_DATA_CLUSTERS_PER_RECORD, g.record_size / g.bytes_per_cluster);
    ntfs_put_le64(out + NTFS_VOLUME_DATA_MFT_VALID_LENGTH, volume->mft.valid_length);
    ntfs_put_le64(out + NTFS_VOLUME_DATA_MFT_LCN, g.mft_lcn);
    ntfs_put_le64(out + NTFS_VOLUME_DATA_MFT_MIRROR_LCN, g.mft_mirror_lcn);
    // The zone the driver keeps free for the table: an eighth of the volume
    // from the table's start, the default reservation.
    uint64_t zone_end = g.mft_lcn + g.total_clusters / 8;
    ntfs_put_le64(out + NTFS_VOLUME_DATA_MFT_ZONE_START, g.mft_lcn);
    ntfs_put_le64(out + NTFS_VOLUME_DATA_MFT_ZONE_END,
                  zone_end < g.total_clusters ? zone_end : g.total_clusters);
}

namespace {
// The highest record at or below number whose bit is set in the table's
// bitmap, a 64-bit word at a time; number lies inside the bitmap (the
// request clamps it there). 1 when found, 0 when none is set, -1 on a read
// failure (errno set).
int highest_marked(NtfsVolume* volume, uint64_t number, uint64_t* found) {
    const NtfsStream* bitmap = &volume->mft.bitmap;
    const uint64_t chunk_bits = uint64_t(BITMAP_CHUNK_BYTES) * 8;
    for (uint64_t index = number / chunk_bits;; --index) {
        uint32_t length;
        const uint8_t* chunk = bitmap_chunk(&volume->cache, &volume->source,
                                            volume->geometry.bytes_per_cluster, bitmap, index,
                                            &length);
        if (!chunk) return -1;
        uint64_t bit = number - index * chunk_bits;  // within this chunk
        for (uint64_t word = bit / 64;; --word) {
            uint64_t value = 0;
            if (word * 8 + 8 <= length) {
                value = ntfs_le64(chunk + word * 8);
            } else {
                for (uint32_t i = 0; i < 8 && word * 8 + i < length; ++i)
                    value |= uint64_t(chunk[word * 8 + i]) << (8 * i);
            }
            if (word == bit / 64 && bit % 64 != 63) value &= (uint64_t(2) << (bit % 64)) - 1;
            if (value) {
                *found = index * chunk_bits + word * 64 + uint64_t(63 - std::countl_zero(value));
                return 1;
            }
            if (word == 0) break;
        }
        if (index == 0) return 0;
        number = index * chunk_bits - 1;
    }
}

// Record number as stored, out of the scan's order, read where it is wanted:
// path reconstruction asks for directories all over the table, again and
// again, and the source answers a small read from the system's own cache.
// 1 with the fixed-up record in record, 0 for a torn or foreign record, -1
// when it cannot be read (errno set).
int record_out_of_order(NtfsVolume* volume, uint64_t number, uint8_t* record) {
    const uint32_t size = volume->geometry.record_size;
    // The directories it climbs through lie anywhere below the scan, which
    // reaches them last: from a search's first match on, the blocks below
    // the scan's read-ahead that hold records in use are asked to be read
    // ahead, as the scan will read them in the end anyway (free stretches
    // are not: the table may claim far more than it uses).
    if (!volume->climbing) {
        volume->climbing = true;
        ScanBlock* scan = &volume->cache.scan;
        const uint64_t below = scan->tag ? scan->hinted : volume->mft.data.size;
        hint_blocks_in_use(&volume->cache, &volume->source, volume->geometry.bytes_per_cluster,
                           &volume->mft.data, &volume->mft.bitmap, size, 0, below);
        scan->hinted = 0;
    }
    if (!stream_read(&volume->source, &volume->mft.data, volume->geometry.bytes_per_cluster,
                     number * size, size, record))
        return -1;
    return ntfs_fix_record(record, size);
}

// The record at candidate: from the scan's block when the request is the
// scan's or the block holds it, otherwise out of the scan's order. Same
// results as record_out_of_order.
int stored_record(NtfsVolume* volume, uint64_t candidate, bool scan_request, uint8_t* record) {
    const uint32_t size = volume->geometry.record_size;
    const uint64_t offset = candidate * size;
    if (!scan_request && !scan_holds(&volume->cache, offset))
        return record_out_of_order(volume, candidate, record);
    const uint8_t* stored = scan_record(&volume->cache, &volume->source,
                                        volume->geometry.bytes_per_cluster, &volume->mft.data,
                                        &volume->mft.bitmap, offset, size);
    if (!stored) return -1;
    return ntfs_copy_fixed_record(record, stored, size);
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
    if (!mft_load(&volume->source, &geometry, &volume->mft)) {
        int saved = errno;
        if (saved == EIO) {
            // One record, the table's own, asked for and failing to read.
            volume->table_unread = true;
            volume->mft.valid_length = geometry.record_size;
            return volume;
        }
        delete volume;
        errno = saved;
        return nullptr;
    }
    volume->records = volume->mft.table_bytes / geometry.record_size;
    return volume;
}

// Out of line, so that the scan's usual request, answered inline, keeps the
// scan's registers.
[[gnu::noinline]] int ntfs_nearest_record(NtfsVolume* volume, uint64_t number, uint8_t* out,
                                          uint32_t* bytes_returned) {
    uint64_t n = number & NTFS_RECORD_NUMBER_MASK;
    const uint32_t size = volume->geometry.record_size;
    uint8_t* record = out + NTFS_REPLY_HEADER_BYTES;
    if (volume->table_unread) {
        errno = EIO;
        return 0;
    }
    if (volume->records == 0) {
        errno = ENODATA;
        return 0;
    }
    if (n >= volume->records) n = volume->records - 1;
    const bool scan_request = volume->scan_next == 0 || n + 1 == volume->scan_next;
    // Records above the bitmap's last bit are not in use. Below it, a record
    // whose slot or bit lies beyond the device's end cannot be told in use
    // or not: the table was cut short, which is a failed read.
    const MftLayout& mft = volume->mft;
    if (n / 8 >= mft.bitmap_bytes) n = mft.bitmap_bytes * 8 - 1;
    if (n / 8 >= mft.bitmap.size || (n + 1) * size > mft.data.size) {
        errno = EIO;
        return 0;
    }
    for (;;) {
        uint64_t candidate;
        int marked = highest_marked(volume, n, &candidate);
        if (marked < 0) return 0;
        if (marked == 0) {
            errno = ENODATA;
            return 0;
        }
        const int sound = stored_record(volume, candidate, scan_request, record);
        if (sound < 0) return 0;
        if (sound) {
            if (scan_request) {
                volume->scan_next = candidate;
                scan_take_hand(&volume->cache, candidate, size);
            }
            return ntfs_reply(out, candidate, size, bytes_returned);
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
