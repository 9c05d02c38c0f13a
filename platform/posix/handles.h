// What a Handle points at on Linux: a small heap record whose first field
// says which kind of object it is, so that platform_close_handle can release it.
#pragma once

#include "platform/platform.h"

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

struct RecordSource;

// An open volume: the device or image, and the record source built from its
// bytes at the first volume request.
struct PosixVolume {
    PosixHandle base;
    RecordSource* source;
};

// Records errno as the last-error code.
void posix_set_last_error_from_errno();
