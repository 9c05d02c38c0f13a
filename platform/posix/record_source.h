// The Linux record source: answers the two NTFS volume requests from the
// volume's own bytes, as Windows' NTFS driver would.
#pragma once

#include <cstdint>

#include "platform/posix/handles.h"
#include "platform/posix/ntfs_block_cache.h"
#include "platform/posix/ntfs_geometry.h"
#include "platform/posix/ntfs_mft.h"

enum : uint32_t {
    NTFS_VOLUME_DATA_BYTES = 96,
    FILE_RECORD_HEADER_BYTES = 12,  // record number, record length
};

// Built from the volume's bytes at the first request on its handle.
struct RecordSource {
    int fd;
    NtfsGeometry geometry;
    MftLayout mft;
    uint64_t records;  // record slots the table holds
    BlockCache cache;
};

// Releases what the source holds (maps, caches); null is allowed.
void record_source_release(RecordSource* source);
