// Processes behind Handles on Linux (the launched elevation and the worker),
// the elevation launcher the rights query and the launch both look for, and
// what the relay and its worker learn about the requester and themselves.
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

// Waits for the launcher platform_shell_execute_runas started, unless it was
// waited for already: the process ends only after it, so that the shell gets
// the terminal back as sudo left it. Called by platform_exit_process.
void posix_wait_for_launcher();
// The launcher was waited for elsewhere (it ended before connecting).
void posix_launcher_waited_for();

// In the relay's worker, whose standard handles are all the relay socket:
// names the process after its program file, and starts a watcher that ends
// the process (status EPIPE) within moments of the requester hanging up,
// whether the search is writing, scanning without a match, or blocked on a
// drive target. Does nothing in any other process.
void posix_start_relay_worker();

// The prefix folder of the requester at the other end of the relay socket:
// its WINEPREFIX, else its HOME's .wine, made absolute against its working
// directory (empty when it has neither), read through /proc. Returns 0 with
// errno set when the requester cannot be read.
int posix_requester_prefix(int socket, std::string* prefix);

// Whether path is the program path platform_get_module_file_name gave out.
// Whoever may write the program's folder can put another file under that
// path at any time, so it is never opened again to start the program: the
// file the process runs is reached through /proc/self/exe instead.
bool posix_names_own_program(const wchar* path);
