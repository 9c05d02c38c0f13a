// Standard streams on Windows. A console gets the text through its
// wide-character output, so that every character shows; a file or pipe gets
// UTF-8 through the C runtime's stream in text mode, which writes each line
// feed as CR LF and buffers as it always does (blocks to files and pipes,
// delivered at exit or by platform_flush).
#include <cstdio>
#include <io.h>
#include <windows.h>

#include "platform/windows/text_out.h"

namespace {

enum Route : int { ROUTE_UNKNOWN, ROUTE_CONSOLE, ROUTE_BUFFER };

struct StreamState {
    Route route;
    SurrogateCarry carry;
};

StreamState states[2];  // standard output, standard error

// Text is handled in slices so that every work buffer lives on the stack.
const size_t kSlice = 512;

FILE* file_of(int stream) { return stream == STREAM_OUT ? stdout : stderr; }
StreamState* state_of(int stream) { return &states[stream == STREAM_OUT ? 0 : 1]; }

HANDLE handle_of(FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

// The handle behind the C runtime's stream decides: a console answers the
// console-mode query, a file or pipe does not.
Route find_route(FILE* file) {
    HANDLE handle = handle_of(file);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) return ROUTE_CONSOLE;
    return ROUTE_BUFFER;
}

// The C runtime leaves the system's code of the write that failed as the
// last error.
bool write_buffered(FILE* file, const wchar* units, size_t count) {
    char bytes[3 * (kSlice + 1)];
    size_t n = encode_utf8(units, count, bytes);
    return std::fwrite(bytes, 1, n, file) == n;
}

bool write_console_all(HANDLE console, const wchar* units, size_t count) {
    while (count) {
        DWORD written = 0;
        if (!WriteConsoleW(console, reinterpret_cast<const wchar_t*>(units), DWORD(count), &written,
                           nullptr) ||
            written == 0)
            return false;
        units += written;
        count -= written;
    }
    return true;
}

// Writes piece by piece to the console. Returns how many units were
// delivered; fewer than count means the console refused the rest.
size_t write_console(FILE* file, const wchar* units, size_t count) {
    // Whatever the C runtime still holds for this stream must come first.
    std::fflush(file);
    HANDLE console = handle_of(file);
    size_t start = 0;
    while (start < count) {
        wchar piece[CONSOLE_PIECE_ROOM];
        size_t n = 0;
        size_t end = console_piece(units, count, start, piece, &n);
        if (!write_console_all(console, piece, n)) return start;
        start = end;
    }
    return count;
}

bool deliver(int stream, const wchar* units, size_t count) {
    FILE* file = file_of(stream);
    StreamState* state = state_of(stream);
    if (state->route == ROUTE_UNKNOWN) state->route = find_route(file);
    if (state->route == ROUTE_CONSOLE) {
        size_t done = write_console(file, units, count);
        if (done == count) return true;
        // A console that stops taking text: the rest goes the buffered way.
        state->route = ROUTE_BUFFER;
        units += done;
        count -= done;
    }
    return write_buffered(file, units, count);
}

}  // namespace

int platform_write_text(int stream, const wchar* units, size_t count) {
    StreamState* state = state_of(stream);
    // The results before a message go out first, and the message at once
    // (the C runtime buffers standard error to a pipe too): each result is
    // printed whole, so where both streams lead to one pipe (the relay's
    // worker, 2>&1) the message lands between whole lines, where it was
    // printed. Which handles share a pipe cannot be told here; messages are few.
    const bool message = stream == STREAM_ERR;
    if (message && std::fflush(stdout) != 0) return 0;
    while (count) {
        size_t take = count < kSlice ? count : kSlice;
        wchar mended[kSlice + 1];
        size_t n = mend_utf16(&state->carry, units, take, mended);
        if (n && !deliver(stream, mended, n)) return 0;
        units += take;
        count -= take;
    }
    return message && std::fflush(stderr) != 0 ? 0 : 1;
}

int platform_flush(int stream) {
    wchar rest[1];
    if (release_carry(&state_of(stream)->carry, rest) && !deliver(stream, rest, 1)) return 0;
    return std::fflush(file_of(stream)) == 0 ? 1 : 0;
}

int platform_reader_gone(uint32_t code) {
    return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED;
}
