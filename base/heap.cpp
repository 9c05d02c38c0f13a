#include "base/heap.h"

#include <cstdlib>

int64_t heap_failure_countdown = -1;
uint64_t heap_requested_bytes = 0;

// gcc says it builds with the address sanitizer by a macro, clang by a feature.
#if defined(__SANITIZE_ADDRESS__)
#define HEAP_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HEAP_UNDER_ASAN 1
#endif
#endif

#if defined(NDEBUG) && !defined(HEAP_UNDER_ASAN)
bool heap_keep_freed = true;
#else
bool heap_keep_freed = false;
#endif

namespace {
// Every block carries its capacity in front of it, so that a freed block can
// be kept by size; 16 bytes keep the C library's alignment.
constexpr size_t HEADER_BYTES = 16;

// The search takes and releases a few blocks for every name of the volume
// and several for every match (a name copy, a record buffer and a path per
// ancestor), always of the same few sizes. Freed blocks up to KEPT_MAX bytes
// are kept on a list per size class and handed out again, which costs a few
// instructions where the C library's allocator takes a hundred or more (and
// its general path for anything above 1 KiB, such as record buffers). What
// is kept is bounded by KEPT_BYTES. The lists are not locked: Morla allocates
// from its main thread only. Requests up to KEPT_MAX are always given
// their class's capacity, so that a block can be kept whenever it is freed.
constexpr size_t SMALL_MAX = 1024, SMALL_STEP = 16;        // classes 1..64
constexpr size_t KEPT_MAX = 64 * 1024, LARGE_STEP = 1024;  // classes 65..127
constexpr size_t CLASSES = SMALL_MAX / SMALL_STEP + KEPT_MAX / LARGE_STEP;
constexpr size_t KEPT_BYTES = 1 << 20;

struct Kept {
    Kept* next;
};
Kept* kept[CLASSES];  // freed blocks by class
size_t kept_bytes;

size_t& capacity_of(void* block) {
    return *reinterpret_cast<size_t*>(static_cast<unsigned char*>(block) - HEADER_BYTES);
}

// The class of a request up to KEPT_MAX: the smallest whose capacity holds it.
size_t class_of(size_t bytes) {
    if (bytes <= SMALL_MAX) return bytes ? (bytes + SMALL_STEP - 1) / SMALL_STEP : 1;
    return SMALL_MAX / SMALL_STEP + (bytes - SMALL_MAX + LARGE_STEP - 1) / LARGE_STEP;
}

size_t class_capacity(size_t klass) {
    if (klass <= SMALL_MAX / SMALL_STEP) return klass * SMALL_STEP;
    return SMALL_MAX + (klass - SMALL_MAX / SMALL_STEP) * LARGE_STEP;
}
}  // namespace

void* heap_alloc(size_t bytes) {
    if (heap_failure_countdown > 0 && --heap_failure_countdown == 0) {
        heap_failure_countdown = -1;
        return nullptr;
    }
    heap_requested_bytes += bytes;
    size_t capacity = bytes;
    if (bytes <= KEPT_MAX) {
        const size_t klass = class_of(bytes);
        capacity = class_capacity(klass);
        if (Kept* block = kept[klass]) {
            kept[klass] = block->next;
            kept_bytes -= capacity;
            return block;
        }
    }
    if (capacity > SIZE_MAX - HEADER_BYTES) return nullptr;
    // The header also makes a zero-byte request a real allocation.
    unsigned char* header = static_cast<unsigned char*>(std::malloc(HEADER_BYTES + capacity));
    if (!header) return nullptr;
    void* block = header + HEADER_BYTES;
    capacity_of(block) = capacity;
    return block;
}

void heap_free(void* block) {
    if (!block) return;
    const size_t capacity = capacity_of(block);
    if (heap_keep_freed && capacity <= KEPT_MAX && kept_bytes + capacity <= KEPT_BYTES) {
        Kept* freed = static_cast<Kept*>(block);
        const size_t klass = class_of(capacity);
        freed->next = kept[klass];
        kept[klass] = freed;
        kept_bytes += capacity;
        return;
    }
    std::free(static_cast<unsigned char*>(block) - HEADER_BYTES);
}

size_t heap_kept_bytes() { return kept_bytes; }
