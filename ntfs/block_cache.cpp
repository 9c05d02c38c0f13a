#include "ntfs/block_cache.h"

#include <cerrno>
#include <cstdlib>

namespace {
CacheBlock* find_block(BlockCache* cache, const NtfsStream* stream, uint64_t index) {
    CacheBlock* block = &cache->blocks[cache->recent];
    if (block->stream == stream && block->index == index) return block;
    for (uint32_t i = 0; i < CACHE_BLOCKS; ++i) {
        block = &cache->blocks[i];
        if (block->stream == stream && block->index == index) {
            cache->recent = i;
            return block;
        }
    }
    return nullptr;
}

CacheBlock* fill_block(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                       const NtfsStream* stream, uint64_t index) {
    CacheBlock* block = &cache->blocks[0];
    for (CacheBlock& b : cache->blocks)
        if (b.last_use < block->last_use) block = &b;
    block->stream = nullptr;
    if (!block->bytes) {
        block->bytes = static_cast<uint8_t*>(std::malloc(CACHE_BLOCK_BYTES));
        if (!block->bytes) {
            errno = ENOMEM;
            return nullptr;
        }
    }
    uint64_t start = index * CACHE_BLOCK_BYTES;
    uint64_t left = stream->size - start;
    uint32_t n = left < CACHE_BLOCK_BYTES ? uint32_t(left) : CACHE_BLOCK_BYTES;
    if (!stream_read(source, stream, cluster_bytes, start, n, block->bytes)) return nullptr;
    block->stream = stream;
    block->index = index;
    block->length = n;
    cache->recent = uint32_t(block - cache->blocks);
    return block;
}

const uint8_t* use_block(BlockCache* cache, CacheBlock* block, uint32_t* length) {
    block->last_use = ++cache->clock;
    *length = block->length;
    return block->bytes;
}

// The chunk of the table holding offset, read into its set when absent.
const uint8_t* chunk_bytes(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                           const NtfsStream* table, uint64_t offset, uint32_t record_size) {
    if (!cache->chunks) {
        uint32_t bytes = record_size > CACHE_CHUNK_BYTES ? record_size : CACHE_CHUNK_BYTES;
        uint32_t sets = CACHE_CHUNK_MEMORY / bytes / 2;
        cache->chunks = static_cast<CacheChunk*>(std::calloc(sets * 2, sizeof(CacheChunk)));
        cache->replace_next = static_cast<uint8_t*>(std::calloc(sets, 1));
        if (!cache->chunks || !cache->replace_next) {
            std::free(cache->chunks);
            std::free(cache->replace_next);
            cache->chunks = nullptr;
            cache->replace_next = nullptr;
            errno = ENOMEM;
            return nullptr;
        }
        cache->chunk_bytes = bytes;
        cache->chunk_sets = sets;
    }
    uint64_t index = offset / cache->chunk_bytes;
    uint32_t set = uint32_t(index % cache->chunk_sets);
    CacheChunk* ways = &cache->chunks[set * 2];
    for (uint32_t way = 0; way < 2; ++way) {
        if (ways[way].used && ways[way].index == index) {
            cache->replace_next[set] = uint8_t(1 - way);
            return ways[way].bytes + offset % cache->chunk_bytes;
        }
    }
    uint32_t way = cache->replace_next[set];
    CacheChunk* chunk = &ways[way];
    chunk->used = false;
    if (!chunk->bytes) {
        chunk->bytes = static_cast<uint8_t*>(std::malloc(cache->chunk_bytes));
        if (!chunk->bytes) {
            errno = ENOMEM;
            return nullptr;
        }
    }
    uint64_t start = index * cache->chunk_bytes;
    uint64_t left = table->size - start;
    uint32_t n = left < cache->chunk_bytes ? uint32_t(left) : cache->chunk_bytes;
    if (!stream_read(source, table, cluster_bytes, start, n, chunk->bytes)) return nullptr;
    chunk->used = true;
    chunk->index = index;
    cache->replace_next[set] = uint8_t(1 - way);
    return chunk->bytes + offset % cache->chunk_bytes;
}
}  // namespace

const uint8_t* cache_block(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                           const NtfsStream* stream, uint64_t index, uint32_t* length) {
    uint64_t blocks = (stream->size + CACHE_BLOCK_BYTES - 1) / CACHE_BLOCK_BYTES;
    if (index >= blocks) {
        errno = EINVAL;
        return nullptr;
    }
    if (stream->resident) {
        *length = uint32_t(stream->size);
        return stream->resident;
    }
    CacheBlock* block = find_block(cache, stream, index);
    if (!block) block = fill_block(cache, source, cluster_bytes, stream, index);
    return block ? use_block(cache, block, length) : nullptr;
}

const uint8_t* cache_record(BlockCache* cache, const ByteSource* source, uint32_t cluster_bytes,
                            const NtfsStream* table, uint64_t offset, uint32_t record_size) {
    if (offset > table->size || record_size > table->size - offset) {
        errno = EINVAL;
        return nullptr;
    }
    // Records are a power of two of at most 64 KiB, so none crosses a view block.
    static_assert(VIEW_BLOCK_BYTES % 65536 == 0);
    if (const uint8_t* in_place =
            view_bytes(&cache->view, source, table, cluster_bytes, offset, record_size))
        return in_place;
    uint64_t index = offset / CACHE_BLOCK_BYTES;
    uint32_t length;
    CacheBlock* block = find_block(cache, table, index);
    if (!block && (cache->scan_block == ~uint64_t(0) || index + 1 == cache->scan_block)) {
        block = fill_block(cache, source, cluster_bytes, table, index);
        if (!block) return nullptr;
        cache->scan_block = index;
    }
    if (block) return use_block(cache, block, &length) + offset % CACHE_BLOCK_BYTES;
    return chunk_bytes(cache, source, cluster_bytes, table, offset, record_size);
}

void cache_release(BlockCache* cache) {
    for (CacheBlock& block : cache->blocks) std::free(block.bytes);
    if (cache->chunks)
        for (uint32_t i = 0; i < cache->chunk_sets * 2; ++i) std::free(cache->chunks[i].bytes);
    std::free(cache->chunks);
    std::free(cache->replace_next);
    view_release(&cache->view);
    *cache = BlockCache{};
}
