// The relay: the elevated process that reads the requester's command line from
// the pipe and starts the worker on it. Never returns.
#pragma once

#include "platform/platform.h"

[[noreturn]] void relay_entry(const wchar* pipe_name);
