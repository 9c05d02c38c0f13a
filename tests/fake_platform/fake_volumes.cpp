// Fake volumes: open, close and the two NTFS requests. To be filled by the
// search tests.
#include "tests/fake_platform/fake_platform.h"

void fake_reset_volumes() {}

Handle platform_open_volume(const wchar*) {
    platform_set_last_error(2);
    return INVALID_HANDLE;
}
int platform_close_handle(Handle) { return 1; }
int platform_device_io_control(Handle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t*) {
    platform_set_last_error(50);
    return 0;
}
