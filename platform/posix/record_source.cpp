#include "platform/posix/record_source.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/posix/ntfs_bytes.h"
#include "platform/posix/ntfs_record.h"

namespace {
RecordSource* build_source(int fd) {
    uint8_t boot[NTFS_BOOT_SECTOR_BYTES];
    NtfsGeometry geometry;
    if (!volume_read(fd, 0, boot, sizeof boot)) return nullptr;
    if (!ntfs_parse_boot_sector(boot, &geometry)) {
        errno = EINVAL;
        return nullptr;
    }
    RecordSource* source = new (std::nothrow) RecordSource{};
    if (!source) {
        errno = ENOMEM;
        return nullptr;
    }
    source->fd = fd;
    source->geometry = geometry;
    source->cache.scan_block = ~uint64_t(0);
    if (!mft_load(fd, &geometry, &source->mft)) {
        int saved = errno;
        delete source;
        errno = saved;
        return nullptr;
    }
    uint64_t table = source->mft.data.size;
    if (source->mft.data.valid_size < table) table = source->mft.data.valid_size;
    source->records = table / geometry.record_size;
    return source;
}

// The source of an open volume handle, built at its first request.
RecordSource* volume_source(Handle handle) {
    PosixHandle* h = static_cast<PosixHandle*>(handle);
    if (!h || handle == INVALID_HANDLE || h->kind != POSIX_VOLUME) {
        errno = EBADF;
        return nullptr;
    }
    PosixVolume* volume = reinterpret_cast<PosixVolume*>(h);
    if (!volume->source) volume->source = build_source(h->fd);
    return volume->source;
}

void fill_volume_data(const RecordSource* s, uint8_t* out) {
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

// The highest record at or below n whose bit is set in the table's bitmap,
// a 64-bit word at a time. 1 when found, 0 when none is set, -1 on a read
// failure (errno set).
int highest_marked(RecordSource* s, uint64_t n, uint64_t* found) {
    const NtfsStream* bitmap = &s->mft.bitmap;
    const uint64_t block_bits = uint64_t(CACHE_BLOCK_BYTES) * 8;
    if (n / 8 >= bitmap->size) n = bitmap->size * 8 - 1;
    for (uint64_t index = n / block_bits;; --index) {
        uint32_t length;
        const uint8_t* block = cache_block(&s->cache, s->fd, s->geometry.bytes_per_cluster,
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
                *found = index * block_bits + word * 64 + uint64_t(63 - __builtin_clzll(value));
                return 1;
            }
            if (word == 0) break;
        }
        if (index == 0) return 0;
        n = index * block_bits - 1;
    }
}

// FSCTL_NTFS_FILE_RECORD: the highest in-use, sound record at or below the
// requested number, fixed, after the record number and length.
int file_record(RecordSource* s, const void* input, uint32_t input_size, uint8_t* out,
                uint32_t output_size, uint32_t* bytes_returned) {
    const uint32_t size = s->geometry.record_size;
    if (!input || input_size < 8) {
        errno = EINVAL;
        return 0;
    }
    if (!out || output_size < FILE_RECORD_HEADER_BYTES + size) {
        errno = ENOBUFS;
        return 0;
    }
    uint64_t n = ntfs_le64(static_cast<const uint8_t*>(input)) & NTFS_RECORD_NUMBER_MASK;
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
        const uint8_t* stored = cache_record(&s->cache, s->fd, s->geometry.bytes_per_cluster,
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
}  // namespace

int platform_device_io_control(Handle volume, uint32_t control_code, const void* input,
                               uint32_t input_size, void* output, uint32_t output_size,
                               uint32_t* bytes_returned) {
    if (bytes_returned) *bytes_returned = 0;
    int ok = 0;
    if (control_code != FSCTL_NTFS_VOLUME_DATA && control_code != FSCTL_NTFS_FILE_RECORD) {
        errno = ENOTTY;
    } else if (RecordSource* source = volume_source(volume)) {
        uint8_t* out = static_cast<uint8_t*>(output);
        if (control_code == FSCTL_NTFS_FILE_RECORD) {
            ok = file_record(source, input, input_size, out, output_size, bytes_returned);
        } else if (!out || output_size < NTFS_VOLUME_DATA_BYTES) {
            errno = ENOBUFS;
        } else {
            fill_volume_data(source, out);
            if (bytes_returned) *bytes_returned = NTFS_VOLUME_DATA_BYTES;
            ok = 1;
        }
    }
    if (!ok) posix_set_last_error_from_errno();
    return ok;
}

void record_source_release(RecordSource* source) {
    if (!source) return;
    cache_release(&source->cache);
    mft_release(&source->mft);
    delete source;
}
