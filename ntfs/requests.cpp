#include "ntfs/requests.h"

#include <cerrno>

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
