// What a Handle points at on Linux: a small heap record whose first field
// says which kind of object it is, so that platform_close_handle can release it.
#pragma once

#include "ntfs/volume.h"
#include "platform/platform.h"
#include "platform/posix/fd_byte_source.h"

enum PosixHandleKind : int {
    POSIX_VOLUME = 1,
    POSIX_FIND_VOLUME,
    POSIX_TOKEN,
    POSIX_PIPE,
    POSIX_PROCESS,
    POSIX_FILE,
};

struct PosixHandle {
    int kind;
    int fd;  // -1 when the object has no descriptor
};

// An open volume: the device or image, the byte source over it, and the
// NTFS reader built from its bytes at the first volume request.
struct PosixVolume {
    PosixHandle base;
    FdByteSource bytes;
    NtfsVolume* ntfs;
};

// Records errno as the last-error code.
void posix_set_last_error_from_errno();
