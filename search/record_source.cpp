#include "search/record_source.h"

namespace {
// One buffer for the whole process, overwritten by each scan.
alignas(8) uint8_t volume_data[NTFS_VOLUME_DATA_BYTES];
}  // namespace

int read_volume_data(Handle volume) {
    uint32_t returned = 0;
    return platform_device_io_control(volume, FSCTL_NTFS_VOLUME_DATA, nullptr, 0, volume_data,
                                      NTFS_VOLUME_DATA_BYTES, &returned)
               ? 1
               : 0;
}

uint32_t volume_record_size() { return ntfs_le32(volume_data + NTFS_VOLUME_DATA_RECORD_SIZE); }

int64_t volume_valid_length() {
    return int64_t(ntfs_le64(volume_data + NTFS_VOLUME_DATA_MFT_VALID_LENGTH));
}

int read_file_record(Handle volume, uint64_t number, uint8_t* buffer, uint32_t capacity) {
    uint32_t returned = 0;
    return platform_device_io_control(volume, FSCTL_NTFS_FILE_RECORD, &number, sizeof number,
                                      buffer, capacity, &returned)
               ? 1
               : 0;
}

int64_t reply_record_number(const uint8_t* buffer) {
    return int64_t(ntfs_le64(buffer + NTFS_REPLY_NUMBER));
}
