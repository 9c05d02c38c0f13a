// Random bytes, the program's own path, the command line, the standard output
// handle and pipe reads and writes, as Linux stand-ins.
#include <cerrno>
#include <csignal>
#include <string>
#include <sys/random.h>
#include <unistd.h>

#include "platform/posix/command_line.h"
#include "platform/posix/handles.h"
#include "platform/posix/process_args.h"
#include "platform/posix/utf8.h"

const uint32_t platform_error_stream_ended = EPIPE;
const uint32_t platform_error_frame_too_long = E2BIG;
const uint32_t platform_error_out_of_memory = ENOMEM;
// What Linux file systems answer for a structure that contradicts itself.
const uint32_t platform_error_corrupt_data = EUCLEAN;

namespace {

int fail_from_errno() {
    posix_set_last_error_from_errno();
    return 0;
}

int fd_of(Handle handle) {
    if (!handle || handle == INVALID_HANDLE) return -1;
    return static_cast<PosixHandle*>(handle)->fd;
}

// Standard output's handle is never closed; it lives as long as the process.
PosixHandle standard_output = {POSIX_FILE, STDOUT_FILENO};

// The program path GetModuleFileNameW's stand-in last gave out, whole.
std::u16string own_program_path;

}  // namespace

bool posix_names_own_program(const wchar* path) {
    return !own_program_path.empty() && own_program_path == path;
}

// getrandom needs no context; the context steps always succeed.
int platform_crypt_acquire_context(uintptr_t* context) {
    *context = 1;
    return 1;
}

int platform_crypt_gen_random(uintptr_t, uint32_t length, uint8_t* buffer) {
    while (length) {
        ssize_t got = getrandom(buffer, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail_from_errno();
        }
        buffer += got;
        length -= uint32_t(got);
    }
    return 1;
}

int platform_crypt_release_context(uintptr_t) { return 1; }

uint32_t platform_get_module_file_name(wchar* buffer, uint32_t capacity) {
    std::string path(256, '\0');
    for (;;) {
        ssize_t got = readlink("/proc/self/exe", path.data(), path.size());
        if (got < 0) return uint32_t(fail_from_errno());
        if (size_t(got) < path.size()) {
            path.resize(size_t(got));
            break;
        }
        path.resize(path.size() * 2);
    }
    std::u16string units = utf16_text(path);
    own_program_path = units;
    if (capacity == 0) {
        errno = EINVAL;
        return uint32_t(fail_from_errno());
    }
    // Cut short as GetModuleFileNameW does: the buffer filled, a NUL last.
    if (units.size() >= capacity) {
        units.copy(buffer, capacity - 1);
        buffer[capacity - 1] = 0;
        errno = ENAMETOOLONG;
        posix_set_last_error_from_errno();
        return capacity;
    }
    units.copy(buffer, units.size());
    buffer[units.size()] = 0;
    return uint32_t(units.size());
}

// The arguments joined once by the quoting rules the relay splits them by.
const wchar* platform_get_command_line() {
    static const std::u16string line = command_line_join(posix_process_argv, size_t(posix_process_argc));
    return line.c_str();
}

Handle platform_get_std_output() { return &standard_output; }

// A pipe whose other end has closed for good fails the read, as on Windows.
int platform_read_file(Handle file, void* buffer, uint32_t size, uint32_t* done) {
    *done = 0;
    for (;;) {
        ssize_t got = read(fd_of(file), buffer, size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return fail_from_errno();
        if (got == 0 && size > 0) {
            errno = EPIPE;
            return fail_from_errno();
        }
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
        if (put < 0) return fail_from_errno();
        *done += uint32_t(put);
    }
    return 1;
}
