// An NTFS volume read from its own bytes: the answers to the two volume
// requests a Windows NTFS driver gives (the volume data, and one file record
// by number, answered with the nearest in-use record at or below it), in the
// same reply layouts.
#pragma once

#include <cstdint>

#include <cstring>

#include "ntfs/block_cache.h"
#include "ntfs/byte_source.h"
#include "ntfs/layout.h"
#include "ntfs/geometry.h"
#include "ntfs/mft.h"
#include "ntfs/record.h"

struct NtfsVolume {
    ByteSource source;
    NtfsGeometry geometry;
    MftLayout mft;
    uint64_t records;  // record slots the table holds
    BlockCache cache;  // the scan's block and the bitmap
    // The scan asks for the record below the last one it was given, so a
    // request for scan_next - 1 is the scan's (any request is, before the
    // first); every other request is path reconstruction's.
    uint64_t scan_next;
    // Path reconstruction has asked for a record out of the scan's order.
    bool climbing;
    // The boot sector is NTFS but the table's first record could not be read
    // (an image that ends before its table): every record request fails as
    // a read, as for a table cut short, rather than the volume passing for
    // one of another kind.
    bool table_unread;
};

// Reads the boot sector and finds the table. Null with errno set when the
// bytes hold no usable NTFS volume (EINVAL) or the boot sector cannot be
// read; a table that cannot be read gives a volume with table_unread.
NtfsVolume* ntfs_open(const ByteSource* source);

// The volume data reply (NTFS_VOLUME_DATA_BUFFER), NTFS_VOLUME_DATA_BYTES.
void ntfs_volume_data(const NtfsVolume* volume, uint8_t* out);

// The file record reply (ntfs_file_record, below) found through the bitmap:
// every request but the scan's usual one.
int ntfs_nearest_record(NtfsVolume* volume, uint64_t number, uint8_t* out,
                        uint32_t* bytes_returned);

// Fills the reply's header; 1.
inline int ntfs_reply(uint8_t* out, uint64_t number, uint32_t size, uint32_t* bytes_returned) {
    ntfs_put_le64(out + NTFS_REPLY_NUMBER, number);
    ntfs_put_le32(out + NTFS_REPLY_LENGTH, size);
    if (bytes_returned) *bytes_returned = NTFS_REPLY_HEADER_BYTES + size;
    return 1;
}

// The file record reply (NTFS_FILE_RECORD_OUTPUT_BUFFER) for the highest
// in-use, sound record at or below the low 48 bits of number: its bare
// number, its length, then the record with its fix-ups applied. out must
// hold NTFS_REPLY_HEADER_BYTES + the record size. 0 with errno set when no
// such record exists (ENODATA) or the table cannot be read.
//
// Inline, as the scan makes one request per record of the volume: its usual
// one, the record below the last one it was given (so inside the table), is
// answered at once when the block and the bitmap at hand have it.
inline int ntfs_file_record(NtfsVolume* volume, uint64_t number, uint8_t* out,
                            uint32_t* bytes_returned) {
    const uint32_t size = volume->geometry.record_size;
    const uint64_t n = number & NTFS_RECORD_NUMBER_MASK;
    if (n + 1 == volume->scan_next) {
        uint64_t found;
        if (const uint8_t* stored = scan_at_hand(&volume->cache, n, size, &found)) {
            uint8_t* record = out + NTFS_REPLY_HEADER_BYTES;
            if (ntfs_copy_fixed_record(record, stored, size)) {
                volume->scan_next = found;
                return ntfs_reply(out, found, size, bytes_returned);
            }
        }
    }
    return ntfs_nearest_record(volume, number, out, bytes_returned);
}

// Releases what the volume holds (its buffers); null is allowed. The byte
// source is left to its owner.
void ntfs_close(NtfsVolume* volume);
