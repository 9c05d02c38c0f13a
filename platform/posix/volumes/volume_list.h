// GetVolumePathNamesForVolumeNameW's stand-in, reached through the optional
// entry points' table.
#pragma once

#include "platform/platform.h"

int PLATFORM_API posix_volume_path_names(const wchar* volume_name, wchar* names,
                                         uint32_t capacity, uint32_t* needed);
