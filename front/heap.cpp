#include "front/heap.h"

#include <cstdlib>

int64_t heap_failure_countdown = -1;

void* heap_alloc(size_t bytes) {
    if (heap_failure_countdown > 0 && --heap_failure_countdown == 0) {
        heap_failure_countdown = -1;
        return nullptr;
    }
    // malloc(0) may return null; a zero-byte request must still succeed.
    return std::malloc(bytes ? bytes : 1);
}

void heap_free(void* block) { std::free(block); }
