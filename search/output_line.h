// One output line per match: the volume prefix, then the path.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The device path from its fifth unit on ('\\.\C:' gives 'C:'); empty for a
// device path shorter than that.
const wchar* volume_prefix(const wchar* device_path);

// Prints "<prefix><path>\n" on standard output. Both come from the volume
// or the system, and a name on a volume may hold any unit: each is written
// as copy_safe_text makes it (base/safe_text.h), so that every match stays
// one line and cannot drive the reader's terminal.
void print_match(const wchar* prefix, const wchar* path, uint32_t count);
