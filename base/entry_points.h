// The two optional entry points, looked up by name at start and kept for the
// whole run; either may be null.
#pragma once

#include "platform/platform.h"

extern VolumePathNamesFn volume_path_query;  // GetVolumePathNamesForVolumeNameW
extern IsUserAnAdminFn admin_query;          // IsUserAnAdmin

// Fills both references, overwriting what they held; reports nothing.
void look_up_entry_points();
