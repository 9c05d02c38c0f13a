// The Linux functions behind the optional entry points, and a test seam that
// takes one out of the table as if the platform did not supply it.
#pragma once

#include "platform/platform.h"

int PLATFORM_API posix_volume_path_names(const wchar* volume_name, wchar* names,
                                         uint32_t capacity, uint32_t* needed);

void posix_hide_entry_point(const char* name, bool hidden);
