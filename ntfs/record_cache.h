// Fixed-up records kept for the requests that do not follow the scan. Path
// reconstruction asks for the same directories again and again, from
// anywhere in the table, and reading one record costs a system call; on
// Windows the file system's own cache answers for it.
//
// Bounded whatever the volume's size: a set-associative table of
// RECORD_CACHE_BYTES, the least recently used record of a set replaced
// first. Its memory is taken as records arrive, from the first such request
// on, so a search without matches never holds it. Only records in use and
// sound are held, so a record held answers a request for its own number.
#pragma once

#include <cstdint>

enum : uint32_t {
    RECORD_CACHE_BYTES = 32u << 20,
    RECORD_CACHE_WAYS = 8,  // their tags fill one cache line
};

struct RecordCache {
    uint32_t sets;         // a power of two; 0 before the first use
    uint32_t record_size;
    uint64_t* tags;        // per slot, RECORD_CACHE_WAYS per set: number + 1, 0 when empty
    uint32_t* last_use;    // per slot
    uint32_t clock;
    uint8_t* records;      // per slot: the record, fixed up
};

// The fixed-up copy of record n, or null when it is not held.
const uint8_t* record_cache_find(RecordCache* cache, uint64_t n);

// The slot record n is to be read into, emptied; null (errno ENOMEM) when
// the cache cannot be allocated. record_cache_hold marks it as holding n
// once the record is read and found sound.
uint8_t* record_cache_slot(RecordCache* cache, uint64_t n, uint32_t record_size);
void record_cache_hold(RecordCache* cache, uint64_t n, const uint8_t* slot);

void record_cache_release(RecordCache* cache);
