// Processes behind Handles on Linux (the launched elevation and the worker),
// and the elevation launcher the rights query and the launch both look for.
#pragma once

#include <string>
#include <sys/types.h>

#include "platform/posix/handles.h"

// Allocated with malloc: platform_close_handle frees it like any record.
struct PosixProcess {
    PosixHandle base;  // kind POSIX_PROCESS, fd -1
    pid_t pid;         // -1 once the process has been waited for
};

// Returns a new process record, or null (last error set) when memory is out.
PosixProcess* posix_new_process(pid_t pid);

// The path of the elevation launcher (sudo) found along PATH; empty when it
// is not installed.
std::string posix_find_launcher();
