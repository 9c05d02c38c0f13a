// No Windows operation of its own: under sudo, the file-system rights of the
// user who ran it (setfsuid, setfsgid and the thread's groups, without any
// effective capability), taken around the drive map's look-ups and the
// opening of image files.
#include "platform/posix/rights/user_rights.h"

#include <cerrno>
#include <cstdlib>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const char* const kAdministratorsGroups[] = {"sudo", "wheel", "admin"};

enum Standing { ROOTS_RIGHTS, USERS_RIGHTS, UNKNOWN_USER };

struct InvokingUser {
    Standing standing;
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
};

// The groups the group database gives the user, their primary group first.
std::vector<gid_t> groups_of(const passwd* entry, gid_t gid) {
    if (!entry) return {gid};
    int count = 32;
    std::vector<gid_t> groups;
    for (int tries = 0; tries < 8; ++tries) {
        groups.resize(size_t(count));
        int asked = count;
        if (getgrouplist(entry->pw_name, gid, groups.data(), &count) >= 0) {
            groups.resize(size_t(count));
            return groups;
        }
        if (count <= asked) count = asked * 2;
    }
    return {gid};
}

// Who ran sudo, looked up once while the process still has root's rights.
InvokingUser invoking_user() {
    InvokingUser user{ROOTS_RIGHTS, 0, 0, {}};
    // Not root: the process's own rights apply anyway. Root without sudo is
    // root; root that set SUDO_UID itself is taken at its word.
    const char* named = std::getenv("SUDO_UID");
    if (getuid() != 0 || geteuid() != 0 || !named || !*named) return user;
    unsigned uid = 0, gid = 0;
    if (!posix_sudo_id("SUDO_UID", &uid)) return InvokingUser{UNKNOWN_USER, 0, 0, {}};
    if (uid == 0) return user;
    const passwd* entry = getpwuid(uid_t(uid));
    if (!posix_sudo_id("SUDO_GID", &gid)) {
        if (!entry) return InvokingUser{UNKNOWN_USER, 0, 0, {}};
        gid = entry->pw_gid;
    }
    user.uid = uid_t(uid);
    user.gid = gid_t(gid);
    user.groups = groups_of(entry, user.gid);
    if (!posix_in_administrators_group(user.groups)) user.standing = USERS_RIGHTS;
    return user;
}

// The kernel keeps credentials per thread; glibc's setgroups would hand the
// change to every thread of the process, the raw call keeps it to this one.
int set_thread_groups(const std::vector<gid_t>& groups) {
    return int(syscall(SYS_setgroups, groups.size(), groups.data()));
}

// The thread's capabilities, through the raw calls, which act on the calling
// thread alone (pid 0).
int thread_capabilities(__user_cap_data_struct data[2]) {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    return int(syscall(SYS_capget, &header, data));
}

int set_thread_effective(__user_cap_data_struct data[2], const uint32_t effective[2]) {
    data[0].effective = effective[0];
    data[1].effective = effective[1];
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    return int(syscall(SYS_capset, &header, data));
}

}  // namespace

bool posix_in_administrators_group(const std::vector<gid_t>& groups) {
    for (const char* name : kAdministratorsGroups) {
        const group* entry = getgrnam(name);
        if (!entry) continue;
        for (gid_t gid : groups)
            if (gid == entry->gr_gid) return true;
    }
    return false;
}

bool posix_sudo_id(const char* variable, unsigned* id) {
    const char* text = std::getenv(variable);
    if (!text || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, 10);
    if (errno || *end || value != unsigned(value) || unsigned(value) == unsigned(-1)) return false;
    *id = unsigned(value);
    return true;
}

int posix_take_user_rights(PosixUserRights* saved) {
    saved->taken = false;
    static const InvokingUser user = invoking_user();
    if (user.standing == ROOTS_RIGHTS) return 1;
    if (user.standing == UNKNOWN_USER) {
        errno = EACCES;
        return 0;
    }
    int count = getgroups(0, nullptr);
    if (count < 0) return 0;
    saved->groups.resize(size_t(count));
    if (getgroups(count, saved->groups.data()) != count) return 0;
    // An id that cannot be set leaves the current one, which -1 reads back.
    saved->uid = uid_t(setfsuid(uid_t(-1)));
    saved->gid = gid_t(setfsgid(gid_t(-1)));
    __user_cap_data_struct capabilities[2] = {};
    if (thread_capabilities(capabilities) != 0) return 0;
    saved->effective[0] = capabilities[0].effective;
    saved->effective[1] = capabilities[1].effective;
    // Groups first, while the thread may still set them.
    if (set_thread_groups(user.groups) != 0) return 0;
    saved->taken = true;
    setfsgid(user.gid);
    setfsuid(user.uid);
    // The new file-system ids drop only the file-system capabilities; the
    // rest (tracing above all, which opens /proc/PID/cwd and /proc/PID/root
    // of every process) would still take a path where the user cannot go.
    const uint32_t none[2] = {0, 0};
    if (uid_t(setfsuid(uid_t(-1))) != user.uid || gid_t(setfsgid(gid_t(-1))) != user.gid ||
        set_thread_effective(capabilities, none) != 0) {
        posix_give_back_rights(saved);
        errno = EPERM;
        return 0;
    }
    return 1;
}

void posix_give_back_rights(PosixUserRights* saved) {
    if (!saved->taken) return;
    int error = errno;
    // Capabilities first: setting the groups needs them.
    __user_cap_data_struct capabilities[2] = {};
    if (thread_capabilities(capabilities) == 0) set_thread_effective(capabilities, saved->effective);
    setfsuid(saved->uid);
    setfsgid(saved->gid);
    set_thread_groups(saved->groups);
    saved->taken = false;
    errno = error;
}
