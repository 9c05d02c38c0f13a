// Stands in for CloseHandle: on Linux, closes the record's descriptor and
// frees the record; a volume also releases its NTFS reader and the map of
// its device.
#include "platform/posix/handles.h"

#include <cstdlib>
#include <unistd.h>

#include "platform/posix/failure.h"
#include "platform/posix/volumes/volume_open.h"

PosixHandle* posix_new_handle(int kind, int fd) {
    PosixHandle* record = static_cast<PosixHandle*>(std::malloc(sizeof(PosixHandle)));
    if (!record) {
        if (fd >= 0) close(fd);
        posix_fail(ENOMEM);
        return nullptr;
    }
    record->kind = kind;
    record->fd = fd;
    return record;
}

PosixProcess* posix_new_process(pid_t pid) {
    PosixProcess* record = static_cast<PosixProcess*>(std::malloc(sizeof(PosixProcess)));
    if (!record) {
        posix_fail(ENOMEM);
        return nullptr;
    }
    record->base.kind = POSIX_PROCESS;
    record->base.fd = -1;
    record->pid = pid;
    return record;
}

int platform_close_handle(Handle handle) {
    if (!handle || handle == INVALID_HANDLE) return posix_fail(EBADF);
    PosixHandle* record = static_cast<PosixHandle*>(handle);
    if (record->kind == POSIX_VOLUME) {
        posix_close_volume(reinterpret_cast<PosixVolume*>(record));
        return 1;
    }
    if (record->fd >= 0) close(record->fd);
    std::free(record);
    return 1;
}
