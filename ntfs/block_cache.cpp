#include "ntfs/block_cache.h"

#include <cerrno>
#include <cstdlib>

// Records are a power of two of at most 64 KiB, so none crosses a block.
static_assert(SCAN_BLOCK_BYTES % 65536 == 0);

namespace {
uint32_t part_length(uint64_t stream_size, uint64_t start, uint32_t part) {
    const uint64_t left = stream_size - start;
    return left < part ? uint32_t(left) : part;
}

uint8_t* allocated(uint8_t** bytes, uint32_t size) {
    if (!*bytes) *bytes = static_cast<uint8_t*>(std::malloc(size));
    if (!*bytes) errno = ENOMEM;
    return *bytes;
}

// The kernel copies into a page-aligned buffer at about twice the speed of
// one that is not, as malloc's large blocks are (16 bytes past a page).
constexpr uintptr_t PAGE_BYTES = 4096;

uint8_t* page_aligned(void** memory) {
    if (!*memory) *memory = std::malloc(SCAN_BLOCK_BYTES + PAGE_BYTES);
    if (!*memory) {
        errno = ENOMEM;
        return nullptr;
    }
    const uintptr_t at = reinterpret_cast<uintptr_t>(*memory);
    return static_cast<uint8_t*>(*memory) + (PAGE_BYTES - at % PAGE_BYTES);
}

// Reads block index into the scan's buffer, after asking the source for the
// blocks below it that no earlier read asked for.
bool fill_scan_block(ScanBlock* scan, const ByteSource* source, uint32_t cluster_bytes,
                     const NtfsStream* table, uint64_t index) {
    const uint64_t start = index * SCAN_BLOCK_BYTES;
    uint64_t ahead = start > SCAN_READ_AHEAD_BYTES ? start - SCAN_READ_AHEAD_BYTES : 0;
    // Asked for in whole aligned pieces of that size, each once: a device
    // reads a piece forward, which it does best, while the scan goes down.
    ahead -= ahead % SCAN_READ_AHEAD_BYTES;
    const uint64_t hinted = scan->tag ? scan->hinted : start;
    if (ahead < hinted) stream_prefetch(source, table, cluster_bytes, ahead, hinted - ahead);
    scan->hinted = ahead < hinted ? ahead : hinted;
    scan->tag = 0;
    scan->bytes = page_aligned(&scan->memory);
    if (!scan->bytes) return false;
    const uint32_t length = part_length(table->size, start, SCAN_BLOCK_BYTES);
    if (!stream_read(source, table, cluster_bytes, start, length, scan->bytes)) return false;
    scan->tag = index + 1;
    scan->length = length;
    return true;
}
}  // namespace

bool scan_holds(const BlockCache* cache, uint64_t offset) {
    return cache->scan.tag == offset / SCAN_BLOCK_BYTES + 1;
}

const uint8_t* scan_record(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                           const NtfsStream* table, uint64_t offset, uint32_t record_size) {
    if (offset > table->size || record_size > table->size - offset) {
        errno = EINVAL;
        return nullptr;
    }
    const uint64_t index = offset / SCAN_BLOCK_BYTES;
    ScanBlock* scan = &cache->scan;
    if (scan->tag != index + 1) {
        cache->hand = ScanHand{};
        if (!fill_scan_block(scan, source, cluster_bytes, table, index)) return nullptr;
    }
    return scan->bytes + offset % SCAN_BLOCK_BYTES;
}

void scan_take_hand(BlockCache* cache, uint64_t number, uint32_t record_size) {
    cache->hand = ScanHand{};
    const ScanBlock& scan = cache->scan;
    const uint64_t block = number * record_size / SCAN_BLOCK_BYTES;
    const uint64_t chunk_bits = uint64_t(BITMAP_CHUNK_BYTES) * 8;
    const BitmapChunk& chunk = cache->chunks[number / chunk_bits % BITMAP_CHUNK_SLOTS];
    if (scan.tag != block + 1 || chunk.tag != number / chunk_bits + 1) return;
    const uint64_t block_first = block * SCAN_BLOCK_BYTES / record_size;
    const uint64_t block_end = block_first + scan.length / record_size;
    const uint64_t chunk_first = (chunk.tag - 1) * chunk_bits;
    const uint64_t chunk_end = chunk_first + uint64_t(chunk.length) * 8;
    const uint64_t first = block_first > chunk_first ? block_first : chunk_first;
    const uint64_t end = block_end < chunk_end ? block_end : chunk_end;
    if (number < first || number >= end) return;
    cache->hand = ScanHand{first, end - first, first - chunk_first, chunk.bytes,
                           scan.bytes + (first - block_first) * record_size};
}

const uint8_t* bitmap_chunk(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                            const NtfsStream* bitmap, uint64_t index, uint32_t* length) {
    const uint64_t start = index * BITMAP_CHUNK_BYTES;
    if (index >= (bitmap->size + BITMAP_CHUNK_BYTES - 1) / BITMAP_CHUNK_BYTES) {
        errno = EINVAL;
        return nullptr;
    }
    if (bitmap->resident) {  // a few bytes: no chunk needed
        *length = part_length(bitmap->size, start, BITMAP_CHUNK_BYTES);
        return bitmap->resident + start;
    }
    BitmapChunk* chunk = &cache->chunks[index % BITMAP_CHUNK_SLOTS];
    if (chunk->tag != index + 1) {
        cache->hand = ScanHand{};
        chunk->tag = 0;
        if (!allocated(&chunk->bytes, BITMAP_CHUNK_BYTES)) return nullptr;
        const uint32_t n = part_length(bitmap->size, start, BITMAP_CHUNK_BYTES);
        if (!stream_read(source, bitmap, cluster_bytes, start, n, chunk->bytes)) return nullptr;
        chunk->tag = index + 1;
        chunk->length = n;
    }
    *length = chunk->length;
    return chunk->bytes;
}

void cache_release(BlockCache* cache) {
    std::free(cache->scan.memory);
    for (BitmapChunk& chunk : cache->chunks) std::free(chunk.bytes);
    *cache = BlockCache{};
}
