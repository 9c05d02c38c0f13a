// Standard streams: UTF-16 text written as UTF-8 through stdio's buffers.
#include <cstdio>

#include "platform/posix/utf8.h"

void platform_write_text(int stream, const wchar* units, size_t count) {
    FILE* file = stream == STREAM_OUT ? stdout : stderr;
    char bytes[3 * 512];
    while (count) {
        size_t take = count < 512 ? count : 512;
        // Keep a surrogate pair together across chunks.
        if (take < count && units[take - 1] >= 0xD800 && units[take - 1] <= 0xDBFF) --take;
        size_t n = utf16_to_utf8(units, take, bytes);
        std::fwrite(bytes, 1, n, file);
        units += take;
        count -= take;
    }
}

void platform_flush(int stream) { std::fflush(stream == STREAM_OUT ? stdout : stderr); }
