// The thread's last-error code, kept by the system.
#include <windows.h>

#include "platform/platform.h"

static_assert(ERROR_CODE_INVALID_FUNCTION == ERROR_INVALID_FUNCTION);
static_assert(ERROR_CODE_MORE_DATA == ERROR_MORE_DATA);
static_assert(ERROR_CODE_PIPE_CONNECTED == ERROR_PIPE_CONNECTED);

uint32_t platform_last_error() { return GetLastError(); }
void platform_set_last_error(uint32_t code) { SetLastError(code); }
