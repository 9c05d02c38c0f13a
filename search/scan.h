// The volume scan: every in-use file record from the highest down to 0, every
// long name tested against the pattern, every match printed with its path.
#pragma once

#include "platform/platform.h"

// The caller opens and closes the volume handle. The device path's text from
// its fifth unit on is the prefix of every output line. 1 when the table was
// read to its end (or the volume holds no NTFS, silently), 0 when a record
// could not be read and the scan stopped there.
int scan_volume(Handle volume, const wchar* pattern, const wchar* device_path);
