// Not built yet: every relay operation fails.
#include <windows.h>

#include "platform/platform.h"

namespace {
int fail() {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
}  // namespace

int platform_crypt_acquire_context(uintptr_t*) { return fail(); }
int platform_crypt_gen_random(uintptr_t, uint32_t, uint8_t*) { return fail(); }
int platform_crypt_release_context(uintptr_t) { return 1; }
Handle platform_create_named_pipe(const wchar*) { return fail(), INVALID_HANDLE; }
uint32_t platform_get_module_file_name(wchar*, uint32_t) { return uint32_t(fail()); }
int platform_shell_execute_runas(const wchar*, const wchar*, Handle*) { return fail(); }
int platform_connect_named_pipe(Handle, Handle) { return fail(); }
const wchar* platform_get_command_line() { return u""; }
Handle platform_get_std_output() { return INVALID_HANDLE; }
int platform_read_file(Handle, void*, uint32_t, uint32_t*) { return fail(); }
int platform_write_file(Handle, const void*, uint32_t, uint32_t*) { return fail(); }
Handle platform_open_pipe_client(const wchar*) { return fail(), INVALID_HANDLE; }
int platform_create_worker(const wchar*, wchar*, Handle, Handle*, Handle*) { return fail(); }
int platform_free_console() { return 1; }
