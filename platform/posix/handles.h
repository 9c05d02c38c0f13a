// What a Handle points at on Linux, where the system has no handles: a small
// heap record whose first field says which kind of object it is, so that
// CloseHandle's stand-in can release it.
#pragma once

#include <sys/types.h>

#include "platform/platform.h"

enum PosixHandleKind : int {
    POSIX_VOLUME = 1,
    POSIX_FIND_VOLUME,
    POSIX_TOKEN,
    POSIX_PIPE,
    POSIX_PROCESS,
    POSIX_FILE,
    POSIX_DISK,
};

struct PosixHandle {
    int kind;
    int fd;  // -1 when the object has no descriptor
};

// A process: the launched elevation or the relay's worker.
struct PosixProcess {
    PosixHandle base;  // kind POSIX_PROCESS, fd -1
    pid_t pid;         // -1 once the process has been waited for
};

// A new record of this kind (allocated with malloc, as platform_close_handle
// frees it); null with the last error set when memory is out, the
// descriptor then closed.
PosixHandle* posix_new_handle(int kind, int fd);
PosixProcess* posix_new_process(pid_t pid);
