// An in-memory platform for the logic tests: every operation of
// platform/platform.h answered from state the test sets, and every write
// captured, so the same tests run natively and under wine.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

// Captured standard streams, as UTF-16.
extern std::u16string fake_out;
extern std::u16string fake_err;
// Each write to standard output, as the platform received it.
extern std::vector<std::u16string> fake_out_writes;
// Boxes shown by platform_message_box, text only.
extern std::vector<std::u16string> fake_message_boxes;
// Names the optional entry points do not resolve to (by export name).
extern std::vector<std::string> fake_missing_entry_points;
// Non-zero: every write to that standard stream fails with this last error.
extern uint32_t fake_out_write_error, fake_err_write_error;

// Clears every piece of fake state; each test starts with it.
void fake_reset();

// The captured streams as UTF-8, for readable assertions.
std::string fake_out_utf8();
std::string fake_err_utf8();

// ---- Fake volume enumeration and mount-path query (fake_volume_list.cpp) ----
struct FakeVolume {
    std::u16string name;         // what FindFirstVolumeW / FindNextVolumeW store
    std::u16string mount_paths;  // the stored list; fake_mount_list builds one
    // Last error the length query (no buffer, capacity 0) leaves.
    uint32_t length_error = ERROR_CODE_MORE_DATA;
    // The second request fails as if the list grew meanwhile, with the
    // buffer full of 'X' units and no terminator.
    bool list_grows = false;
    // The second request succeeds but fills the whole buffer with 'X' units
    // and stores no terminator.
    bool list_unterminated = false;
};
extern std::vector<FakeVolume> fake_volume_list;
// Non-zero: FindFirstVolumeW fails with this last error.
extern uint32_t fake_find_first_error;
// FindNextVolumeW fails with last error 5 once this many names were given
// (-1: only at the end of the list, with last error 18).
extern int fake_find_next_fails_after;
// Capacities passed to FindFirstVolumeW / FindNextVolumeW, call by call.
extern std::vector<uint32_t> fake_find_capacities;
// Searches started and not yet closed by FindVolumeClose.
extern int fake_find_handles_open;
// Every call of the mount-path query.
struct FakePathQuery {
    std::u16string volume_name;
    bool has_buffer;
    uint32_t capacity;
};
extern std::vector<FakePathQuery> fake_path_queries;
// 'C:\', 'D:\mnt\' ... as a mount path list: each ended by NUL, then NUL.
std::u16string fake_mount_list(const std::vector<std::u16string>& paths);

// ---- Fake NTFS volumes: open, close and the two requests (fake_volumes.cpp) ----
struct FakeDisk {
    std::u16string device_path;  // the path platform_open_volume accepts
    bool ntfs = true;            // false: the volume data request fails (error 1)
    uint32_t record_size = 1024; // BytesPerFileRecordSegment
    int64_t valid_length = 0;    // MftValidDataLength
    // In-use records by number, each record_size bytes. A request for n is
    // answered with the highest record at or below n's low 48 bits.
    std::map<uint64_t, std::vector<uint8_t>> records;
    // Requests whose input (as passed: a plain number, or a reference with its
    // sequence number) is listed fail with the given last error.
    std::map<uint64_t, uint32_t> failing;
    // Replies to requests for these numbers name this record number instead.
    std::map<uint64_t, int64_t> named_as;
    // Every file record request's input, as passed.
    std::vector<uint64_t> requests;
    int opens = 0;
    int closes = 0;
};
// Stable addresses: disks are only ever appended.
extern std::deque<FakeDisk> fake_disks;
// A disk of `slots` record slots (valid length = slots x record size).
FakeDisk& fake_add_disk(const std::u16string& device_path, uint64_t slots,
                        uint32_t record_size = 1024);
Handle fake_disk_handle(const FakeDisk& disk);

// Record builders. A file reference: number in the low 48 bits, sequence above.
uint64_t fake_reference(uint64_t number, uint16_t sequence);
// A resident attribute: 24-byte header (value at offset 24), the value,
// padded to a multiple of 8 bytes.
std::vector<uint8_t> fake_attribute(uint32_t type, const std::vector<uint8_t>& value);
std::vector<uint8_t> fake_name_attribute(uint64_t parent, const std::u16string& name,
                                         uint8_t name_space = 1);
// A "FILE" record with this sequence number: header, first attribute at 56,
// the attributes, the end marker, zero-filled (or cut) to size bytes.
std::vector<uint8_t> fake_record(uint16_t sequence,
                                 const std::vector<std::vector<uint8_t>>& attributes,
                                 uint32_t size = 1024);
struct FakeName {
    uint64_t parent;  // file reference, sequence included
    std::u16string name;
    uint8_t name_space = 1;
};
// Stores record `number`: a standard-information attribute, then the names.
void fake_add_file(FakeDisk& disk, uint64_t number, uint16_t sequence,
                   const std::vector<FakeName>& names);

// ---- Fake rights and elevation relay (fake_rights.cpp, fake_relay.cpp) ----
// Every rights and relay call, in order: "IsUserAnAdmin", "OpenProcessToken",
// "GetTokenInformation", "Crypto", "CryptGenRandom", "CryptReleaseContext",
// "CreateNamedPipe <name>", "GetModuleFileName",
// "ShellExecuteEx <file> | <parameters>", "ConnectNamedPipe", "GetCommandLine",
// "GetStdHandle", "OpenPipe <name>", "CreateProcess <program> | <command line>",
// "FreeConsole", "CloseHandle <what>" ("token", "worker process", "worker thread").
extern std::vector<std::string> fake_elevation_calls;
// The administrator query's answer; the token's elevation type.
extern int fake_admin_answer;
extern uint32_t fake_elevation_type;
// Non-zero: the operation fails with this last error.
extern uint32_t fake_open_token_error, fake_token_query_error, fake_crypt_error,
    fake_random_error, fake_create_pipe_error, fake_module_error, fake_launch_error,
    fake_open_pipe_error, fake_create_worker_error;
extern uint8_t fake_random_bytes[4];
// GetModuleFileNameW's path; one that does not fit is cut short as Windows does.
extern std::u16string fake_module_path;
// ConnectNamedPipe's result and, when it is not 1, its last error.
extern int fake_connect_result;
extern uint32_t fake_connect_error;
extern int fake_relay_worker;  // what platform_relay_worker answers
// The bytes a relay's worker that ended with status sends last.
std::string fake_trailer(uint32_t status);
extern std::u16string fake_command_line;
// Pipe reads: each chunk is delivered in order (a read takes at most what it
// asks for and leaves the rest); after the last the read fails with
// fake_read_end_error, or succeeds with 0 bytes when that is 0.
extern std::deque<std::string> fake_pipe_input;
extern uint32_t fake_read_end_error;
// Writes, to "pipe" or "stdout", in order; the write numbered
// fake_failing_write fails with fake_write_error, and the one numbered
// fake_short_write stores a byte less than asked.
struct FakeWrite {
    std::string target;
    std::string bytes;
};
extern std::vector<FakeWrite> fake_writes;
extern int fake_failing_write, fake_short_write;
extern uint32_t fake_write_error;
// The command line CreateProcessW received (it may write into it).
extern std::u16string fake_worker_command_line;
// Called by platform_close_handle for every handle.
void fake_note_close(Handle handle);
