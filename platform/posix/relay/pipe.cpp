// Stands in for CreateNamedPipeW, ConnectNamedPipe and CreateFileW on the
// pipe's name. On Linux the relay pipe is a Unix stream socket in the
// abstract namespace, named after the pipe name, which anyone may see. Each
// end checks who is at the other: the requester takes only the elevated
// (root) relay its own launch started, the relay only the user who asked for
// elevation (SUDO_UID). The relay proves where it came from with the bytes
// the launch gave it, or the requester sees it in /proc.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix/failure.h"
#include "platform/posix/handles.h"
#include "platform/posix/relay/launch.h"
#include "platform/posix/rights/user_rights.h"
#include "platform/posix/utf8.h"

namespace {

enum : int {
    LAUNCH_POLL_MS = 100,
    // The launch's pipe holds the proof before sudo starts; a pipe sudo puts
    // between (input logged) passes it on at once.
    PROOF_READ_MS = 2000,
    // The relay sends its proof right after connecting; a root process that
    // keeps silent keeps the real relay waiting only this long.
    PROOF_WAIT_MS = 5000,
};

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
    PosixHandle* record = posix_new_handle(POSIX_PIPE, fd);
    return record ? record : INVALID_HANDLE;
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

// Reads size bytes, for ms at most in all; the count read.
size_t read_within(int fd, uint8_t* bytes, size_t size, int ms) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + ms;
    size_t got = 0;
    while (got < size) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = deadline - (now.tv_sec * 1000LL + now.tv_nsec / 1000000);
        pollfd ready = {fd, POLLIN, 0};
        int count = left > 0 ? poll(&ready, 1, int(left)) : 0;
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        ssize_t piece = read(fd, bytes + got, size - got);
        if (piece < 0 && errno == EINTR) continue;
        if (piece <= 0) break;
        got += size_t(piece);
    }
    return got;
}

// The proof the launch left on the relay's standard input, sent on as the
// first bytes; zeros when it left none. Only a pipe is read: a terminal's
// lines are the user's.
bool send_launch_proof(int fd) {
    uint8_t proof[RELAY_PROOF_BYTES] = {};
    struct stat input;
    if (fstat(STDIN_FILENO, &input) == 0 && S_ISFIFO(input.st_mode) &&
        read_within(STDIN_FILENO, proof, sizeof proof, PROOF_READ_MS) != sizeof proof)
        std::memset(proof, 0, sizeof proof);
    return send(fd, proof, sizeof proof, MSG_NOSIGNAL) == ssize_t(sizeof proof);
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
// *hidden is set when /proc did not show the whole line (mounted hidepid).
bool descends_from(pid_t pid, pid_t ancestor, bool* hidden) {
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
        if (pid == ancestor) return true;
        pid = parent_of(pid);
    }
    if (pid == 0) *hidden = true;
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

// Only the elevated relay the launch started is heard: it sends the
// launch's proof, or /proc shows it descends from the launch. Once the launch
// has ended and been waited for, its pid may stand for anyone: nobody is
// heard on the pid alone. *hidden is set for a root process /proc hid the
// origin of.
bool is_launched_relay(int client, const PosixProcess* launch, bool* hidden) {
    ucred peer;
    if (!peer_credentials(client, &peer) || peer.uid != 0) return false;
    uint8_t proof[RELAY_PROOF_BYTES];
    if (read_within(client, proof, sizeof proof, PROOF_WAIT_MS) != sizeof proof) return false;
    if (!launch || posix_is_launch_proof(proof)) return true;
    return launch->pid > 0 && descends_from(peer.pid, launch->pid, hidden);
}

}  // namespace

Handle platform_create_named_pipe(const wchar* name) {
    sockaddr_un address;
    socklen_t length;
    if (!pipe_address(name, &address, &length)) return posix_fail<Handle>(ENAMETOOLONG);
    int fd = above_standard(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd < 0) return posix_fail<Handle>(errno);
    // Binding fails with EADDRINUSE when the name exists: a first instance only.
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0) {
        int error = errno;
        close(fd);
        return posix_fail<Handle>(error);
    }
    return new_pipe_handle(fd);
}

int platform_connect_named_pipe(Handle pipe, Handle launched) {
    PosixHandle* server = static_cast<PosixHandle*>(pipe);
    PosixProcess* launch = launched && launched != INVALID_HANDLE
                               ? reinterpret_cast<PosixProcess*>(launched)
                               : nullptr;
    bool launch_ended = false, hidden = false;
    for (;;) {
        pollfd ready = {server->fd, POLLIN, 0};
        int timeout = !launch ? -1 : launch_ended ? 0 : LAUNCH_POLL_MS;
        int count = poll(&ready, 1, timeout);
        if (count < 0 && errno != EINTR) {
            return posix_fail(errno);
        }
        if (count > 0) {
            int client = above_standard(accept4(server->fd, nullptr, nullptr, SOCK_CLOEXEC));
            if (client < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
                return posix_fail(errno);
            }
            // Anyone else is closed unheard, and the wait goes on.
            if (!is_launched_relay(client, launch, &hidden)) {
                close(client);
                continue;
            }
            // A single instance: nobody else can connect once the relay has.
            close(server->fd);
            server->fd = client;
            return 1;
        }
        if (count == 0 && launch) {
            // A relay that came but could not be told from a stranger is
            // no declined launch.
            if (launch_ended && hidden) return posix_fail(EACCES);
            if (launch_ended) {
                posix_fail(ECANCELED);
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
    if (!pipe_address(name, &address, &length)) return posix_fail<Handle>(ENAMETOOLONG);
    int fd = above_standard(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd < 0) return posix_fail<Handle>(errno);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        int error = errno;
        close(fd);
        return posix_fail<Handle>(error);
    }
    // The user who asked for elevation, as the launcher names them.
    unsigned requester = 0;
    uid_t server = 0;
    if (!posix_sudo_id("SUDO_UID", &requester) || !peer_uid(fd, &server) || server != requester) {
        close(fd);
        return posix_fail<Handle>(EACCES);
    }
    if (!send_launch_proof(fd)) {
        int error = errno;
        close(fd);
        return posix_fail<Handle>(error);
    }
    return new_pipe_handle(fd);
}
