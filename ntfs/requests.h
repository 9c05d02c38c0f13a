// The two volume requests answered by the reader, with the checks a driver
// makes of the caller's buffers, for whichever platform stands the reader in
// for the system: each platform hands its request's buffers on as they come.
#pragma once

#include <cerrno>
#include <cstdint>

#include "ntfs/layout.h"
#include "ntfs/volume.h"

// The volume data reply into out; 0 with errno ENOBUFS when out cannot hold it.
int ntfs_volume_data_request(const NtfsVolume* volume, void* out, uint32_t out_size,
                             uint32_t* bytes_returned);

// The file record reply for the number at input (NTFS_REQUEST_BYTES); 0 with errno EINVAL
// for a missing or short number, ENOBUFS when out cannot hold the record,
// or as ntfs_file_record fails. Inlined into the platform's request, as the
// scan makes one per record of the volume.
[[gnu::always_inline]] inline int ntfs_file_record_request(NtfsVolume* volume,
                                                           const void* input,
                                                           uint32_t input_size, void* out,
                                                           uint32_t out_size,
                                                           uint32_t* bytes_returned) {
    if (!input || input_size < NTFS_REQUEST_BYTES) {
        errno = EINVAL;
        return 0;
    }
    if (!out || out_size < NTFS_REPLY_HEADER_BYTES + volume->geometry.record_size) {
        errno = ENOBUFS;
        return 0;
    }
    return ntfs_file_record(volume, ntfs_le64(static_cast<const uint8_t*>(input)),
                            static_cast<uint8_t*>(out), bytes_returned);
}
