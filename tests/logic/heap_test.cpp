// The heap's kept blocks: handed out again only when free, never smaller
// than asked, bounded, and never ahead of an injected failure.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/heap.h"

namespace {

struct KeepFreed {
    bool saved = heap_keep_freed;
    explicit KeepFreed(bool keep) { heap_keep_freed = keep; }
    ~KeepFreed() { heap_keep_freed = saved; }
};

// Each class's edges: a multiple of its step and one past it, small and large.
const size_t SIZES[] = {0,    1,    15,   16,   17,   32,   33,   40,    48,    56,  64,
                        1000, 1024, 1025, 1039, 2048, 2049, 3000, 3072, 4097, 65536, 65537, 1 << 20};

void fill(void* block, size_t bytes, unsigned char seed) {
    auto* p = static_cast<unsigned char*>(block);
    for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(seed + i * 7);
}

bool intact(const void* block, size_t bytes, unsigned char seed) {
    auto* p = static_cast<const unsigned char*>(block);
    for (size_t i = 0; i < bytes; ++i)
        if (p[i] != static_cast<unsigned char>(seed + i * 7)) return false;
    return true;
}

// Every live block keeps its own bytes, whether freed blocks are kept or
// not, through rounds of mixed sizes that free and reuse each other's blocks.
TEST(Heap, LiveBlocksNeverShareBytes) {
    for (bool keep : {false, true}) {
        KeepFreed mode(keep);
        std::vector<std::pair<void*, size_t>> live;
        for (int round = 0; round < 4; ++round) {
            for (size_t size : SIZES) {
                for (int copy = 0; copy < 2; ++copy) {
                    void* block = heap_alloc(size);
                    ASSERT_NE(block, nullptr) << size;
                    live.push_back({block, size});
                }
            }
            for (size_t i = 0; i < live.size(); ++i)
                fill(live[i].first, live[i].second, static_cast<unsigned char>(i));
            for (size_t i = 0; i < live.size(); ++i)
                EXPECT_TRUE(intact(live[i].first, live[i].second, static_cast<unsigned char>(i)))
                    << "keep " << keep << ", size " << live[i].second;
            // Free every other block, so that the next round reuses them among live ones.
            std::vector<std::pair<void*, size_t>> kept_live;
            for (size_t i = 0; i < live.size(); ++i) {
                if (i % 2) heap_free(live[i].first);
                else kept_live.push_back(live[i]);
            }
            live = kept_live;
        }
        for (auto& block : live) heap_free(block.first);
    }
}

TEST(Heap, FreedBlocksAreReusedForRequestsTheyHold) {
    KeepFreed mode(true);
    void* record = heap_alloc(1039);  // a record buffer: above the C library's fast sizes
    heap_free(record);
    void* again = heap_alloc(1039);
    EXPECT_EQ(again, record);
    fill(again, 1039, 1);
    heap_free(again);
    // A request of the same class takes it and can use all it asked for.
    void* larger = heap_alloc(2000);
    EXPECT_EQ(larger, record);
    fill(larger, 2000, 2);
    EXPECT_TRUE(intact(larger, 2000, 2));
    heap_free(larger);
    // A request above the class does not.
    void* above = heap_alloc(2049);
    EXPECT_NE(above, record);
    fill(above, 2049, 3);
    heap_free(above);
    heap_free(heap_alloc(1039));
}

TEST(Heap, WhatIsKeptIsBounded) {
    KeepFreed mode(true);
    std::vector<void*> blocks;
    for (int i = 0; i < 64; ++i) blocks.push_back(heap_alloc(64 * 1024));  // 4 MiB
    for (void* block : blocks) heap_free(block);
    // Kept up to the bound, from whatever other sizes held before.
    EXPECT_LE(heap_kept_bytes(), size_t(1) << 20);
    EXPECT_GT(heap_kept_bytes(), (size_t(1) << 20) - 64 * 1024);
    // Nothing is kept while keeping is off.
    heap_keep_freed = false;
    void* block = heap_alloc(100);
    const size_t before = heap_kept_bytes();
    heap_free(block);
    EXPECT_EQ(heap_kept_bytes(), before);
}

TEST(Heap, InjectedFailureComesBeforeAKeptBlock) {
    KeepFreed mode(true);
    heap_free(heap_alloc(100));
    heap_failure_countdown = 1;
    EXPECT_EQ(heap_alloc(100), nullptr);
    EXPECT_EQ(heap_failure_countdown, -1);
    void* block = heap_alloc(100);
    EXPECT_NE(block, nullptr);
    heap_free(block);
    heap_free(nullptr);
}

}  // namespace
