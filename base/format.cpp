#include "base/format.h"

#include <cstdint>
#include <cstring>

#include "base/reports.h"
#include "base/safe_text.h"
#include "base/text.h"

namespace {

// Where formatted units go: a bounded buffer, or a stream through a chunk.
struct Sink {
    wchar* buffer;     // bounded buffer, or the chunk for a stream
    size_t capacity;
    size_t stored;     // units stored in buffer
    size_t length;     // units of the whole text
    int stream;        // 0 for a bounded buffer
    bool safe;         // "%s", "%.*s" and "%c" arguments go through copy_safe_text
};

// A failed write ends the run; nothing printed after it could be trusted.
void write_or_end(int stream, const wchar* units, size_t count) {
    if (!platform_write_text(stream, units, count)) output_failure_report();
}

// Writes a stream sink's full chunk out, keeping back a high surrogate that
// ends it: a pair must reach the stream in one write to stay one character.
void write_chunk(Sink* sink) {
    wchar last = sink->buffer[sink->stored - 1];
    bool hold = last >= 0xD800 && last <= 0xDBFF;
    write_or_end(sink->stream, sink->buffer, sink->stored - hold);
    sink->stored = 0;
    if (hold) sink->buffer[sink->stored++] = last;
}

void put(Sink* sink, const wchar* units, size_t count) {
    sink->length += count;
    if (sink->stream) {
        while (count) {
            if (sink->stored == sink->capacity) write_chunk(sink);
            size_t room = sink->capacity - sink->stored;
            size_t take = count < room ? count : room;
            std::memcpy(sink->buffer + sink->stored, units, take * sizeof(wchar));
            sink->stored += take;
            units += take;
            count -= take;
        }
        return;
    }
    for (size_t i = 0; i < count && sink->stored < sink->capacity; ++i)
        sink->buffer[sink->stored++] = units[i];
}

// An argument's text, made safe on its way into the chunk when the sink asks
// for it (only stream sinks do).
void put_argument(Sink* sink, const wchar* units, size_t count) {
    if (!sink->safe) return put(sink, units, count);
    sink->length += count;
    while (count) {
        if (sink->capacity - sink->stored < 2) write_chunk(sink);
        size_t took = copy_safe_text(units, count, sink->buffer + sink->stored,
                                     sink->capacity - sink->stored);
        sink->stored += took;
        units += took;
        count -= took;
    }
}

void put_ascii(Sink* sink, const char* text, size_t count) {
    wchar units[16];
    for (size_t i = 0; i < count; ++i) units[i] = wchar(uint8_t(text[i]));
    put(sink, units, count);
}

void format_into(Sink* sink, const wchar* format, va_list args) {
    const wchar* run = format;
    const wchar* p = format;
    while (*p) {
        if (*p != u'%') {
            ++p;
            continue;
        }
        put(sink, run, size_t(p - run));
        ++p;
        if (*p == u's') {
            const wchar* s = va_arg(args, const wchar*);
            put_argument(sink, s, text_length(s));
            ++p;
        } else if (*p == u'c') {
            // An empty argument's NUL is shown as nothing rather than as a NUL byte.
            wchar c = wchar(va_arg(args, int));
            if (c) put_argument(sink, &c, 1);
            ++p;
        } else if (p[0] == u'.' && p[1] == u'*' && p[2] == u's') {
            int count = va_arg(args, int);
            const wchar* s = va_arg(args, const wchar*);
            if (count > 0) put_argument(sink, s, size_t(count));
            p += 3;
        } else if (*p == u'd') {
            int32_t v = va_arg(args, int32_t);
            char digits[12];
            size_t n = 0;
            uint32_t magnitude = v < 0 ? uint32_t(0) - uint32_t(v) : uint32_t(v);
            do {
                digits[n++] = char('0' + magnitude % 10);
                magnitude /= 10;
            } while (magnitude);
            if (v < 0) digits[n++] = '-';
            char text[12];
            for (size_t i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
            put_ascii(sink, text, n);
            ++p;
        } else if (p[0] == u'0' && p[1] == u'8' && p[2] == u'x') {
            uint32_t v = va_arg(args, uint32_t);
            char text[8];
            for (int i = 7; i >= 0; --i, v >>= 4) text[i] = "0123456789abcdef"[v & 15];
            put_ascii(sink, text, 8);
            p += 3;
        } else if (*p == u'%') {
            put(sink, p, 1);
            ++p;
        } else {
            // Not a conversion Morla uses: written as it stands.
            put(sink, p - 1, 1);
        }
        run = p;
    }
    put(sink, run, size_t(p - run));
}

void print_with(int stream, bool safe, const wchar* format, va_list args) {
    wchar chunk[512];
    Sink sink{chunk, sizeof chunk / sizeof chunk[0], 0, 0, stream, safe};
    format_into(&sink, format, args);
    if (sink.stored) write_or_end(stream, chunk, sink.stored);
}

}  // namespace

size_t format_counted(wchar* buffer, size_t n, const wchar* format, ...) {
    Sink sink{buffer, n, 0, 0, 0, false};
    va_list args;
    va_start(args, format);
    format_into(&sink, format, args);
    va_end(args);
    if (sink.length < n) buffer[sink.length] = 0;
    return sink.length;
}

void format_terminated(wchar* buffer, size_t n, const wchar* format, ...) {
    if (n == 0) return;
    Sink sink{buffer, n - 1, 0, 0, 0, false};
    va_list args;
    va_start(args, format);
    format_into(&sink, format, args);
    va_end(args);
    buffer[sink.stored] = 0;
}

void print_stream_v(int stream, const wchar* format, va_list args) {
    print_with(stream, false, format, args);
}

void print_stream(int stream, const wchar* format, ...) {
    va_list args;
    va_start(args, format);
    print_with(stream, false, format, args);
    va_end(args);
}

void print_stream_safe(int stream, const wchar* format, ...) {
    va_list args;
    va_start(args, format);
    print_with(stream, true, format, args);
    va_end(args);
}
