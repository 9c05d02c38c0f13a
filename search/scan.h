// The volume scan: every in-use file record from the highest down to 0, every
// long name tested against the pattern, every match printed with its path.
#pragma once

#include "platform/platform.h"

// The caller opens and closes the volume handle. The device path's text from
// its fifth unit on is the prefix of every output line.
void scan_volume(Handle volume, const wchar* pattern, const wchar* device_path);
