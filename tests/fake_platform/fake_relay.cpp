// Fake relay operations: random bytes, the pipe, the launch, the worker and
// the standard output handle, as the test sets them, every call logged.
#include <cstring>

#include "base/relay_trailer.h"
#include "tests/fake_platform/fake_platform.h"

std::vector<std::string> fake_elevation_calls;
uint32_t fake_crypt_error, fake_random_error, fake_create_pipe_error, fake_module_error,
    fake_launch_error, fake_open_pipe_error, fake_create_worker_error;
uint8_t fake_random_bytes[4];
std::u16string fake_module_path;
int fake_connect_result;
uint32_t fake_connect_error;
std::u16string fake_command_line;
std::deque<std::string> fake_pipe_input;
uint32_t fake_read_end_error;
std::vector<FakeWrite> fake_writes;
int fake_failing_write, fake_short_write;
uint32_t fake_write_error;
std::u16string fake_worker_command_line;

// The fake platform's last-error numbers are those of Windows.
const uint32_t platform_error_stream_ended = 109;
const uint32_t platform_error_frame_too_long = 13;
const uint32_t platform_error_out_of_memory = 8;
const uint32_t platform_error_corrupt_data = 1392;

const char* fake_rights_handle_name(Handle handle);

namespace {

int server_pipe, client_pipe, standard_output, launched_process, worker_process, worker_thread;

std::string narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? char(c) : '?';
    return out;
}

int fail(uint32_t error) {
    platform_set_last_error(error);
    return 0;
}

}  // namespace

void fake_reset_relay() {
    fake_elevation_calls.clear();
    fake_crypt_error = fake_random_error = fake_create_pipe_error = fake_module_error = 0;
    fake_launch_error = fake_open_pipe_error = fake_create_worker_error = 0;
    const uint8_t bytes[4] = {0x78, 0x56, 0x34, 0x12};
    std::memcpy(fake_random_bytes, bytes, 4);
    fake_module_path = u"C:\\Tools\\morla.exe";
    fake_connect_result = 1;
    fake_connect_error = 0;
    fake_relay_worker = 0;
    fake_command_line = u"morla *.doc C";
    fake_pipe_input.clear();
    fake_read_end_error = 109;
    fake_writes.clear();
    fake_failing_write = fake_short_write = -1;
    fake_write_error = 232;
    fake_worker_command_line.clear();
}

void fake_note_close(Handle handle) {
    const char* what = fake_rights_handle_name(handle);
    if (handle == &worker_process) what = "worker process";
    if (handle == &worker_thread) what = "worker thread";
    if (handle == &server_pipe || handle == &client_pipe) what = "pipe";
    if (what) fake_elevation_calls.push_back(std::string("CloseHandle ") + what);
}

int platform_crypt_acquire_context(uintptr_t* context) {
    fake_elevation_calls.push_back("Crypto");
    if (fake_crypt_error) return fail(fake_crypt_error);
    *context = 42;
    return 1;
}

int platform_crypt_gen_random(uintptr_t context, uint32_t length, uint8_t* buffer) {
    fake_elevation_calls.push_back("CryptGenRandom");
    if (context != 42 || length != 4) return fail(87);
    if (fake_random_error) return fail(fake_random_error);
    std::memcpy(buffer, fake_random_bytes, 4);
    return 1;
}

int platform_crypt_release_context(uintptr_t) {
    fake_elevation_calls.push_back("CryptReleaseContext");
    return 1;
}

Handle platform_create_named_pipe(const wchar* name) {
    fake_elevation_calls.push_back("CreateNamedPipe " + narrow(name));
    if (fake_create_pipe_error) return fail(fake_create_pipe_error), INVALID_HANDLE;
    return &server_pipe;
}

uint32_t platform_get_module_file_name(wchar* buffer, uint32_t capacity) {
    fake_elevation_calls.push_back("GetModuleFileName");
    if (fake_module_error) return uint32_t(fail(fake_module_error));
    if (fake_module_path.size() >= capacity) {
        fake_module_path.copy(buffer, capacity - 1);
        buffer[capacity - 1] = 0;
        platform_set_last_error(122);
        return capacity;
    }
    fake_module_path.copy(buffer, fake_module_path.size());
    buffer[fake_module_path.size()] = 0;
    return uint32_t(fake_module_path.size());
}

int platform_shell_execute_runas(const wchar* file, const wchar* parameters, Handle* process) {
    fake_elevation_calls.push_back("ShellExecuteEx " + narrow(file) + " | " + narrow(parameters));
    if (fake_launch_error) return fail(fake_launch_error);
    *process = &launched_process;
    return 1;
}

int platform_connect_named_pipe(Handle pipe, Handle launched) {
    fake_elevation_calls.push_back("ConnectNamedPipe");
    if (pipe != &server_pipe || launched != &launched_process) return fail(6);
    if (fake_connect_result != 1) platform_set_last_error(fake_connect_error);
    return fake_connect_result;
}

const wchar* platform_get_command_line() {
    fake_elevation_calls.push_back("GetCommandLine");
    return fake_command_line.c_str();
}

Handle platform_get_std_output() {
    fake_elevation_calls.push_back("GetStdHandle");
    return &standard_output;
}

int platform_read_file(Handle file, void* buffer, uint32_t size, uint32_t* done) {
    *done = 0;
    if (file != &server_pipe && file != &client_pipe) return fail(6);
    if (fake_pipe_input.empty()) return fake_read_end_error ? fail(fake_read_end_error) : 1;
    std::string& chunk = fake_pipe_input.front();
    size_t take = chunk.size() < size ? chunk.size() : size;
    std::memcpy(buffer, chunk.data(), take);
    chunk.erase(0, take);
    if (chunk.empty()) fake_pipe_input.pop_front();
    *done = uint32_t(take);
    return 1;
}

int platform_write_file(Handle file, const void* buffer, uint32_t size, uint32_t* done) {
    *done = 0;
    int number = int(fake_writes.size());
    std::string target = file == &standard_output ? "stdout"
                         : file == &server_pipe   ? "pipe"
                                                  : "";
    if (target.empty()) return fail(6);
    if (number == fake_failing_write) {
        fake_writes.push_back({target, ""});
        return fail(fake_write_error);
    }
    uint32_t stored = number == fake_short_write && size ? size - 1 : size;
    fake_writes.push_back({target, std::string(static_cast<const char*>(buffer), stored)});
    *done = stored;
    return 1;
}

Handle platform_open_pipe_client(const wchar* name) {
    fake_elevation_calls.push_back("OpenPipe " + narrow(name));
    if (fake_open_pipe_error) return fail(fake_open_pipe_error), INVALID_HANDLE;
    return &client_pipe;
}

int platform_create_worker(const wchar* program, wchar* command_line, Handle pipe,
                           Handle* process, Handle* thread) {
    fake_elevation_calls.push_back("CreateProcess " + narrow(program) + " | " +
                                   narrow(command_line));
    fake_worker_command_line = command_line;
    if (pipe != &client_pipe) return fail(6);
    if (fake_create_worker_error) return fail(fake_create_worker_error);
    *process = &worker_process;
    *thread = &worker_thread;
    return 1;
}

int fake_relay_worker;
std::string fake_trailer(uint32_t status) {
    uint8_t bytes[RELAY_TRAILER_BYTES];
    make_relay_trailer(status, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}
int platform_relay_worker() { return fake_relay_worker; }

int platform_free_console() {
    fake_elevation_calls.push_back("FreeConsole");
    return 1;
}
