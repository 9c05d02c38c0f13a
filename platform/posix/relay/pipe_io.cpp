// Stands in for GetStdHandle (standard output), ReadFile and WriteFile, as
// the relay uses them: on Linux, read and write on the descriptor of the
// relay's socket or of standard output, retried after a signal.
#include <csignal>
#include <unistd.h>

#include "platform/posix/failure.h"
#include "platform/posix/handles.h"

namespace {

int fd_of(Handle handle) {
    if (!handle || handle == INVALID_HANDLE) return -1;
    return static_cast<PosixHandle*>(handle)->fd;
}

// Standard output's handle is never closed; it lives as long as the process.
PosixHandle standard_output = {POSIX_FILE, STDOUT_FILENO};

}  // namespace

Handle platform_get_std_output() { return &standard_output; }

// A pipe whose other end has closed for good fails the read, as on Windows.
int platform_read_file(Handle file, void* buffer, uint32_t size, uint32_t* done) {
    *done = 0;
    for (;;) {
        ssize_t got = read(fd_of(file), buffer, size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return posix_fail(errno);
        if (got == 0 && size > 0) return posix_fail(EPIPE);
        *done = uint32_t(got);
        return 1;
    }
}

// A synchronous WriteFile writes everything or fails.
int platform_write_file(Handle file, const void* buffer, uint32_t size, uint32_t* done) {
    // A reader that went away fails the write instead of ending the process.
    static const bool sigpipe_ignored = (std::signal(SIGPIPE, SIG_IGN), true);
    (void)sigpipe_ignored;
    const char* bytes = static_cast<const char*>(buffer);
    *done = 0;
    while (*done < size) {
        ssize_t put = write(fd_of(file), bytes + *done, size - *done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return posix_fail(errno);
        *done += uint32_t(put);
    }
    return 1;
}
