// Stands in for GetLastError and SetLastError, FormatMessageW, LocalAlloc,
// LocalSize and LocalFree, MessageBoxW and ExitProcess. On Linux the last
// error is an errno value kept in a variable, the system's text is
// strerror's, the local blocks are malloc's with their size in front, the
// message box's text goes to standard error, and the exit waits for the sudo
// this process launched before _exit.
#include "platform/posix/failure.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "platform/posix/relay/launch.h"
#include "platform/posix/utf8.h"

// The codes of failures Morla notices itself.
const uint32_t platform_error_stream_ended = EPIPE;
const uint32_t platform_error_frame_too_long = E2BIG;
const uint32_t platform_error_out_of_memory = ENOMEM;
// What Linux file systems answer for a structure that contradicts itself.
const uint32_t platform_error_corrupt_data = EUCLEAN;

namespace {
uint32_t last_error = 0;

// LocalAlloc blocks carry their size in front, for LocalSize.
struct LocalHeader {
    size_t size;
    size_t pad;  // keeps the block 16-byte aligned
};
}  // namespace

uint32_t platform_last_error() { return last_error; }
void platform_set_last_error(uint32_t code) { last_error = code; }

void* platform_local_alloc_zeroed(size_t bytes) {
    LocalHeader* block = static_cast<LocalHeader*>(std::calloc(1, sizeof(LocalHeader) + bytes));
    if (!block) {
        posix_fail(ENOMEM);
        return nullptr;
    }
    block->size = bytes;
    return block + 1;
}

size_t platform_local_size(void* block) {
    return block ? (static_cast<LocalHeader*>(block) - 1)->size : 0;
}

void platform_local_free(void* block) {
    if (block) std::free(static_cast<LocalHeader*>(block) - 1);
}

uint32_t platform_format_message(uint32_t, uint32_t code, wchar** text) {
    // strerror's text with a line end, like the system texts of Windows.
    const char* message = std::strerror(int(code));
    size_t bytes = std::strlen(message);
    wchar* units = static_cast<wchar*>(platform_local_alloc_zeroed((bytes + 2) * sizeof(wchar)));
    *text = units;
    if (!units) return 0;
    size_t n = utf8_to_utf16(message, bytes, units);
    units[n++] = u'\n';
    units[n] = 0;
    return uint32_t(n);
}

void platform_message_box(const wchar* text, const wchar* caption) {
    (void)caption;
    // No window on Linux: the box's text goes to standard error.
    platform_write_text(STREAM_ERR, u"Error: ", 7);
    size_t n = 0;
    while (text[n]) ++n;
    platform_write_text(STREAM_ERR, text, n);
}

void platform_exit_process(uint32_t code) {
    posix_wait_for_launcher();
    _exit(int(code));
}
