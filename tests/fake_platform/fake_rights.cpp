// Fake rights: the administrator query and the token's elevation type, as
// the test sets them.
#include <cstring>

#include "tests/fake_platform/fake_platform.h"

int fake_admin_answer = 1;
uint32_t fake_elevation_type = 1;
uint32_t fake_open_token_error = 0, fake_token_query_error = 0;

namespace {
int token_object;
}  // namespace

void fake_reset_rights() {
    fake_admin_answer = 1;
    fake_elevation_type = 1;
    fake_open_token_error = 0;
    fake_token_query_error = 0;
}

int PLATFORM_API fake_is_user_an_admin() {
    fake_elevation_calls.push_back("IsUserAnAdmin");
    return fake_admin_answer;
}

Handle platform_get_current_process() { return INVALID_HANDLE; }

int platform_open_process_token(Handle process, uint32_t access, Handle* token) {
    fake_elevation_calls.push_back("OpenProcessToken");
    if (process != INVALID_HANDLE || access != TOKEN_ACCESS_QUERY || fake_open_token_error) {
        platform_set_last_error(fake_open_token_error ? fake_open_token_error : 87);
        return 0;
    }
    *token = &token_object;
    return 1;
}

int platform_get_token_information(Handle token, uint32_t info_class, void* info, uint32_t length,
                                   uint32_t* returned) {
    fake_elevation_calls.push_back("GetTokenInformation");
    if (token != &token_object || info_class != TOKEN_CLASS_ELEVATION_TYPE || length != 4 ||
        fake_token_query_error) {
        platform_set_last_error(fake_token_query_error ? fake_token_query_error : 87);
        return 0;
    }
    std::memcpy(info, &fake_elevation_type, 4);
    *returned = 4;
    return 1;
}

const char* fake_rights_handle_name(Handle handle) {
    return handle == &token_object ? "token" : nullptr;
}
