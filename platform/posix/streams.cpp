// Standard streams: UTF-16 text written as UTF-8 through stdio's buffers.
#include <cerrno>
#include <cstdio>

#include "platform/posix/handles.h"
#include "platform/posix/utf8.h"

namespace {

FILE* file_of(int stream) { return stream == STREAM_OUT ? stdout : stderr; }

int failed() {
    posix_set_last_error_from_errno();
    return 0;
}

}  // namespace

int platform_write_text(int stream, const wchar* units, size_t count) {
    FILE* file = file_of(stream);
    char bytes[3 * 512];
    while (count) {
        size_t take = count < 512 ? count : 512;
        // Keep a surrogate pair together across chunks.
        if (take < count && units[take - 1] >= 0xD800 && units[take - 1] <= 0xDBFF) --take;
        size_t n = utf16_to_utf8(units, take, bytes);
        if (std::fwrite(bytes, 1, n, file) != n) return failed();
        units += take;
        count -= take;
    }
    return 1;
}

int platform_flush(int stream) { return std::fflush(file_of(stream)) == 0 ? 1 : failed(); }

int platform_reader_gone(uint32_t code) { return code == EPIPE || code == ECONNRESET; }
