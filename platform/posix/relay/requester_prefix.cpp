// No Windows operation of its own: a worker on Windows sees the requester's
// drives as the user's session shows them. On Linux the relay (root) reads
// the requester's drive map (its WINEPREFIX or HOME) from the requester's own
// /proc environment rather than from anything passed through sudo: no rule
// for Morla needs to let the user set the environment of a root process.
#include "platform/posix/relay/requester_prefix.h"

#include <fcntl.h>
#include <string>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/failure.h"
#include "platform/posix/key_value.h"

namespace {

// Far beyond any real environment; a larger one is refused, not read on.
const size_t kEnvironmentLimit = 4 << 20;

int read_all(int fd, std::string* text) {
    char chunk[65536];
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return 0;
        if (got == 0) return 1;
        if (text->size() + size_t(got) > kEnvironmentLimit) return posix_fail(E2BIG);
        text->append(chunk, size_t(got));
    }
}

// The environment of the process whose /proc folder is open, which must
// belong to uid.
int read_environment(int process, uid_t uid, std::string* environment) {
    struct stat owner;
    if (fstat(process, &owner) != 0) return 0;
    if (owner.st_uid != uid) return posix_fail(EACCES);
    int fd = openat(process, "environ", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    int ok = read_all(fd, environment);
    int error = errno;
    close(fd);
    errno = error;
    return ok;
}

// The prefix folder the process's environment names, made absolute against
// its working directory; empty when it names none.
int prefix_of(int process, uid_t uid, std::string* prefix) {
    std::string environment;
    if (!read_environment(process, uid, &environment)) return 0;
    // The same rule the requester itself follows to find its drives.
    std::string folder = posix_key_value(environment, "WINEPREFIX", '\0');
    if (folder.empty()) {
        std::string home = posix_key_value(environment, "HOME", '\0');
        if (!home.empty()) folder = home + "/.wine";
    }
    if (!folder.empty() && folder[0] != '/') {
        std::string cwd(4096, '\0');
        ssize_t n = readlinkat(process, "cwd", cwd.data(), cwd.size());
        if (n < 0) return 0;
        if (size_t(n) == cwd.size() || cwd[0] != '/') return posix_fail(ENAMETOOLONG);
        folder = cwd.substr(0, size_t(n)) + "/" + folder;
    }
    *prefix = folder;
    return 1;
}

}  // namespace

int posix_requester_prefix(int socket, std::string* prefix) {
    ucred peer;
    socklen_t size = sizeof peer;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return 0;
    if (peer.pid <= 0) return posix_fail(ESRCH);
    // With the requester's own file-system identity the kernel lets the
    // relay read the requester's environment and folder as the requester
    // could, without asking for a privilege root may have been denied.
    gid_t old_gid = gid_t(setfsgid(peer.gid));
    uid_t old_uid = uid_t(setfsuid(peer.uid));
    int process = open(("/proc/" + std::to_string(peer.pid)).c_str(),
                       O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int ok = process >= 0 && prefix_of(process, peer.uid, prefix);
    int error = errno;
    if (process >= 0) close(process);
    setfsuid(old_uid);
    setfsgid(old_gid);
    errno = error;
    return ok;
}
