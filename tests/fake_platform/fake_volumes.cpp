// Fake volumes: to be filled by the volume and search tests.
#include "tests/fake_platform/fake_platform.h"

void fake_reset_volumes() {}

int PLATFORM_API fake_volume_path_names(const wchar*, wchar*, uint32_t, uint32_t*) {
    platform_set_last_error(2);
    return 0;
}
Handle platform_open_volume(const wchar*) {
    platform_set_last_error(2);
    return INVALID_HANDLE;
}
int platform_close_handle(Handle) { return 1; }
int platform_device_io_control(Handle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t*) {
    platform_set_last_error(50);
    return 0;
}
Handle platform_find_first_volume(wchar*, uint32_t) {
    platform_set_last_error(18);
    return INVALID_HANDLE;
}
int platform_find_next_volume(Handle, wchar*, uint32_t) { return 0; }
int platform_find_volume_close(Handle) { return 1; }
