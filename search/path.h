// Path reconstruction: a matching name becomes its full path on the volume by
// following parent references from record to record up to the root directory
// (record 5), prepending one directory name and a backslash per level.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The longest path built; a chain of parents that has not reached the root
// by then is cut off there.
constexpr uint32_t PATH_MAX_UNITS = 32767;

// value: the file name value whose parent reference starts the climb (it must
// stay valid during the call). path/count: the counted path so far, owned by
// the caller and replaced (never extended in place) at each level. Any
// failure stops the climb silently and leaves the path built so far, which
// then lacks the leading backslash. Returns 1 when the path was extended at
// the first level, 0 when the climb stopped there.
int build_path(Handle volume, const uint8_t* value, wchar** path, uint32_t* count);
