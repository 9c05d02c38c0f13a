// Path reconstruction: a matching name becomes its full path on the volume by
// following parent references from record to record up to the root directory
// (record 5), one directory name and a backslash per level.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// value: the file name value whose parent reference starts the climb (it must
// stay valid during the call). path/count: the counted path so far, owned by
// the caller and replaced (never extended in place) once the climb ends,
// however deep. A record met again (a loop through damaged records) or one
// that cannot be followed stops the climb silently, and the path then holds
// the levels below it, without the leading backslash; when memory is short,
// the path is left as it was. Returns 1 when the path was extended, 0 when
// it was not.
int build_path(Handle volume, const uint8_t* value, wchar** path, uint32_t* count);
