// Stands in for the runtime's start-up code that builds the wide argument
// vector and calls the entry function: on Linux, main decodes the argument
// bytes to UTF-16 without loss, keeps them for GetCommandLineW's stand-in,
// and makes a failed write to a reader that went away an EPIPE, never a
// signal.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <new>
#include <vector>

#include "base/relay_trailer.h"
#include "base/reports.h"
#include "front/entry.h"
#include "platform/posix/relay/command_line.h"
#include "platform/posix/relay/worker.h"
#include "platform/posix/utf8.h"

namespace {

// The library's containers end the process by an abort when memory runs out
// (no room is left even to throw): a report and its code instead.
[[noreturn]] void out_of_memory() {
    platform_set_last_error(ENOMEM);
    fatal_report(u"Allocate memory");
}

}  // namespace

int main(int argc, char** argv) {
    std::set_new_handler(out_of_memory);
    // A reader that went away fails the write (EPIPE), which ends the run
    // quietly with that code: never a death by signal.
    std::signal(SIGPIPE, SIG_IGN);
    // The relay's worker is named as what it is, and ends once nobody
    // listens, even while it writes nothing.
    posix_start_relay_worker();
    // Results go out in large blocks when they do not go to a terminal.
    if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    std::vector<std::vector<wchar>> storage;
    storage.resize(size_t(argc));
    std::vector<wchar*> wide(size_t(argc) + 1, nullptr);
    for (int i = 0; i < argc; ++i) {
        size_t bytes = std::strlen(argv[i]);
        storage[size_t(i)].resize(bytes + 1);
        size_t n = utf8_to_utf16(argv[i], bytes, storage[size_t(i)].data());
        storage[size_t(i)][n] = 0;
        wide[size_t(i)] = storage[size_t(i)].data();
    }
    posix_keep_arguments(argc, wide.data());
    int status = morla_entry(argc, wide.data());
    deliver_output();
    tell_requester(uint32_t(status));
    return status;
}
