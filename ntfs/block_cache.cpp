#include "ntfs/block_cache.h"

#include <bit>
#include <cerrno>
#include <cstdlib>

#include "ntfs/layout.h"

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

// The lowest record in [first, end) the bitmap marks in use, in *found: 1,
// or 0 when none is or the bitmap cannot be read there (read-ahead is only
// a hint, not worth a failure).
int lowest_marked(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                  const NtfsStream* bitmap, uint64_t first, uint64_t end, uint64_t* found) {
    const uint64_t chunk_bits = uint64_t(BITMAP_CHUNK_BYTES) * 8;
    if (end > bitmap->size * 8) end = bitmap->size * 8;
    for (uint64_t bit = first; bit < end;) {
        uint32_t length;
        const uint64_t chunk_first = bit - bit % chunk_bits;
        const uint8_t* chunk =
            bitmap_chunk(cache, source, cluster_bytes, bitmap, bit / chunk_bits, &length);
        if (!chunk) return 0;
        const uint64_t limit = chunk_first + uint64_t(length) * 8 < end
                                   ? chunk_first + uint64_t(length) * 8
                                   : end;
        while (bit < limit) {
            const uint64_t byte = (bit - chunk_first) / 8;
            if (bit % 64 == 0 && byte + 8 <= length && ntfs_le64(chunk + byte) == 0) {
                bit += 64;
                continue;
            }
            if (const unsigned marks = chunk[byte] >> (bit % 8)) {
                *found = bit + uint64_t(std::countr_zero(marks));
                return *found < end;
            }
            bit = (bit | 7) + 1;
        }
        if (length < BITMAP_CHUNK_BYTES) return 0;  // the bitmap ends here
    }
    return 0;
}

// Reads block index into the scan's buffer, after asking the source for the
// blocks below it that no earlier read asked for and that hold records in
// use.
bool fill_scan_block(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                     const NtfsStream* table, const NtfsStream* bitmap, uint32_t record_size,
                     uint64_t index) {
    ScanBlock* scan = &cache->scan;
    const uint64_t start = index * SCAN_BLOCK_BYTES;
    uint64_t ahead = start > SCAN_READ_AHEAD_BYTES ? start - SCAN_READ_AHEAD_BYTES : 0;
    // Asked for in whole aligned pieces of that size, each once: a device
    // reads a piece forward, which it does best, while the scan goes down.
    ahead -= ahead % SCAN_READ_AHEAD_BYTES;
    // After a jump over free records, the stretch jumped over is not read.
    const uint64_t hinted = scan->tag && scan->hinted < start ? scan->hinted : start;
    if (ahead < hinted)
        hint_blocks_in_use(cache, source, cluster_bytes, table, bitmap, record_size, ahead,
                           hinted);
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

void hint_blocks_in_use(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                        const NtfsStream* table, const NtfsStream* bitmap, uint32_t record_size,
                        uint64_t from, uint64_t to) {
    if (!source->prefetch) return;
    const uint64_t per_block = SCAN_BLOCK_BYTES / record_size;
    uint64_t run_from = 0, run_to = 0;  // blocks in use next to each other, one hint
    for (uint64_t record = from / record_size, found;
         lowest_marked(cache, source, cluster_bytes, bitmap, record, to / record_size, &found);) {
        const uint64_t block = found / per_block * SCAN_BLOCK_BYTES;
        if (block != run_to) {
            if (run_to > run_from)
                stream_prefetch(source, table, cluster_bytes, run_from, run_to - run_from);
            run_from = block;
        }
        run_to = block + SCAN_BLOCK_BYTES;
        record = (found / per_block + 1) * per_block;
    }
    if (run_to > run_from) stream_prefetch(source, table, cluster_bytes, run_from, run_to - run_from);
}

bool scan_holds(const BlockCache* cache, uint64_t offset) {
    return cache->scan.tag == offset / SCAN_BLOCK_BYTES + 1;
}

const uint8_t* scan_record(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                           const NtfsStream* table, const NtfsStream* bitmap, uint64_t offset,
                           uint32_t record_size) {
    if (offset > table->size || record_size > table->size - offset) {
        errno = EINVAL;
        return nullptr;
    }
    const uint64_t index = offset / SCAN_BLOCK_BYTES;
    ScanBlock* scan = &cache->scan;
    if (scan->tag != index + 1) {
        cache->hand = ScanHand{};
        if (!fill_scan_block(cache, source, cluster_bytes, table, bitmap, record_size, index))
            return nullptr;
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
