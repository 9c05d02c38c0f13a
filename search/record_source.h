// The two read-only volume requests through which the search sees a volume:
// the volume data, and one file record by number (answered with the nearest
// in-use record at or below it).
#pragma once

#include <cstdint>

#include "ntfs/layout.h"
#include "platform/platform.h"

// A record buffer holds the reply header, the record and spare bytes.
constexpr uint32_t RECORD_BUFFER_SPARE = 15;

// Fills the process-wide volume data buffer; 1 on success, 0 on failure (the
// volume is not NTFS or cannot be queried). The buffer stays valid until the
// next call, so path reconstruction reads the record size the scan obtained.
int read_volume_data(Handle volume);
// BytesPerFileRecordSegment and MftValidDataLength of the last volume data.
uint32_t volume_record_size();
int64_t volume_valid_length();

// Requests a record into buffer (capacity bytes: the record size + 15). The
// number is a plain record number or a file reference as stored, sequence
// number included. 1 on success, 0 on failure.
int read_file_record(Handle volume, uint64_t number, uint8_t* buffer, uint32_t capacity);
// The bare number of the record a successful request returned.
int64_t reply_record_number(const uint8_t* buffer);
// The record itself, after the reply header.
inline const uint8_t* reply_record(const uint8_t* buffer) { return buffer + NTFS_REPLY_RECORD; }
