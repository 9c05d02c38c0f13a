#include "elevation/relay.h"

#include "base/heap.h"
#include "base/reports.h"

namespace {

enum : uint32_t { OWN_PATH_UNITS = 65536 };

// The relay's own program path; process-wide, too large for the stack.
wchar own_path[OWN_PATH_UNITS];

// Reads until size bytes have arrived; a pipe hands a frame over in pieces.
// 0 when the stream fails or ends first.
int read_whole(Handle pipe, uint8_t* bytes, uint32_t size) {
    while (size) {
        uint32_t got = 0;
        if (!platform_read_file(pipe, bytes, size, &got)) return 0;
        if (got == 0) {
            platform_set_last_error(platform_error_stream_ended);
            return 0;
        }
        bytes += got;
        size -= got;
    }
    return 1;
}

}  // namespace

wchar* receive_frame(Handle pipe, const wchar** failed_step) {
    uint8_t count[4];
    if (!read_whole(pipe, count, sizeof count)) {
        *failed_step = u"Read buffer size";
        return nullptr;
    }
    uint32_t units = uint32_t(count[0]) | uint32_t(count[1]) << 8 | uint32_t(count[2]) << 16 |
                     uint32_t(count[3]) << 24;
    // Longer than any command line: refused before it can size an allocation.
    if (units > MAX_COMMAND_LINE_UNITS) {
        platform_set_last_error(platform_error_frame_too_long);
        *failed_step = u"Read buffer size";
        return nullptr;
    }
    uint8_t* text = static_cast<uint8_t*>(heap_alloc((units + 1) * sizeof(wchar)));
    if (!text) {
        platform_set_last_error(platform_error_out_of_memory);
        *failed_step = u"Allocate command line";
        return nullptr;
    }
    if (!read_whole(pipe, text, units * uint32_t(sizeof(wchar)))) {
        // The report shows why the read failed, whatever freeing leaves.
        uint32_t error = platform_last_error();
        heap_free(text);
        platform_set_last_error(error);
        *failed_step = u"Read command line";
        return nullptr;
    }
    // The units arrive little-endian; each is rebuilt in its own two bytes.
    wchar* line = reinterpret_cast<wchar*>(text);
    for (uint32_t i = 0; i < units; ++i)
        line[i] = wchar(text[2 * i] | text[2 * i + 1] << 8);
    line[units] = 0;
    return line;
}

void run_relay(const wchar* pipe_name) {
    Handle pipe = platform_open_pipe_client(pipe_name);
    if (pipe == INVALID_HANDLE) message_box_report(u"Connect to pipe");
    const wchar* failed_step = nullptr;
    wchar* line = receive_frame(pipe, &failed_step);
    if (!line) message_box_report(failed_step);
    uint32_t units = platform_get_module_file_name(own_path, OWN_PATH_UNITS);
    // A path cut short would start some other file, or none.
    if (units == 0 || units >= OWN_PATH_UNITS) fatal_report(u"GetModuleFileName");
    Handle process = nullptr, thread = nullptr;
    if (!platform_create_worker(own_path, line, pipe, &process, &thread))
        message_box_report(u"Create worker process");
    platform_free_console();
    platform_close_handle(process);
    platform_close_handle(thread);
    heap_free(line);
}

void relay_entry(const wchar* pipe_name) {
    run_relay(pipe_name);
    // The worker holds the pipe on; the relay's own handle closes as it ends.
    platform_exit_process(0);
}
