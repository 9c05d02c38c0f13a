// Fake volume enumeration and mount-path query. To be filled by the volume
// enumeration tests.
#include "tests/fake_platform/fake_platform.h"

void fake_reset_volume_list() {}

int PLATFORM_API fake_volume_path_names(const wchar*, wchar*, uint32_t, uint32_t*) {
    platform_set_last_error(2);
    return 0;
}
Handle platform_find_first_volume(wchar*, uint32_t) {
    platform_set_last_error(18);
    return INVALID_HANDLE;
}
int platform_find_next_volume(Handle, wchar*, uint32_t) { return 0; }
int platform_find_volume_close(Handle) { return 1; }
