// The entry function: usage, relay or search mode, and the drive letters.
#pragma once

#include "platform/platform.h"

// The relay pipe prefix: a first argument that starts with it is a relay request.
extern const wchar kRelayPipePrefix[];
enum : int { RELAY_PREFIX_UNITS = 24 };

// Process-wide drive device path, '\\.\A:' with the letter at index 4.
extern wchar drive_device_path[7];

// Returns the exit status: 0 after a search, 1 after the usage text, 2 when
// the administrator check refuses.
int morla_entry(int argc, wchar** argv);
