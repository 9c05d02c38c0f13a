// No Windows operation of its own: the relay's worker ends when the
// requester hangs up, as a worker on Windows does at its next write to the
// broken pipe. On Linux a thread of the worker waits for the hang-up on its
// socket and ends the process, and the worker, started through
// /proc/self/exe, takes its program file's name.
#include "platform/posix/relay/worker.h"

#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_worker = false;

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

int platform_relay_worker() { return is_worker ? 1 : 0; }

void posix_start_relay_worker() {
    if (!standard_handles_are_one_socket()) return;
    is_worker = true;
    name_after_program_file();
    pthread_t watcher;
    if (pthread_create(&watcher, nullptr, end_on_hang_up, nullptr) == 0) pthread_detach(watcher);
}
