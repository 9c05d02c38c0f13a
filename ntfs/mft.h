// Finds the master file table from record 0: the runs of its unnamed $DATA
// and of its $BITMAP, following the attribute list into extension records
// when the runs do not fit in record 0.
#pragma once

#include <cstdint>

#include "ntfs/geometry.h"
#include "ntfs/stream.h"

struct MftLayout {
    NtfsStream data;     // the table itself; size cut to what its runs map on the device
    NtfsStream bitmap;   // one bit per record, set while the record is in use; cut likewise
                         // and at the table's last record
    uint64_t valid_length;  // $DATA's valid length as record 0 states it
    // What the table and its bitmap hold by their sizes, before their runs
    // and the device's end cut them: a record, or a bit, between the two
    // lies on bytes no run maps or the device does not have (a run list
    // that stops early, an image cut short), and cannot be read.
    uint64_t table_bytes;
    uint64_t bitmap_bytes;
};

// Returns 0 with errno set when record 0 is unreadable or unsound, or holds
// no usable $DATA or $BITMAP. The layout is then released.
int mft_load(const ByteSource* source, const NtfsGeometry* geometry, MftLayout* layout);

void mft_release(MftLayout* layout);
