#include "platform/posix/guarded_copy.h"

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>

namespace {

// The copy in progress on this thread, which a fault in its map ends.
struct Guard {
    sigjmp_buf* resume;
    const uint8_t* map;
    size_t map_length;
};
thread_local Guard guard;

void on_bus_error(int, siginfo_t* info, void*) {
    const uint8_t* at = static_cast<const uint8_t*>(info->si_addr);
    if (guard.resume && at >= guard.map && size_t(at - guard.map) < guard.map_length)
        siglongjmp(*guard.resume, 1);
    // Not a fault of a guarded copy: the default action, as if unhandled.
    signal(SIGBUS, SIG_DFL);
}

void install_handler() {
    static bool installed = false;
    if (installed) return;
    struct sigaction action = {};
    action.sa_sigaction = on_bus_error;
    // Left unblocked while it runs, since it leaves by siglongjmp without
    // restoring the signal mask (which would cost a system call per copy).
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
    installed = true;
}

}  // namespace

int guarded_copy(void* dest, const uint8_t* from, size_t length, const uint8_t* map,
                 size_t map_length) {
    install_handler();
    sigjmp_buf resume;
    if (sigsetjmp(resume, 0) != 0) {
        guard = Guard{nullptr, nullptr, 0};
        errno = EIO;
        return 0;
    }
    guard = Guard{&resume, map, map_length};
    std::memcpy(dest, from, length);
    guard = Guard{nullptr, nullptr, 0};
    return 1;
}
