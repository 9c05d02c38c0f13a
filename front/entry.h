// The entry function: usage, relay or search mode, and the drive letters.
#pragma once

#include "platform/platform.h"

// The relay pipe prefix: a first argument that starts with it is a relay request.
extern const wchar kRelayPipePrefix[];
enum : int { RELAY_PREFIX_UNITS = 24 };

// Process-wide drive device path, '\\.\A:' with the letter at index 4.
extern wchar drive_device_path[7];

// A search that went on past what it could not search: a drive named that
// could not be opened or was no letter, a table not read to its end, no list
// of volumes. Everything else was still searched; a script must not take
// the run for one that found nothing.
enum : int { EXIT_SEARCH_INCOMPLETE = 3 };

// Returns the exit status: 0 after a search of everything asked for, 1 after
// the usage text, 2 when the administrator check refuses, 3 after a search
// that could not search everything.
int morla_entry(int argc, wchar** argv);
