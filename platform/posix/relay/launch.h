// The elevation launcher (sudo) that ShellExecuteExW's stand-in starts, as
// the rights query, the pipe's wait and the process exit know it.
#pragma once

#include <string>

// The path of sudo found along PATH; empty when it is not installed.
std::string posix_find_launcher();

// Waits for the launcher platform_shell_execute_runas started, unless it was
// waited for already: the process ends only after it, so that the shell gets
// the terminal back as sudo left it (as it was before sudo, when a signal
// ended sudo). Called by platform_exit_process.
void posix_wait_for_launcher();
// The launcher was waited for elsewhere (it ended before the relay
// connected): the terminal's modes from before it are put back.
void posix_launcher_waited_for();
