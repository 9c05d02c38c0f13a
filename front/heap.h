// Heap allocation that returns null when memory is exhausted and never ends
// the process by itself; a request for 0 bytes succeeds.
#pragma once

#include <cstddef>
#include <cstdint>

void* heap_alloc(size_t bytes);
void heap_free(void* block);

// Test seam: when positive, the allocation that brings it to 0 fails (and
// every later one succeeds again). Negative: never fail.
extern int64_t heap_failure_countdown;
