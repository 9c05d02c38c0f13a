// The relay pipe on Linux: a Unix stream socket in the abstract namespace,
// named after the pipe name, which anyone may see. Each end checks who is at
// the other: the requester takes only the elevated (root) relay its own
// launch started, the relay only the user who asked for elevation
// (SUDO_UID). The worker watches its end for the requester's hang-up.
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/processes.h"
#include "platform/posix/user_rights.h"
#include "platform/posix/utf8.h"

namespace {

enum : int { LAUNCH_POLL_MS = 100 };

Handle fail(int error) {
    errno = error;
    posix_set_last_error_from_errno();
    return INVALID_HANDLE;
}

// The abstract address: a NUL, then the name's UTF-8 bytes, no terminator.
bool pipe_address(const wchar* name, sockaddr_un* address, socklen_t* length) {
    size_t units = 0;
    while (name[units]) ++units;
    const std::string bytes = utf8_text(name, units);
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (bytes.size() + 1 > sizeof address->sun_path) return false;
    std::memcpy(address->sun_path + 1, bytes.data(), bytes.size());
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + bytes.size());
    return true;
}

// Sockets are kept above the standard descriptors, so that a process
// started with one of them closed never takes the pipe for standard output,
// and the worker's dup2 onto 0, 1 and 2 never meets the socket itself.
int above_standard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int error = errno;
    close(fd);
    errno = error;
    return moved;
}

Handle new_pipe_handle(int fd) {
    PosixHandle* record = static_cast<PosixHandle*>(std::malloc(sizeof(PosixHandle)));
    if (!record) {
        close(fd);
        return fail(ENOMEM);
    }
    record->kind = POSIX_PIPE;
    record->fd = fd;
    return record;
}

bool peer_credentials(int fd, ucred* credentials) {
    socklen_t size = sizeof *credentials;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, credentials, &size) == 0;
}

bool peer_uid(int fd, uid_t* uid) {
    ucred credentials;
    if (!peer_credentials(fd, &credentials)) return false;
    *uid = credentials.uid;
    return true;
}

// The parent of a process, from the field after its state in /proc/PID/stat
// (the name before it, in parentheses, may hold anything); 0 when unknown.
pid_t parent_of(pid_t pid) {
    int fd = open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[1024];
    ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) return 0;
    text[got] = '\0';
    const char* name_end = std::strrchr(text, ')');
    char state = 0;
    int parent = 0;
    if (!name_end || std::sscanf(name_end + 1, " %c %d", &state, &parent) != 2) return 0;
    return pid_t(parent);
}

// Whether the process is the launched one or descends from it: the relay
// sudo started, and nobody else, though any root process could connect.
// Until the launch has been waited for, its pid stands for it alone.
bool descends_from(pid_t pid, pid_t ancestor) {
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
        if (pid == ancestor) return true;
        pid = parent_of(pid);
    }
    return false;
}

bool launch_has_ended(PosixProcess* launched) {
    if (launched->pid < 0) return true;
    int status = 0;
    pid_t done = waitpid(launched->pid, &status, WNOHANG);
    if (done == 0) return false;
    launched->pid = -1;
    posix_launcher_waited_for();
    return true;
}

// The worker's standard input, output and error are the relay's end of the
// pipe, all three one and the same socket.
bool standard_handles_are_one_socket() {
    struct stat first;
    if (fstat(STDIN_FILENO, &first) != 0 || !S_ISSOCK(first.st_mode)) return false;
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat other;
        if (fstat(fd, &other) != 0 || other.st_dev != first.st_dev || other.st_ino != first.st_ino)
            return false;
    }
    return true;
}

// Waits for the requester's end to close (poll reports a hang-up whatever
// events are asked for) and ends the process as a failed write to a reader
// that went away would.
void* end_on_hang_up(void*) {
    for (;;) {
        pollfd socket = {STDOUT_FILENO, 0, 0};
        int count = poll(&socket, 1, -1);
        if (count < 0 && errno != EINTR) return nullptr;
        if (count > 0 && (socket.revents & (POLLHUP | POLLERR | POLLNVAL))) _exit(EPIPE);
    }
}

// Only the elevated relay the launch started is heard. Once the launch has
// ended and been waited for, its pid may stand for anyone: nobody is heard.
bool is_launched_relay(int client, const PosixProcess* launch) {
    ucred peer;
    if (!peer_credentials(client, &peer) || peer.uid != 0) return false;
    return !launch || (launch->pid > 0 && descends_from(peer.pid, launch->pid));
}

// Started through /proc/self/exe, the worker would show as "exe" in ps, top
// and pgrep; it takes its program file's name instead.
void name_after_program_file() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return;
    std::string name(path, size_t(n));
    const std::string deleted = " (deleted)";
    if (name.size() > deleted.size() &&
        name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
        name.resize(name.size() - deleted.size());
    name = name.substr(name.rfind('/') + 1);
    if (!name.empty()) prctl(PR_SET_NAME, name.substr(0, 15).c_str());
}

}  // namespace

void posix_start_relay_worker() {
    if (!standard_handles_are_one_socket()) return;
    name_after_program_file();
    pthread_t watcher;
    if (pthread_create(&watcher, nullptr, end_on_hang_up, nullptr) == 0) pthread_detach(watcher);
}

Handle platform_create_named_pipe(const wchar* name) {
    sockaddr_un address;
    socklen_t length;
    if (!pipe_address(name, &address, &length)) return fail(ENAMETOOLONG);
    int fd = above_standard(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd < 0) return fail(errno);
    // Binding fails with EADDRINUSE when the name exists: a first instance only.
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0) {
        int error = errno;
        close(fd);
        return fail(error);
    }
    return new_pipe_handle(fd);
}

int platform_connect_named_pipe(Handle pipe, Handle launched) {
    PosixHandle* server = static_cast<PosixHandle*>(pipe);
    PosixProcess* launch = launched && launched != INVALID_HANDLE
                               ? reinterpret_cast<PosixProcess*>(launched)
                               : nullptr;
    bool launch_ended = false;
    for (;;) {
        pollfd ready = {server->fd, POLLIN, 0};
        int timeout = !launch ? -1 : launch_ended ? 0 : LAUNCH_POLL_MS;
        int count = poll(&ready, 1, timeout);
        if (count < 0 && errno != EINTR) {
            fail(errno);
            return 0;
        }
        if (count > 0) {
            int client = above_standard(accept4(server->fd, nullptr, nullptr, SOCK_CLOEXEC));
            if (client < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
                fail(errno);
                return 0;
            }
            // Anyone else is closed unheard, and the wait goes on.
            if (!is_launched_relay(client, launch)) {
                close(client);
                continue;
            }
            // A single instance: nobody else can connect once the relay has.
            close(server->fd);
            server->fd = client;
            return 1;
        }
        if (count == 0 && launch) {
            if (launch_ended) {
                fail(ECANCELED);
                return -1;
            }
            // Once the launch has ended, one more look without waiting
            // catches a relay that connected just before.
            launch_ended = launch_has_ended(launch);
        }
    }
}

Handle platform_open_pipe_client(const wchar* name) {
    sockaddr_un address;
    socklen_t length;
    if (!pipe_address(name, &address, &length)) return fail(ENAMETOOLONG);
    int fd = above_standard(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd < 0) return fail(errno);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        int error = errno;
        close(fd);
        return fail(error);
    }
    // The user who asked for elevation, as the launcher names them.
    unsigned requester = 0;
    uid_t server = 0;
    if (!posix_sudo_id("SUDO_UID", &requester) || !peer_uid(fd, &server) || server != requester) {
        close(fd);
        return fail(EACCES);
    }
    return new_pipe_handle(fd);
}
