// Fake rights: to be filled by the administrator-check tests.
#include "tests/fake_platform/fake_platform.h"

void fake_reset_rights() {}

int PLATFORM_API fake_is_user_an_admin() { return 1; }
Handle platform_get_current_process() { return nullptr; }
int platform_open_process_token(Handle, uint32_t, Handle*) { return 0; }
int platform_get_token_information(Handle, uint32_t, void*, uint32_t, uint32_t*) { return 0; }
