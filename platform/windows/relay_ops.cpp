// The elevation relay's Win32 calls, with the records, flags and sizes the
// requester and the relay rely on.
#include <windows.h>

#include <shellapi.h>
#include <wincrypt.h>

#include "platform/platform.h"
#include "platform/windows/text_out.h"

static_assert(sizeof(SHELLEXECUTEINFOW) == 112);
static_assert(sizeof(STARTUPINFOW) == 104);
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24);
static_assert(sizeof(wchar_t) == sizeof(wchar));
static_assert((PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE) == 0x80003);
static_assert((PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT) == 0);
static_assert((CRYPT_VERIFYCONTEXT | CRYPT_SILENT) == 0xF0000040);
static_assert((STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW) == 0x101);
static_assert(CREATE_NO_WINDOW == 0x08000000);
static_assert(SW_SHOWMAXIMIZED == 3 && SW_HIDE == 0);

const uint32_t platform_error_stream_ended = ERROR_BROKEN_PIPE;
const uint32_t platform_error_frame_too_long = ERROR_INVALID_DATA;
const uint32_t platform_error_out_of_memory = ERROR_NOT_ENOUGH_MEMORY;
const uint32_t platform_error_corrupt_data = ERROR_FILE_CORRUPT;

namespace {

enum : DWORD {
    PIPE_BUFFER_BYTES = 0x100000,
    // While the launched process runs, its end is looked for this often.
    CANCEL_RETRY_MS = 20,
};

const wchar_t* wide(const wchar* text) { return reinterpret_cast<const wchar_t*>(text); }

// Watches the launched process while the main thread waits for a client:
// once the process has ended, the wait is cancelled, again and again until
// the main thread is out of it, since it may not have entered it yet.
struct LaunchWatch {
    HANDLE process;
    HANDLE waiting_thread;
    HANDLE done;  // set by the main thread once its wait is over
};

DWORD WINAPI watch_launch(void* parameter) {
    LaunchWatch* watch = static_cast<LaunchWatch*>(parameter);
    HANDLE events[2] = {watch->done, watch->process};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return 0;
    do CancelSynchronousIo(watch->waiting_thread);
    while (WaitForSingleObject(watch->done, CANCEL_RETRY_MS) == WAIT_TIMEOUT);
    return 0;
}

// Relayed output is the worker's UTF-8. A console would show those bytes in
// its own code page, so they are decoded and written as text; a character
// split between two pieces waits for its end. Only the requester's standard
// output is ever a console here.
Utf8Carry relayed_carry = {0, 0, 0x80, 0xBF};

int write_utf8_to_console(HANDLE console, const void* buffer, uint32_t size, uint32_t* done) {
    *done = 0;
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    for (uint32_t at = 0; at < size;) {
        const uint32_t piece = CONSOLE_PIECE_UNITS;
        const uint32_t take = size - at < piece ? size - at : piece;
        wchar units[CONSOLE_PIECE_UNITS + 1];
        size_t left = decode_utf8(&relayed_carry, bytes + at, take, units);
        for (const wchar* from = units; left;) {
            DWORD written = 0;
            if (!WriteConsoleW(console, reinterpret_cast<const wchar_t*>(from), DWORD(left), &written,
                               nullptr))
                return 0;
            if (written == 0) {
                SetLastError(ERROR_WRITE_FAULT);
                return 0;
            }
            from += written;
            left -= written;
        }
        at += take;
        *done = at;
    }
    return 1;
}

}  // namespace

int platform_crypt_acquire_context(uintptr_t* context) {
    HCRYPTPROV provider = 0;
    BOOL ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                                   CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
    *context = provider;
    return ok ? 1 : 0;
}

int platform_crypt_gen_random(uintptr_t context, uint32_t length, uint8_t* buffer) {
    return CryptGenRandom(HCRYPTPROV(context), length, buffer) ? 1 : 0;
}

int platform_crypt_release_context(uintptr_t context) {
    return CryptReleaseContext(HCRYPTPROV(context), 0) ? 1 : 0;
}

Handle platform_create_named_pipe(const wchar* name) {
    HANDLE pipe = CreateNamedPipeW(wide(name), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                   PIPE_BUFFER_BYTES, PIPE_BUFFER_BYTES, 0, nullptr);
    return pipe == INVALID_HANDLE_VALUE ? INVALID_HANDLE : pipe;
}

uint32_t platform_get_module_file_name(wchar* buffer, uint32_t capacity) {
    return GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), capacity);
}

// SEE_MASK_NOCLOSEPROCESS beside SEE_MASK_NOASYNC: the launched process's
// handle lets the requester notice a relay that ends without connecting.
int platform_shell_execute_runas(const wchar* file, const wchar* parameters, Handle* process) {
    SHELLEXECUTEINFOW launch = {};
    launch.cbSize = sizeof launch;
    launch.fMask = SEE_MASK_NOASYNC | SEE_MASK_NOCLOSEPROCESS;
    launch.hwnd = nullptr;
    launch.lpVerb = L"runas";
    launch.lpFile = wide(file);
    launch.lpParameters = wide(parameters);
    launch.lpDirectory = nullptr;
    launch.nShow = SW_SHOWMAXIMIZED;
    launch.hInstApp = nullptr;
    BOOL ok = ShellExecuteExW(&launch);
    *process = ok ? launch.hProcess : nullptr;
    return ok ? 1 : 0;
}

int platform_connect_named_pipe(Handle pipe, Handle launched) {
    LaunchWatch watch = {launched, nullptr, nullptr};
    HANDLE watcher = nullptr;
    if (launched && launched != INVALID_HANDLE &&
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                        &watch.waiting_thread, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        watch.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (watch.done) watcher = CreateThread(nullptr, 0, watch_launch, &watch, 0, nullptr);
    }
    // Without a watcher (no process handle, or none could be made) the wait
    // is a plain blocking one.
    BOOL connected = ConnectNamedPipe(pipe, nullptr);
    DWORD error = GetLastError();
    if (watcher) {
        SetEvent(watch.done);
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
    }
    if (watch.done) CloseHandle(watch.done);
    if (watch.waiting_thread) CloseHandle(watch.waiting_thread);
    if (connected) return 1;
    if (error == ERROR_OPERATION_ABORTED && watcher) {
        SetLastError(ERROR_CANCELLED);
        return -1;
    }
    SetLastError(error);
    return 0;
}

const wchar* platform_get_command_line() {
    return reinterpret_cast<const wchar*>(GetCommandLineW());
}

Handle platform_get_std_output() { return GetStdHandle(STD_OUTPUT_HANDLE); }

int platform_read_file(Handle file, void* buffer, uint32_t size, uint32_t* done) {
    DWORD moved = 0;
    BOOL ok = ReadFile(file, buffer, size, &moved, nullptr);
    *done = moved;
    return ok ? 1 : 0;
}

int platform_write_file(Handle file, const void* buffer, uint32_t size, uint32_t* done) {
    DWORD mode = 0;
    if (GetConsoleMode(file, &mode)) return write_utf8_to_console(file, buffer, size, done);
    DWORD moved = 0;
    BOOL ok = WriteFile(file, buffer, size, &moved, nullptr);
    *done = moved;
    return ok ? 1 : 0;
}

Handle platform_open_pipe_client(const wchar* name) {
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof inheritable;
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;
    HANDLE pipe = CreateFileW(wide(name), GENERIC_READ | GENERIC_WRITE, 0, &inheritable,
                              OPEN_EXISTING, 0, nullptr);
    return pipe == INVALID_HANDLE_VALUE ? INVALID_HANDLE : pipe;
}

int platform_create_worker(const wchar* program, wchar* command_line, Handle pipe,
                           Handle* process, Handle* thread) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = pipe;
    startup.hStdOutput = pipe;
    startup.hStdError = pipe;
    PROCESS_INFORMATION started = {};
    BOOL ok = CreateProcessW(wide(program), reinterpret_cast<wchar_t*>(command_line), nullptr,
                             nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                             &started);
    *process = ok ? started.hProcess : nullptr;
    *thread = ok ? started.hThread : nullptr;
    return ok ? 1 : 0;
}

int platform_free_console() { return FreeConsole() ? 1 : 0; }

int platform_relay_worker() {
    static const int worker = [] {
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        return in != nullptr && in != INVALID_HANDLE_VALUE &&
               in == GetStdHandle(STD_OUTPUT_HANDLE) && in == GetStdHandle(STD_ERROR_HANDLE) &&
               GetFileType(in) == FILE_TYPE_PIPE;
    }();
    return worker;
}
