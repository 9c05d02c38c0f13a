// Stands in for the console's wide text output on standard output and
// standard error: on Linux, UTF-16 text written as UTF-8 through stdio's
// buffers, and EPIPE or ECONNRESET as the reader that went away.
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/failure.h"
#include "platform/posix/utf8.h"

namespace {

FILE* file_of(int stream) { return stream == STREAM_OUT ? stdout : stderr; }

// Whether standard output and standard error lead to one file, pipe or
// socket (2>&1, the relay's worker). Standard output is written in large
// blocks that end anywhere, standard error at once, so a message could land
// inside a result line.
bool streams_shared() {
    static const bool shared = [] {
        struct stat out, err;
        return fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 &&
               out.st_dev == err.st_dev && out.st_ino == err.st_ino;
    }();
    return shared;
}

}  // namespace

int platform_write_text(int stream, const wchar* units, size_t count) {
    FILE* file = file_of(stream);
    // The results before a message go out first: they are whole lines (each
    // is printed whole before anything else is), and the message keeps its
    // place among them.
    if (stream == STREAM_ERR && streams_shared() && std::fflush(stdout) != 0)
        return posix_fail(errno);
    char bytes[3 * 512];
    while (count) {
        size_t take = count < 512 ? count : 512;
        // Keep a surrogate pair together across chunks.
        if (take < count && units[take - 1] >= 0xD800 && units[take - 1] <= 0xDBFF) --take;
        size_t n = utf16_to_utf8(units, take, bytes);
        if (std::fwrite(bytes, 1, n, file) != n) return posix_fail(errno);
        units += take;
        count -= take;
    }
    return 1;
}

int platform_flush(int stream) { return std::fflush(file_of(stream)) == 0 ? 1 : posix_fail(errno); }

int platform_reader_gone(uint32_t code) { return code == EPIPE || code == ECONNRESET; }
