// Stands in for DeviceIoControl with the two NTFS volume requests
// (FSCTL_GET_NTFS_VOLUME_DATA, FSCTL_GET_NTFS_FILE_RECORD): Linux has no
// such requests, so Morla's own NTFS reader answers them from the volume's
// bytes, built at the first request on a handle.
#include "ntfs/requests.h"
#include "platform/posix/failure.h"
#include "platform/posix/volumes/volume_open.h"

namespace {
// The reader of an open volume handle, built at its first request.
NtfsVolume* volume_reader(Handle handle) {
    PosixHandle* h = static_cast<PosixHandle*>(handle);
    if (!h || handle == INVALID_HANDLE || h->kind != POSIX_VOLUME) {
        errno = EBADF;
        return nullptr;
    }
    PosixVolume* volume = reinterpret_cast<PosixVolume*>(h);
    if (!volume->ntfs) {
        ByteSource source;
        fd_source_release(&volume->bytes);  // what a failed attempt left
        if (volume->container) source = *volume->container;
        else fd_source_start(&volume->bytes, h->fd, &source);
        if (volume->length)
            window_source_start(&volume->window, &source, volume->start, volume->length, &source);
        volume->ntfs = ntfs_open(&source);
    }
    return volume->ntfs;
}
}  // namespace

int platform_device_io_control(Handle volume, uint32_t control_code, const void* input,
                               uint32_t input_size, void* output, uint32_t output_size,
                               uint32_t* bytes_returned) {
    if (bytes_returned) *bytes_returned = 0;
    int ok = 0;
    if (control_code != FSCTL_NTFS_VOLUME_DATA && control_code != FSCTL_NTFS_FILE_RECORD) {
        errno = ENOTTY;
    } else if (NtfsVolume* reader = volume_reader(volume)) {
        ok = control_code == FSCTL_NTFS_FILE_RECORD
                 ? ntfs_file_record_request(reader, input, input_size, output, output_size,
                                            bytes_returned)
                 : ntfs_volume_data_request(reader, output, output_size, bytes_returned);
    }
    return ok ? 1 : posix_fail(errno);
}
