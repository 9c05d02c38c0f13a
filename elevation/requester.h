// The requester: the limited process of an administrator. It starts an
// elevated copy of the program through the platform's elevation prompt,
// sends it the command line through a named pipe and prints what comes back.
#pragma once

#include "platform/platform.h"

// The pipe name buffer, in units; also the bound of its formatting.
enum : uint32_t { RELAY_PIPE_NAME_UNITS = 255 };

// A worker that did not finish (it died, or never ran) searched not all it
// was asked to: the status of a search that could not search everything.
enum : int { EXIT_RELAY_UNFINISHED = 3 };

// Runs the requester and ends the process once the relayed output has been
// drained, with the worker's own status when it finished, otherwise with
// EXIT_RELAY_UNFINISHED after a message; failures end it through fatal reports.
[[noreturn]] void requester_entry();
// Everything requester_entry does before the process ends; the status.
int run_requester();
