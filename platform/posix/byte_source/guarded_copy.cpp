// No Windows operation of its own: a read of a mapped volume that Windows
// would fail with an error, which on Linux raises SIGBUS, is turned back
// into an error (EIO) by a handler and siglongjmp.
#include "platform/posix/byte_source/guarded_copy.h"

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>

namespace {

// The copy in progress on this thread, which a fault in its map ends. The
// handler reads these fields in the middle of the copy, where the compiler
// sees no reader: each is volatile, so that no store to it is left out or
// moved past the copy (an optimised build did drop the arming store).
struct Guard {
    sigjmp_buf* volatile resume;
    const uint8_t* volatile map;
    volatile size_t map_length;
};
thread_local Guard guard;

void on_bus_error(int, siginfo_t* info, void*) {
    const uint8_t* at = static_cast<const uint8_t*>(info->si_addr);
    const uint8_t* map = guard.map;
    sigjmp_buf* resume = guard.resume;
    if (resume && at >= map && size_t(at - map) < guard.map_length) siglongjmp(*resume, 1);
    // Not a fault of a guarded copy: the default action, as if unhandled.
    signal(SIGBUS, SIG_DFL);
}

bool install_handler() {
    struct sigaction action = {};
    action.sa_sigaction = on_bus_error;
    // Left unblocked while it runs, since it leaves by siglongjmp without
    // restoring the signal mask (which would cost a system call per copy).
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
    return true;
}

void disarm() {
    guard.resume = nullptr;
    guard.map = nullptr;
    guard.map_length = 0;
}

}  // namespace

int guarded_copy(void* dest, const uint8_t* from, size_t length, const uint8_t* map,
                 size_t map_length) {
    // Once per process, whichever thread copies first.
    static const bool installed = install_handler();
    (void)installed;
    sigjmp_buf resume;
    if (sigsetjmp(resume, 0) != 0) {
        disarm();
        errno = EIO;
        return 0;
    }
    guard.map = map;
    guard.map_length = map_length;
    guard.resume = &resume;
    // The copy's own loads and stores stay between arming and disarming.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(dest, from, length);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    disarm();
    return 1;
}
