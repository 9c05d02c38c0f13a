// The elevation launcher (sudo) that ShellExecuteExW's stand-in starts, as
// the rights query, the pipe's wait and the process exit know it.
#pragma once

#include <cstdint>
#include <string>

// The relay's proof that the launch started it: random bytes the requester
// gives sudo as its standard input, which the relay inherits and sends back
// first thing over the socket (zeros when it has none). Where /proc hides
// root's processes, the requester cannot see who started the relay.
enum : uint32_t { RELAY_PROOF_BYTES = 16 };

// Whether these bytes are the proof of the launch this process made; never
// before a launch.
bool posix_is_launch_proof(const uint8_t* bytes);

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
