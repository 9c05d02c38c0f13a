// Stands in for IsUserAnAdmin, GetCurrentProcess, OpenProcessToken and
// GetTokenInformation. On Linux the administrator is root, and the token
// stands for the process's own groups: a member of an administrators' group
// (sudo, wheel or admin), with sudo installed, has the limited token of an
// administrator, whom the relay elevates through sudo.
#include "platform/posix/rights/token.h"

#include <cstring>
#include <unistd.h>
#include <vector>

#include "platform/posix/failure.h"
#include "platform/posix/handles.h"
#include "platform/posix/relay/launch.h"
#include "platform/posix/rights/user_rights.h"

namespace {
enum : uint32_t { ELEVATION_TYPE_DEFAULT = 1 };
}  // namespace

int PLATFORM_API posix_is_user_an_admin() { return geteuid() == 0; }

// The pseudo-handle of the current process, as Windows gives it.
Handle platform_get_current_process() { return INVALID_HANDLE; }

int platform_open_process_token(Handle, uint32_t, Handle* token) {
    PosixHandle* record = posix_new_handle(POSIX_TOKEN, -1);
    if (!record) return 0;
    *token = record;
    return 1;
}

int platform_get_token_information(Handle token, uint32_t info_class, void* info, uint32_t length,
                                   uint32_t* returned) {
    if (!token || token == INVALID_HANDLE || static_cast<PosixHandle*>(token)->kind != POSIX_TOKEN)
        return posix_fail(EBADF);
    if (info_class != TOKEN_CLASS_ELEVATION_TYPE || length < sizeof(uint32_t))
        return posix_fail(EINVAL);
    int count = getgroups(0, nullptr);
    if (count < 0) return posix_fail(errno);
    std::vector<gid_t> groups(size_t(count) + 1);
    count = getgroups(count, groups.data());
    if (count < 0) return posix_fail(errno);
    groups.resize(size_t(count));
    groups.push_back(getgid());
    uint32_t type = posix_in_administrators_group(groups) && !posix_find_launcher().empty()
                        ? uint32_t(ELEVATION_TYPE_LIMITED)
                        : uint32_t(ELEVATION_TYPE_DEFAULT);
    std::memcpy(info, &type, sizeof type);
    if (returned) *returned = sizeof type;
    return 1;
}
