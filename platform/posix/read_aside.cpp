#include "platform/posix/read_aside.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace {

// A read goes IDLE -> QUEUED (the reader asks) -> READING (the thread takes
// it) -> DONE -> IDLE (the reader has its result). A read still QUEUED when
// the reader wants it goes back to IDLE: the reader reads it itself.
enum : uint32_t { ASIDE_IDLE, ASIDE_QUEUED, ASIDE_READING, ASIDE_DONE, ASIDE_QUIT };

// Waking a side that sleeps in the kernel takes tens of microseconds on a
// virtual machine, longer than the reader needs for a block when it has
// little to print. So each side looks again for a while before it sleeps;
// the thread only when the reader came back that quickly the last time, as
// otherwise its looking merely takes a processor from the reader.
constexpr int64_t LOOK_NANOSECONDS = 200000;

int64_t now_nanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Waits until state is neither of the two given values, looking for up to
// look nanoseconds before sleeping; returns the new state, and in *waited
// how long it took.
uint32_t wait_past(std::atomic<uint32_t>* state, uint32_t a, uint32_t b, int64_t look,
                   int64_t* waited) {
    const int64_t start = now_nanoseconds();
    for (uint32_t round = 0;; ++round) {
        const uint32_t now = state->load(std::memory_order_acquire);
        if (now != a && now != b) {
            if (waited) *waited = now_nanoseconds() - start;
            return now;
        }
        if (round % 64 != 63 || now_nanoseconds() - start < look) relax();
        else state->wait(now, std::memory_order_acquire);
    }
}

}  // namespace

struct ReadAside {
    std::atomic<uint32_t> state;
    bool running;  // the thread was started; never, on one processor
    pthread_t thread;
    int fd;
    uint64_t offset;
    void* dest;
    size_t length;
    int read;   // the result of the last read
    int error;  // its errno when it failed
    int64_t last_asked;  // when the reader last asked for a read aside
};

namespace {

void* serve(void* context) {
    ReadAside* aside = static_cast<ReadAside*>(context);
    int64_t look = LOOK_NANOSECONDS, waited;
    while (wait_past(&aside->state, ASIDE_IDLE, ASIDE_DONE, look, &waited) == ASIDE_QUEUED) {
        // The reader may have taken the read back meanwhile.
        uint32_t queued = ASIDE_QUEUED;
        if (!aside->state.compare_exchange_strong(queued, ASIDE_READING,
                                                  std::memory_order_acq_rel))
            continue;
        look = waited < LOOK_NANOSECONDS ? LOOK_NANOSECONDS : 0;
        aside->read = pread_all(aside->fd, aside->offset, aside->dest, aside->length);
        aside->error = aside->read ? 0 : errno;
        aside->state.store(ASIDE_DONE, std::memory_order_release);
        aside->state.notify_one();
    }
    return nullptr;
}

// Whether the reader may run on more than one processor. On one, the thread
// only takes turns with the reader, and each side's looking for the other
// costs the other its turn: the reader is then faster copying by itself.
bool second_processor() {
    cpu_set_t allowed;
    return sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) > 1;
}

// The thread takes no signals: those meant for the process (a broken pipe,
// an interrupt) are the main thread's to handle. On one processor none is
// started, and every read aside is declined.
ReadAside* start_thread() {
    ReadAside* aside = new (std::nothrow) ReadAside{};
    if (!aside) return nullptr;
    if (!second_processor()) return aside;
    sigset_t all, before;
    sigfillset(&all);
    pthread_attr_t attributes;
    bool started = false;
    if (pthread_attr_init(&attributes) == 0) {
        pthread_attr_setstacksize(&attributes, 64u << 10);
        pthread_sigmask(SIG_SETMASK, &all, &before);
        started = pthread_create(&aside->thread, &attributes, serve, aside) == 0;
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        pthread_attr_destroy(&attributes);
    }
    if (!started) {
        delete aside;
        return nullptr;
    }
    aside->running = true;
    return aside;
}

}  // namespace

int pread_all(int fd, uint64_t offset, void* dest, size_t length) {
    uint8_t* to = static_cast<uint8_t*>(dest);
    while (length) {
        ssize_t got = pread(fd, to, length, off_t(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (got == 0) {  // the device or image ends before the volume does
            errno = EIO;
            return 0;
        }
        to += got;
        offset += uint64_t(got);
        length -= size_t(got);
    }
    return 1;
}

int read_aside_start(ReadAside** aside, int fd, uint64_t offset, void* dest, size_t length) {
    if (!*aside) *aside = start_thread();
    ReadAside* a = *aside;
    if (!a || !a->running || a->state.load(std::memory_order_acquire) != ASIDE_IDLE) return 0;
    // A reader whose own work on a block far outlasts the copy gains nothing
    // from the thread, and the block is best copied by itself: it is then in
    // its own processor's cache, and nobody has to be woken.
    const int64_t now = now_nanoseconds();
    const bool reader_slower = a->last_asked && now - a->last_asked > LOOK_NANOSECONDS;
    a->last_asked = now;
    if (reader_slower) return 0;
    a->fd = fd;
    a->offset = offset;
    a->dest = dest;
    a->length = length;
    a->state.store(ASIDE_QUEUED, std::memory_order_release);
    a->state.notify_one();
    return 1;
}

namespace {
// Ends the read in hand, if any: one the thread has not taken yet is taken
// back (the reader then reads it itself), one it is reading is waited for.
// Returns the state after: IDLE (nothing in hand, or taken back) or DONE.
uint32_t settle(ReadAside* aside, bool* taken_back) {
    uint32_t state = ASIDE_QUEUED;
    *taken_back = aside->state.compare_exchange_strong(state, ASIDE_IDLE,
                                                       std::memory_order_acq_rel);
    if (*taken_back) return ASIDE_IDLE;
    if (state != ASIDE_READING) return state;
    return wait_past(&aside->state, ASIDE_READING, ASIDE_READING, LOOK_NANOSECONDS, nullptr);
}
}  // namespace

int read_aside_wait(ReadAside* aside) {
    bool taken_back = false;
    const uint32_t state = aside ? settle(aside, &taken_back) : ASIDE_IDLE;
    // The thread has not begun (a busy machine has not let it run yet): the
    // reader reads rather than wait for its turn, as it would have to do
    // the same and more to wake it.
    if (taken_back) return pread_all(aside->fd, aside->offset, aside->dest, aside->length);
    if (state != ASIDE_DONE) {  // nothing was set aside
        errno = EINVAL;
        return 0;
    }
    aside->state.store(ASIDE_IDLE, std::memory_order_relaxed);
    if (!aside->read) errno = aside->error;
    return aside->read;
}

void read_aside_stop(ReadAside* aside) {
    if (!aside) return;
    if (!aside->running) {
        delete aside;
        return;
    }
    bool taken_back;
    settle(aside, &taken_back);
    aside->state.store(ASIDE_QUIT, std::memory_order_release);
    aside->state.notify_one();
    pthread_join(aside->thread, nullptr);
    delete aside;
}
