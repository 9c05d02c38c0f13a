// One output line per match: the volume prefix, then the path.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The device path from its fifth unit on ('\\.\C:' gives 'C:'); empty for a
// device path shorter than that.
const wchar* volume_prefix(const wchar* device_path);

// Prints "<prefix><path>\n" on standard output. Control characters in the
// path (U+0000-U+001F, U+007F), which NTFS allows in names, are replaced by
// '?' in place, so that every match stays one line.
void print_match(const wchar* prefix, wchar* path, uint32_t count);
