#include "ntfs/record_cache.h"

#include <cerrno>
#include <cstdlib>

namespace {
// Directories are numbered in runs, so the set comes from a hash of the
// number rather than its low bits.
uint32_t first_slot(const RecordCache* cache, uint64_t n) {
    return (uint32_t((n * 0x9E3779B97F4A7C15ull) >> 40) & (cache->sets - 1)) * RECORD_CACHE_WAYS;
}

bool start(RecordCache* cache, uint32_t record_size) {
    uint32_t sets = 1;
    while (uint64_t(sets) * 2 * RECORD_CACHE_WAYS * record_size <= RECORD_CACHE_BYTES) sets *= 2;
    const size_t slots = size_t(sets) * RECORD_CACHE_WAYS;
    cache->tags = static_cast<uint64_t*>(std::calloc(slots, sizeof(uint64_t)));
    cache->last_use = static_cast<uint32_t*>(std::calloc(slots, sizeof(uint32_t)));
    // Not touched before use: the pages become resident as records arrive.
    cache->records = static_cast<uint8_t*>(std::malloc(slots * record_size));
    if (!cache->tags || !cache->last_use || !cache->records) {
        record_cache_release(cache);
        errno = ENOMEM;
        return false;
    }
    cache->sets = sets;
    cache->record_size = record_size;
    return true;
}
}  // namespace

const uint8_t* record_cache_find(RecordCache* cache, uint64_t n) {
    if (!cache->sets) return nullptr;
    const uint32_t first = first_slot(cache, n);
    for (uint32_t slot = first; slot < first + RECORD_CACHE_WAYS; ++slot) {
        if (cache->tags[slot] == n + 1) {
            cache->last_use[slot] = ++cache->clock;
            return cache->records + size_t(slot) * cache->record_size;
        }
    }
    return nullptr;
}

uint8_t* record_cache_slot(RecordCache* cache, uint64_t n, uint32_t record_size) {
    if (!cache->sets && !start(cache, record_size)) return nullptr;
    const uint32_t first = first_slot(cache, n);
    uint32_t oldest = first;
    for (uint32_t slot = first; slot < first + RECORD_CACHE_WAYS; ++slot) {
        if (!cache->tags[slot]) {
            oldest = slot;
            break;
        }
        // Ages, not stamps: they stay right when the clock wraps.
        if (cache->clock - cache->last_use[slot] > cache->clock - cache->last_use[oldest])
            oldest = slot;
    }
    cache->tags[oldest] = 0;
    return cache->records + size_t(oldest) * cache->record_size;
}

void record_cache_hold(RecordCache* cache, uint64_t n, const uint8_t* slot_bytes) {
    const size_t slot = size_t(slot_bytes - cache->records) / cache->record_size;
    cache->tags[slot] = n + 1;
    cache->last_use[slot] = ++cache->clock;
}

void record_cache_release(RecordCache* cache) {
    std::free(cache->tags);
    std::free(cache->last_use);
    std::free(cache->records);
    *cache = RecordCache{};
}
