// Not built yet: token queries fail.
#include <windows.h>

#include "platform/platform.h"

Handle platform_get_current_process() { return GetCurrentProcess(); }
int platform_open_process_token(Handle, uint32_t, Handle*) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
int platform_get_token_information(Handle, uint32_t, void*, uint32_t, uint32_t*) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
