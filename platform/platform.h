// The operating-system operations Morla uses, one declaration for both systems.
// platform/windows/ implements them with the Win32 calls of the same names;
// platform/posix/ implements Linux stand-ins that give the same answers.
// Everything outside platform/ reaches the system only through this header.
#pragma once

#include <cstddef>
#include <cstdint>

// All text inside Morla is UTF-16, in 16-bit code units.
typedef char16_t wchar;

// An opaque handle: a volume, a find-volume search, a token, a pipe or a process.
typedef void* Handle;
#define INVALID_HANDLE ((Handle)(intptr_t)-1)

#if defined(_WIN32)
#define PLATFORM_API __stdcall
#else
#define PLATFORM_API
#endif

// Last-error codes the logic tests for by value.
enum : uint32_t {
    ERROR_CODE_INVALID_FUNCTION = 1,
    ERROR_CODE_MORE_DATA = 234,
    ERROR_CODE_PIPE_CONNECTED = 535,
};

// ---- Last error ------------------------------------------------------------
uint32_t platform_last_error();
void platform_set_last_error(uint32_t code);

// ---- Optional entry points, found by name (LoadLibraryW, GetProcAddress) ----
// Returns null when the library cannot be loaded.
void* platform_load_library(const wchar* name);
// Returns null when the module does not supply the name.
void* platform_get_proc_address(void* module, const char* name);

// GetVolumePathNamesForVolumeNameW and IsUserAnAdmin, as found by name.
typedef int(PLATFORM_API* VolumePathNamesFn)(const wchar* volume_name, wchar* names,
                                             uint32_t capacity, uint32_t* needed);
typedef int(PLATFORM_API* IsUserAnAdminFn)();

// ---- Standard streams -------------------------------------------------------
enum : int { STREAM_OUT = 1, STREAM_ERR = 2 };
// Writes UTF-16 text through the stream's buffer, converted for the system
// (UTF-8 on Linux; console wide output or UTF-8 text mode on Windows).
// Returns 1, or 0 when a write failed (the reason in the last error).
int platform_write_text(int stream, const wchar* units, size_t count);
// Delivers what the stream holds pending; 1, or 0 when a write failed.
int platform_flush(int stream);
// Whether a failed write's code means the reader went away: a pipe or
// socket whose other end has closed.
int platform_reader_gone(uint32_t code);

// ---- Failure reports ---------------------------------------------------------
enum : uint32_t {
    MESSAGE_FROM_SYSTEM = 0x1100,                  // from system, allocate buffer
    MESSAGE_FROM_SYSTEM_IGNORE_INSERTS = 0x1300,   // the same, inserts ignored
};
// FormatMessageW in the user's default language into a buffer the system
// allocates; returns its length in units (0 on failure, *text then null).
// The text is released with platform_local_free.
uint32_t platform_format_message(uint32_t flags, uint32_t code, wchar** text);
// LocalAlloc(LMEM_ZEROINIT), LocalSize, LocalFree.
void* platform_local_alloc_zeroed(size_t bytes);
size_t platform_local_size(void* block);
void platform_local_free(void* block);
// MessageBoxW(no owner, text, caption, MB_OK). Linux has no window for it.
void platform_message_box(const wchar* text, const wchar* caption);
// ExitProcess: ends the process at once with this status.
[[noreturn]] void platform_exit_process(uint32_t code);

// ---- Volumes -------------------------------------------------------------------
// CreateFileW(path, FILE_READ_DATA, read and write sharing, no security
// attributes, OPEN_EXISTING, no flags, no template). INVALID_HANDLE on failure.
Handle platform_open_volume(const wchar* device_path);
int platform_close_handle(Handle handle);

enum : uint32_t {
    FSCTL_NTFS_VOLUME_DATA = 0x00090064,
    FSCTL_NTFS_FILE_RECORD = 0x00090068,
};
// DeviceIoControl, synchronous. Returns 1 on success, 0 on failure.
int platform_device_io_control(Handle volume, uint32_t control_code, const void* input,
                               uint32_t input_size, void* output, uint32_t output_size,
                               uint32_t* bytes_returned);

// The volumes a target holds. Windows opens a volume by its device path
// and has it alone; Linux also reads a disk's partition table and image
// containers, and gives each NTFS partition a device path of its own
// ('\\.\E3:', '\\.\/dev/loop0p2'), or the target's when it holds one.
// Opens the target as platform_open_volume does; INVALID_HANDLE on failure.
Handle platform_open_disk(const wchar* open_path);
enum : uint32_t { DISK_PART_PATH_UNITS = 4200 };
struct DiskPart {
    Handle volume;                             // open; the caller closes it
    wchar device_path[DISK_PART_PATH_UNITS];   // its lines' prefix from index 4
    const wchar* cause;                        // a fault's few words
};
// The next volume of the disk, named after device_path (the target's own):
// 1 with part->volume open, -1 for a fault the table or container met
// (part->cause; the volumes after it still follow), 0 at the end.
int platform_next_disk_part(Handle disk, const wchar* device_path, DiskPart* part);
int platform_close_disk(Handle disk);
// Whether an argument holding '/' names a path to search (Linux), rather
// than a drive letter (Windows).
extern const int platform_path_targets;

// FindFirstVolumeW, FindNextVolumeW, FindVolumeClose.
Handle platform_find_first_volume(wchar* name, uint32_t capacity);
int platform_find_next_volume(Handle find, wchar* name, uint32_t capacity);
int platform_find_volume_close(Handle find);

// ---- Rights --------------------------------------------------------------------
enum : uint32_t {
    TOKEN_ACCESS_QUERY = 8,
    TOKEN_CLASS_ELEVATION_TYPE = 18,
    ELEVATION_TYPE_LIMITED = 3,
};
Handle platform_get_current_process();
int platform_open_process_token(Handle process, uint32_t access, Handle* token);
int platform_get_token_information(Handle token, uint32_t info_class, void* info,
                                   uint32_t length, uint32_t* returned);

// ---- Elevation relay -------------------------------------------------------------
// CryptAcquireContextW(no container, default provider, PROV_RSA_FULL,
// CRYPT_VERIFYCONTEXT | CRYPT_SILENT), CryptGenRandom, CryptReleaseContext.
int platform_crypt_acquire_context(uintptr_t* context);
int platform_crypt_gen_random(uintptr_t context, uint32_t length, uint8_t* buffer);
int platform_crypt_release_context(uintptr_t context);

// CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
// byte stream, 1 instance, 0x100000-byte buffers, time-out 0, no security
// attributes). INVALID_HANDLE on failure, also when the name exists.
Handle platform_create_named_pipe(const wchar* name);
// GetModuleFileNameW(no module, buffer, capacity): units stored, 0 on
// failure. A path cut short fills the buffer (capacity - 1 units and a NUL)
// and returns capacity, with the platform's "buffer too small" last error.
uint32_t platform_get_module_file_name(wchar* buffer, uint32_t capacity);
// ShellExecuteExW with the verb "runas" (SEE_MASK_NOASYNC, and
// SEE_MASK_NOCLOSEPROCESS to keep the launched process): starts the program
// file elevated with these parameters. On success *process is the launched
// process (null when the platform gives none). 0 when the launch fails or
// is declined.
int platform_shell_execute_runas(const wchar* file, const wchar* parameters, Handle* process);
// ConnectNamedPipe(pipe, no overlapped operation), given up when the launched
// process ends first: 1 when a client connected, 0 on failure (last error 535
// means the client came before the call), -1 when the launched process ended
// before any client came (last error: the platform's "cancelled" code).
int platform_connect_named_pipe(Handle pipe, Handle launched);
// GetCommandLineW: the process's whole command line.
const wchar* platform_get_command_line();
// GetStdHandle(STD_OUTPUT_HANDLE).
Handle platform_get_std_output();
// ReadFile / WriteFile, synchronous; the count moved is stored in *done.
// Written to a console, the bytes are taken as UTF-8 and shown as text, a
// character split between two writes kept whole (Windows consoles show
// bytes in a code page of their own).
int platform_read_file(Handle file, void* buffer, uint32_t size, uint32_t* done);
int platform_write_file(Handle file, const void* buffer, uint32_t size, uint32_t* done);
// CreateFileW(name, GENERIC_READ | GENERIC_WRITE, no sharing, inheritable
// security attributes, OPEN_EXISTING, no flags, no template).
Handle platform_open_pipe_client(const wchar* name);
// CreateProcessW(program, writable command line, handles inherited,
// CREATE_NO_WINDOW, start-up record with the pipe as all three standard
// handles, hidden). Stores the worker's process and thread handles.
int platform_create_worker(const wchar* program, wchar* command_line, Handle pipe,
                           Handle* process, Handle* thread);
// FreeConsole.
int platform_free_console();
// 1 in the relay's worker, whose three standard handles are the relay's one
// end of the pipe (the relay gives it no others); 0 in any other process.
int platform_relay_worker();
// Last-error codes, in the platform's own numbering, for failures Morla
// notices itself rather than the system: the relay's stream ended before the
// whole frame arrived (or a write took less than offered), the frame's count
// exceeds the longest command line, the heap is exhausted, and a volume
// answered with data that contradicts the request.
extern const uint32_t platform_error_stream_ended;
extern const uint32_t platform_error_frame_too_long;
extern const uint32_t platform_error_out_of_memory;
extern const uint32_t platform_error_corrupt_data;
