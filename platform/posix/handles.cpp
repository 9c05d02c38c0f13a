// CloseHandle for every kind of Linux handle record.
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include "platform/posix/handles.h"

int platform_close_handle(Handle handle) {
    if (!handle || handle == INVALID_HANDLE) {
        errno = EBADF;
        posix_set_last_error_from_errno();
        return 0;
    }
    PosixHandle* h = static_cast<PosixHandle*>(handle);
    if (h->kind == POSIX_VOLUME) {
        PosixVolume* volume = reinterpret_cast<PosixVolume*>(h);
        ntfs_close(volume->ntfs);
        fd_source_release(&volume->bytes);
        if (h->fd >= 0) close(h->fd);
        delete volume;
        return 1;
    }
    if (h->fd >= 0) close(h->fd);
    std::free(h);
    return 1;
}
