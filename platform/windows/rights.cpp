// Token queries for the administrator check.
#include <windows.h>

#include "platform/platform.h"

static_assert(TOKEN_ACCESS_QUERY == TOKEN_QUERY);
static_assert(TOKEN_CLASS_ELEVATION_TYPE == uint32_t(TokenElevationType));
static_assert(ELEVATION_TYPE_LIMITED == uint32_t(TokenElevationTypeLimited));
static_assert(sizeof(TOKEN_ELEVATION_TYPE) == 4);

Handle platform_get_current_process() { return GetCurrentProcess(); }

int platform_open_process_token(Handle process, uint32_t access, Handle* token) {
    HANDLE opened = nullptr;
    BOOL ok = OpenProcessToken(process, access, &opened);
    *token = opened;
    return ok ? 1 : 0;
}

int platform_get_token_information(Handle token, uint32_t info_class, void* info, uint32_t length,
                                   uint32_t* returned) {
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, TOKEN_INFORMATION_CLASS(info_class), info, length, &size);
    if (returned) *returned = size;
    return ok ? 1 : 0;
}
