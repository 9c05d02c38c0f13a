// Not built yet: token queries fail.
#include <cerrno>

#include "platform/platform.h"

Handle platform_get_current_process() { return nullptr; }
int platform_open_process_token(Handle, uint32_t, Handle*) {
    platform_set_last_error(ENOSYS);
    return 0;
}
int platform_get_token_information(Handle, uint32_t, void*, uint32_t, uint32_t*) {
    platform_set_last_error(ENOSYS);
    return 0;
}
