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
// Test seam: the bytes requested so far, which bound what was copied into
// them (a test holds an algorithm's work to it, not to a time).
extern uint64_t heap_requested_bytes;

// Whether freed blocks are kept for reuse (see heap.cpp): on in optimised
// builds; off in debug and sanitizer builds, so that memory checkers see
// every release. Tests may switch it at any time.
extern bool heap_keep_freed;
// Bytes in the blocks kept for reuse now; bounded (1 MiB).
size_t heap_kept_bytes();
