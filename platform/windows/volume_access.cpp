// Volumes through the system: CreateFileW on a device path, the two NTFS
// requests through DeviceIoControl, CloseHandle for every kind of handle.
#include <cstddef>
#include <windows.h>
#include <winioctl.h>

#include "platform/platform.h"

// The record source reads these replies at fixed offsets.
static_assert(sizeof(NTFS_VOLUME_DATA_BUFFER) == 96);
static_assert(offsetof(NTFS_VOLUME_DATA_BUFFER, BytesPerFileRecordSegment) == 48);
static_assert(offsetof(NTFS_VOLUME_DATA_BUFFER, MftValidDataLength) == 56);
static_assert(sizeof(NTFS_FILE_RECORD_INPUT_BUFFER) == 8);
static_assert(offsetof(NTFS_FILE_RECORD_OUTPUT_BUFFER, FileReferenceNumber) == 0);
static_assert(offsetof(NTFS_FILE_RECORD_OUTPUT_BUFFER, FileRecordLength) == 8);
static_assert(offsetof(NTFS_FILE_RECORD_OUTPUT_BUFFER, FileRecordBuffer) == 12);
static_assert(FSCTL_NTFS_VOLUME_DATA == FSCTL_GET_NTFS_VOLUME_DATA);
static_assert(FSCTL_NTFS_FILE_RECORD == FSCTL_GET_NTFS_FILE_RECORD);
static_assert(sizeof(wchar_t) == sizeof(wchar));

Handle platform_open_volume(const wchar* device_path) {
    HANDLE volume = CreateFileW(reinterpret_cast<const wchar_t*>(device_path), FILE_READ_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    return volume == INVALID_HANDLE_VALUE ? INVALID_HANDLE : volume;
}

int platform_close_handle(Handle handle) { return CloseHandle(handle) ? 1 : 0; }

int platform_device_io_control(Handle volume, uint32_t control_code, const void* input,
                               uint32_t input_size, void* output, uint32_t output_size,
                               uint32_t* bytes_returned) {
    // Synchronous: without an overlapped record the count must have a home.
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(volume, control_code, const_cast<void*>(input), input_size, output,
                              output_size, &returned, nullptr);
    if (bytes_returned) *bytes_returned = returned;
    return ok ? 1 : 0;
}
