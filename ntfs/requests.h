// The two volume requests answered by the reader, with the checks a driver
// makes of the caller's buffers, for whichever platform stands the reader in
// for the system: each platform hands its request's buffers on as they come.
#pragma once

#include <cstdint>

#include "ntfs/volume.h"

// The volume data reply into out; 0 with errno ENOBUFS when out cannot hold it.
int ntfs_volume_data_request(const NtfsVolume* volume, void* out, uint32_t out_size,
                             uint32_t* bytes_returned);

// The file record reply for the 8-byte number at input; 0 with errno EINVAL
// for a missing or short number, ENOBUFS when out cannot hold the record,
// or as ntfs_file_record fails.
int ntfs_file_record_request(NtfsVolume* volume, const void* input, uint32_t input_size,
                             void* out, uint32_t out_size, uint32_t* bytes_returned);
