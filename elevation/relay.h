// The relay: the elevated process started by the requester with the pipe name
// as its only argument. It reads the requester's command line from the pipe
// and starts the worker on it, with the pipe as its standard handles.
#pragma once

#include "platform/platform.h"

// The longest command line the platform accepts, in code units; a frame
// announcing more is refused before anything is allocated.
enum : uint32_t { MAX_COMMAND_LINE_UNITS = 32767 };

// Runs the relay and ends the process with exit status 0 once the worker has
// started; failures end it through message-box (or fatal) reports.
[[noreturn]] void relay_entry(const wchar* pipe_name);
// Everything relay_entry does before the process ends.
void run_relay(const wchar* pipe_name);
// Reads the requester's frame from the pipe: its command line, NUL-terminated,
// from the heap (the caller frees it). Null when the frame cannot be read
// whole or announces more than any command line: *failed_step then names the
// step for the report, and the last error says why.
wchar* receive_frame(Handle pipe, const wchar** failed_step);
