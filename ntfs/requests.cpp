#include "ntfs/requests.h"

#include <cerrno>

#include "ntfs/bytes.h"

int ntfs_volume_data_request(const NtfsVolume* volume, void* out, uint32_t out_size,
                             uint32_t* bytes_returned) {
    if (!out || out_size < NTFS_VOLUME_DATA_BYTES) {
        errno = ENOBUFS;
        return 0;
    }
    ntfs_volume_data(volume, static_cast<uint8_t*>(out));
    if (bytes_returned) *bytes_returned = NTFS_VOLUME_DATA_BYTES;
    return 1;
}

int ntfs_file_record_request(NtfsVolume* volume, const void* input, uint32_t input_size,
                             void* out, uint32_t out_size, uint32_t* bytes_returned) {
    if (!input || input_size < 8) {
        errno = EINVAL;
        return 0;
    }
    if (!out || out_size < FILE_RECORD_HEADER_BYTES + volume->geometry.record_size) {
        errno = ENOBUFS;
        return 0;
    }
    return ntfs_file_record(volume, ntfs_le64(static_cast<const uint8_t*>(input)),
                            static_cast<uint8_t*>(out), bytes_returned);
}
