// Whose rights a drive target is reached with (no Windows operation: Windows
// checks the user's own access to every file anyway). Root searches what the drive
// map names, and the drive map is the invoking user's folder: an
// administrator keeps root's rights (they have them anyway), while a user
// whose only root power is a sudo rule for Morla resolves targets and opens
// images as themselves, and gets root's rights for block devices alone.
#pragma once

#include <cstdint>
#include <sys/types.h>
#include <vector>

// Whether one of these groups is an administrators' group (sudo, wheel or admin).
bool posix_in_administrators_group(const std::vector<gid_t>& groups);

// The value of SUDO_UID or SUDO_GID, as sudo sets it; false when unset or
// not a plain decimal id.
bool posix_sudo_id(const char* variable, unsigned* id);

// The calling thread's file-system ids, groups and effective capabilities,
// as they were before posix_take_user_rights.
struct PosixUserRights {
    bool taken;
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
    uint32_t effective[2];
};

// In a root process run through sudo for a user who is not an
// administrator, gives the calling thread (only it: other threads keep
// root's rights) that user's file-system ids and groups, and clears its
// effective capabilities, so that nothing of root's helps a path along (the
// capability to trace lets a path through /proc/PID/cwd or /proc/PID/root
// of any process); otherwise changes nothing. Returns 0 with errno set when the rights ought to be taken and
// cannot: the caller must then not touch the target.
int posix_take_user_rights(PosixUserRights* saved);
// Gives the thread back what posix_take_user_rights saved.
void posix_give_back_rights(PosixUserRights* saved);
