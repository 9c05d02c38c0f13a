// Token queries on Linux: the token stands for the process's own groups. An
// administrator is a member of an administrators' group (sudo, wheel or
// admin); with the launcher installed that user's process, not yet root, has
// the limited token of an administrator.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "platform/posix/processes.h"
#include "platform/posix/user_rights.h"

namespace {

enum : uint32_t { ELEVATION_TYPE_DEFAULT = 1 };

int fail(int error) {
    errno = error;
    posix_set_last_error_from_errno();
    return 0;
}

}  // namespace

// The pseudo-handle of the current process, as Windows gives it.
Handle platform_get_current_process() { return INVALID_HANDLE; }

int platform_open_process_token(Handle, uint32_t, Handle* token) {
    PosixHandle* record = static_cast<PosixHandle*>(std::malloc(sizeof(PosixHandle)));
    if (!record) return fail(ENOMEM);
    record->kind = POSIX_TOKEN;
    record->fd = -1;
    *token = record;
    return 1;
}

int platform_get_token_information(Handle token, uint32_t info_class, void* info, uint32_t length,
                                   uint32_t* returned) {
    if (!token || token == INVALID_HANDLE || static_cast<PosixHandle*>(token)->kind != POSIX_TOKEN)
        return fail(EBADF);
    if (info_class != TOKEN_CLASS_ELEVATION_TYPE || length < sizeof(uint32_t)) return fail(EINVAL);
    int count = getgroups(0, nullptr);
    if (count < 0) return fail(errno);
    std::vector<gid_t> groups(size_t(count) + 1);
    count = getgroups(count, groups.data());
    if (count < 0) return fail(errno);
    groups.resize(size_t(count));
    groups.push_back(getgid());
    uint32_t type = posix_in_administrators_group(groups) && !posix_find_launcher().empty()
                        ? uint32_t(ELEVATION_TYPE_LIMITED)
                        : uint32_t(ELEVATION_TYPE_DEFAULT);
    std::memcpy(info, &type, sizeof type);
    if (returned) *returned = sizeof type;
    return 1;
}
