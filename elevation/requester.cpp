#include "elevation/requester.h"

#include <bit>
#include <cstring>

#include "base/format.h"
#include "base/relay_trailer.h"
#include "base/reports.h"
#include "base/text.h"

// The frame's count and text travel little-endian, as the units are held.
static_assert(std::endian::native == std::endian::little);

namespace {

const wchar kPipeNameFormat[] = u"\\\\.\\pipe\\morla-uac-pipe-%08x";
enum : uint32_t {
    OWN_PATH_UNITS = 256,
    COPY_CHUNK_BYTES = 1024,
};

void make_pipe_name(wchar* name) {
    uintptr_t context = 0;
    if (!platform_crypt_acquire_context(&context)) fatal_report(u"Crypto");
    uint8_t bytes[4];
    if (!platform_crypt_gen_random(context, sizeof bytes, bytes)) fatal_report(u"CryptGenRandom");
    uint32_t value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                     uint32_t(bytes[3]) << 24;
    format_counted(name, RELAY_PIPE_NAME_UNITS, kPipeNameFormat, value);
    platform_crypt_release_context(context);
}

// Starts the relay elevated and waits until it has connected. A launch that
// fails, is declined or ends before connecting leaves no client to wait for.
void launch_relay(Handle pipe, const wchar* pipe_name) {
    wchar own_path[OWN_PATH_UNITS];
    uint32_t units = platform_get_module_file_name(own_path, OWN_PATH_UNITS);
    // A path cut short would launch some other file, or none.
    if (units == 0 || units >= OWN_PATH_UNITS) fatal_report(u"GetModuleFileName");
    Handle launched = nullptr;
    if (!platform_shell_execute_runas(own_path, pipe_name, &launched))
        fatal_report(u"ShellExecuteEx");
    int connected = platform_connect_named_pipe(pipe, launched);
    if (connected < 0) fatal_report(u"ShellExecuteEx");
    if (connected == 0 && platform_last_error() != ERROR_CODE_PIPE_CONNECTED)
        fatal_report(u"ConnectNamedPipe");
}

// A write that failed or took less than offered ends the requester.
void check_written(int ok, uint32_t written, uint32_t size) {
    if (!ok) fatal_report(u"WriteFile");
    // Taking less than offered sets no error; the report must not show 0.
    if (written != size) {
        platform_set_last_error(platform_error_stream_ended);
        fatal_report(u"WriteFile");
    }
}

// The relay may refuse the line and end before it has read all of it:
// false then, and what it said and how it ended are read as ever.
bool send_whole(Handle pipe, const void* bytes, uint32_t size) {
    uint32_t written = 0;
    int ok = platform_write_file(pipe, bytes, size, &written);
    if (!ok && platform_reader_gone(platform_last_error())) return false;
    check_written(ok, written, size);
    return true;
}

void send_command_line(Handle pipe) {
    const wchar* line = platform_get_command_line();
    uint32_t units = uint32_t(text_length(line));
    uint8_t count[4] = {uint8_t(units), uint8_t(units >> 8), uint8_t(units >> 16),
                        uint8_t(units >> 24)};
    if (send_whole(pipe, count, sizeof count))
        send_whole(pipe, line, units * uint32_t(sizeof(wchar)));
}

// Each chunk goes straight to the standard output handle, past the buffered
// stream, so the worker's output shows as it comes. A reader that went away
// ends the requester at once and quietly, as it ends a search; the worker
// then finds nobody listening and ends too.
void write_out(Handle out, const uint8_t* bytes, uint32_t size) {
    if (size == 0) return;
    uint32_t written = 0;
    int ok = platform_write_file(out, bytes, size, &written);
    if (!ok && platform_reader_gone(platform_last_error()))
        platform_exit_process(platform_last_error());
    check_written(ok, written, size);
}

// The worker's trailer is held back, never printed; the status is the
// worker's when a whole trailer ended the stream. Otherwise the worker did
// not finish: its last line is ended, so the message stands on its own.
int copy_to_standard_output(Handle pipe) {
    Handle out = platform_get_std_output();
    uint8_t chunk[COPY_CHUNK_BYTES];
    uint8_t trailer[RELAY_TRAILER_BYTES];
    uint32_t trailer_bytes = 0;
    bool line_open = false;
    for (;;) {
        uint32_t got = 0;
        // A failed read is the normal end: the worker and the relay are gone.
        if (!platform_read_file(pipe, chunk, sizeof chunk, &got) || got == 0) break;
        uint32_t text = got;
        if (trailer_bytes == 0) {
            const void* nul = std::memchr(chunk, 0, got);
            if (nul) text = uint32_t(static_cast<const uint8_t*>(nul) - chunk);
            write_out(out, chunk, text);
            if (text) line_open = chunk[text - 1] != '\n';
        } else {
            text = 0;
        }
        for (uint32_t i = text; i < got; ++i) {
            // More than a trailer: not one.
            if (trailer_bytes < RELAY_TRAILER_BYTES) trailer[trailer_bytes] = chunk[i];
            if (trailer_bytes <= RELAY_TRAILER_BYTES) ++trailer_bytes;
        }
    }
    uint32_t status = 0;
    if (read_relay_trailer(trailer, trailer_bytes, &status)) return int(status);
    if (line_open) write_out(out, reinterpret_cast<const uint8_t*>("\n"), 1);
    print_err(u"The elevated search ended before it finished\n");
    return EXIT_RELAY_UNFINISHED;
}

}  // namespace

int run_requester() {
    wchar pipe_name[RELAY_PIPE_NAME_UNITS];
    make_pipe_name(pipe_name);
    Handle pipe = platform_create_named_pipe(pipe_name);
    if (pipe == INVALID_HANDLE) fatal_report(u"CreateNamedPipe");
    launch_relay(pipe, pipe_name);
    send_command_line(pipe);
    return copy_to_standard_output(pipe);
}

void requester_entry() {
    int status = run_requester();
    deliver_output();
    platform_exit_process(uint32_t(status));
}
