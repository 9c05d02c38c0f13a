// Not built yet: FindFirstVolumeW finds nothing.
#include <cerrno>

#include "platform/posix/entry_points_table.h"

Handle platform_find_first_volume(wchar*, uint32_t) {
    platform_set_last_error(ENOENT);
    return INVALID_HANDLE;
}
int platform_find_next_volume(Handle, wchar*, uint32_t) { return 0; }
int platform_find_volume_close(Handle) { return 1; }
int PLATFORM_API posix_volume_path_names(const wchar*, wchar*, uint32_t, uint32_t*) {
    platform_set_last_error(ENOENT);
    return 0;
}
