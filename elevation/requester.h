// The requester: the limited process of an administrator. It starts an
// elevated copy of the program through the platform's elevation prompt,
// sends it the command line through a named pipe and prints what comes back.
#pragma once

#include "platform/platform.h"

// The pipe name buffer, in units; also the bound of its formatting.
enum : uint32_t { RELAY_PIPE_NAME_UNITS = 255 };

// Runs the requester and ends the process with exit status 0 once the
// relayed output has been drained; failures end it through fatal reports.
[[noreturn]] void requester_entry();
// Everything requester_entry does before the process ends.
void run_requester();
