// No Windows operation of its own: where Windows' cache reads a VHD's file
// ahead for the system's own disk driver, the Linux stand-in reads the
// library's files ahead itself.
#include "platform/posix/disks/container_ahead.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <pthread.h>
#include <sched.h>

namespace {
enum : uint32_t {
    AHEAD_WAITING = 64,           // hints kept at most
    AHEAD_PIECE_BYTES = 1u << 20,  // one read of the thread's
};
}  // namespace

struct ContainerAhead {
    pthread_t thread;
    pthread_mutex_t lock;
    pthread_cond_t wake;
    uint64_t offsets[AHEAD_WAITING];
    uint64_t lengths[AHEAD_WAITING];
    uint32_t first;  // the oldest hint waiting
    uint32_t count;
    std::atomic<bool> stopping;  // also read between the pieces of a hint
    void* image;
    int (*read)(void* image, uint64_t offset, void* dest, size_t length);
    void (*close)(void* image);
    void* buffer;  // AHEAD_PIECE_BYTES, thrown away
};

namespace {

void* read_ahead(void* context) {
    ContainerAhead* a = static_cast<ContainerAhead*>(context);
    pthread_mutex_lock(&a->lock);
    for (;;) {
        while (!a->count && !a->stopping) pthread_cond_wait(&a->wake, &a->lock);
        if (a->stopping) break;
        uint64_t offset = a->offsets[a->first];
        uint64_t length = a->lengths[a->first];
        a->first = (a->first + 1) % AHEAD_WAITING;
        --a->count;
        pthread_mutex_unlock(&a->lock);
        // Forward, as the system reads a file best; a failed read ends the
        // hint (the scan's own read then tells the failure).
        while (length && !a->stopping) {
            const size_t piece = length < AHEAD_PIECE_BYTES ? size_t(length) : size_t(AHEAD_PIECE_BYTES);
            if (!a->read(a->image, offset, a->buffer, piece)) break;
            offset += piece;
            length -= piece;
        }
        pthread_mutex_lock(&a->lock);
    }
    pthread_mutex_unlock(&a->lock);
    return nullptr;
}

bool one_processor() {
    cpu_set_t set;
    return sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) < 2;
}

}  // namespace

ContainerAhead* ahead_start(void* image, int (*read)(void* image, uint64_t offset, void* dest, size_t length),
                            void (*close)(void* image)) {
    ContainerAhead* a = one_processor() ? nullptr : new (std::nothrow) ContainerAhead{};
    void* buffer = a ? std::malloc(AHEAD_PIECE_BYTES) : nullptr;
    if (!buffer) {
        delete a;
        close(image);
        return nullptr;
    }
    a->image = image;
    a->read = read;
    a->close = close;
    a->buffer = buffer;
    pthread_mutex_init(&a->lock, nullptr);
    pthread_cond_init(&a->wake, nullptr);
    if (pthread_create(&a->thread, nullptr, read_ahead, a) != 0) {
        pthread_cond_destroy(&a->wake);
        pthread_mutex_destroy(&a->lock);
        std::free(buffer);
        delete a;
        close(image);
        return nullptr;
    }
    return a;
}

void ahead_hint(ContainerAhead* a, uint64_t offset, uint64_t length) {
    pthread_mutex_lock(&a->lock);
    if (a->count < AHEAD_WAITING && length) {
        const uint32_t slot = (a->first + a->count) % AHEAD_WAITING;
        a->offsets[slot] = offset;
        a->lengths[slot] = length;
        ++a->count;
        pthread_cond_signal(&a->wake);
    }
    pthread_mutex_unlock(&a->lock);
}

void ahead_stop(ContainerAhead* a) {
    pthread_mutex_lock(&a->lock);
    a->stopping = true;
    pthread_cond_signal(&a->wake);
    pthread_mutex_unlock(&a->lock);
    pthread_join(a->thread, nullptr);
    pthread_cond_destroy(&a->wake);
    pthread_mutex_destroy(&a->lock);
    a->close(a->image);
    std::free(a->buffer);
    delete a;
}
