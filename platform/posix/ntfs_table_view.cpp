#include "platform/posix/ntfs_table_view.h"

#include <cerrno>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

bool table_view_enabled = true;

namespace {
enum : uint8_t {
    BLOCK_UNTRIED = 0,  // nothing known yet
    BLOCK_ADVISED,      // readable in place; read-ahead asked
    BLOCK_MAPPED,       // faulted in, in one run: read in place at block_offset
    BLOCK_SPLIT,        // faulted in, across runs: each record placed on its own
    BLOCK_COPIED,       // left to the copying path
};

uint64_t block_length(const NtfsStream* table, uint64_t index) {
    uint64_t left = table->size - index * VIEW_BLOCK_BYTES;
    return left < VIEW_BLOCK_BYTES ? left : uint64_t(VIEW_BLOCK_BYTES);
}

// Walks the pieces of a block, one per run, giving each the advice (none
// when 0). False when a piece cannot be read in place, or is not faulted in
// for MADV_POPULATE_READ (errno set). *pieces and *first describe the walk.
bool walk_pieces(const TableView* v, const NtfsStream* table, uint32_t cluster_bytes,
                 uint64_t index, int advice, uint32_t* pieces, uint64_t* first) {
    const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
    const uint64_t end = index * VIEW_BLOCK_BYTES + block_length(table, index);
    *pieces = 0;
    for (uint64_t offset = index * VIEW_BLOCK_BYTES; offset < end;) {
        uint64_t at, left;
        if (!stream_run_at(table, cluster_bytes, offset, &at, &left)) return false;
        const uint64_t take = left < end - offset ? left : end - offset;
        if (at > v->volume_length || take > v->volume_length - at) return false;
        if (advice) {
            const uint64_t from = at & ~(page - 1);
            void* start = const_cast<uint8_t*>(v->volume + from);
            // Read-ahead is a hint, whose failure changes nothing.
            if (madvise(start, size_t(at + take - from), advice) != 0 &&
                advice == MADV_POPULATE_READ)
                return false;
        }
        if ((*pieces)++ == 0) *first = at;
        offset += take;
    }
    return true;
}

// Decides, the first time a block is met, whether it can be read in place,
// and asks the kernel to start reading it. False when it is left to copies.
bool advise(TableView* v, const NtfsStream* table, uint32_t cluster_bytes, uint64_t index) {
    uint8_t& state = v->block_state[index];
    if (state == BLOCK_UNTRIED) {
        uint32_t pieces;
        uint64_t first;
        state = walk_pieces(v, table, cluster_bytes, index, MADV_WILLNEED, &pieces, &first)
                    ? BLOCK_ADVISED
                    : BLOCK_COPIED;
    }
    return state != BLOCK_COPIED;
}

// Faults a block in and marks it MAPPED or SPLIT; false when it is left to copies.
bool map_block(TableView* v, const NtfsStream* table, uint32_t cluster_bytes, uint64_t index) {
    if (!advise(v, table, cluster_bytes, index)) return false;
    uint32_t pieces;
    uint64_t first;
    if (!walk_pieces(v, table, cluster_bytes, index, MADV_POPULATE_READ, &pieces, &first)) {
        // EINVAL: a kernel without it (before 5.14), so nothing can be read in
        // place safely. Otherwise the block is unreadable; the copying path
        // then reports it.
        if (errno == EINVAL) v->state = VIEW_NONE;
        v->block_state[index] = BLOCK_COPIED;
        return false;
    }
    v->block_offset[index] = first;
    v->block_state[index] = pieces == 1 ? BLOCK_MAPPED : BLOCK_SPLIT;
    for (uint64_t k = 1; k <= VIEW_READ_AHEAD_BLOCKS && k <= index; ++k)
        advise(v, table, cluster_bytes, index - k);
    return true;
}

bool open_view(TableView* v, int fd, const NtfsStream* table) {
    if (!table_view_enabled || table->resident || table->size == 0) return false;
    const off_t end = lseek(fd, 0, SEEK_END);  // also the size of a block device
    if (end <= 0) return false;
    const uint64_t blocks = (table->size + VIEW_BLOCK_BYTES - 1) / VIEW_BLOCK_BYTES;
    void* map = mmap(nullptr, size_t(end), PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return false;
    v->volume = static_cast<const uint8_t*>(map);
    v->volume_length = uint64_t(end);
    v->block_offset = static_cast<uint64_t*>(std::calloc(blocks, sizeof(uint64_t)));
    v->block_state = static_cast<uint8_t*>(std::calloc(blocks, 1));
    v->block_count = blocks;
    return v->block_offset && v->block_state;
}
}  // namespace

const uint8_t* view_bytes(TableView* v, int fd, const NtfsStream* table, uint32_t cluster_bytes,
                          uint64_t offset, uint32_t length) {
    if (v->state != VIEW_OPEN) {
        if (v->state == VIEW_NONE) return nullptr;
        v->state = open_view(v, fd, table) ? VIEW_OPEN : VIEW_NONE;
        if (v->state == VIEW_NONE) return nullptr;
    }
    const uint64_t index = offset / VIEW_BLOCK_BYTES;
    if (index >= v->block_count) return nullptr;
    if (v->block_state[index] != BLOCK_MAPPED && v->block_state[index] != BLOCK_SPLIT &&
        !map_block(v, table, cluster_bytes, index))
        return nullptr;
    if (v->block_state[index] == BLOCK_MAPPED)
        return v->volume + v->block_offset[index] + offset % VIEW_BLOCK_BYTES;
    uint64_t at, left;
    if (!stream_run_at(table, cluster_bytes, offset, &at, &left) || left < length) return nullptr;
    return v->volume + at;
}

void view_release(TableView* v) {
    if (v->volume) munmap(const_cast<uint8_t*>(v->volume), size_t(v->volume_length));
    std::free(v->block_offset);
    std::free(v->block_state);
    *v = TableView{};
}
