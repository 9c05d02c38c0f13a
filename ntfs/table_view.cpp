#include "ntfs/table_view.h"

#include <cerrno>
#include <cstdlib>

namespace {
enum : uint8_t {
    BLOCK_UNTRIED = 0,  // nothing known yet
    BLOCK_ADVISED,      // readable in place; read-ahead asked
    BLOCK_MAPPED,       // viewed, in one run: read in place from block_at
    BLOCK_SPLIT,        // viewed, across runs: each record placed by its piece
    BLOCK_COPIED,       // left to the copying path
};

uint64_t block_length(const NtfsStream* table, uint64_t index) {
    uint64_t left = table->size - index * VIEW_BLOCK_BYTES;
    return left < VIEW_BLOCK_BYTES ? left : uint64_t(VIEW_BLOCK_BYTES);
}

// Where one run's part of a block lies on the volume.
struct Piece {
    uint64_t start;  // in the table
    uint64_t at;     // on the volume
    uint64_t length;
};

// Calls visit for each piece of a block, one per run, in table order. False
// when a piece cannot be read in place (a hole, bytes above the valid size,
// or beyond the end of the source), or visit refuses one.
template <typename Visit>
bool walk_pieces(const ByteSource* source, const NtfsStream* table, uint32_t cluster_bytes,
                 uint64_t index, Visit visit) {
    const uint64_t end = index * VIEW_BLOCK_BYTES + block_length(table, index);
    for (uint64_t offset = index * VIEW_BLOCK_BYTES; offset < end;) {
        uint64_t at, left;
        if (!stream_run_at(table, cluster_bytes, offset, &at, &left)) return false;
        const uint64_t take = left < end - offset ? left : end - offset;
        if (at > source->length || take > source->length - at) return false;
        if (!visit(Piece{offset, at, take})) return false;
        offset += take;
    }
    return true;
}

// Decides, the first time a block is met, whether it can be read in place,
// and asks the source to start reading it. False when it is left to copies.
bool advise(TableView* v, const ByteSource* source, const NtfsStream* table,
            uint32_t cluster_bytes, uint64_t index) {
    uint8_t& state = v->block_state[index];
    if (state == BLOCK_UNTRIED) {
        const bool readable = walk_pieces(source, table, cluster_bytes, index, [&](Piece p) {
            if (source->prefetch) source->prefetch(source->context, p.at, p.length);
            return true;
        });
        state = readable ? BLOCK_ADVISED : BLOCK_COPIED;
    }
    return state != BLOCK_COPIED;
}

bool add_piece(TableView* v, const ViewPiece& piece) {
    if (v->piece_count == v->piece_capacity) {
        const uint32_t grown = v->piece_capacity ? 2 * v->piece_capacity : 16;
        void* more = std::realloc(v->pieces, grown * sizeof(ViewPiece));
        if (!more) return false;
        v->pieces = static_cast<ViewPiece*>(more);
        v->piece_capacity = grown;
    }
    v->pieces[v->piece_count++] = piece;
    return true;
}

// Views a block whole and marks it MAPPED or SPLIT; false when it is left to copies.
bool map_block(TableView* v, const ByteSource* source, const NtfsStream* table,
               uint32_t cluster_bytes, uint64_t index) {
    if (!advise(v, source, table, cluster_bytes, index)) return false;
    const uint32_t first_piece = v->piece_count;
    uint32_t pieces = 0;
    const uint8_t* first = nullptr;
    errno = 0;
    const bool viewed = walk_pieces(source, table, cluster_bytes, index, [&](Piece p) {
        const uint8_t* in_place = source->view(source->context, p.at, p.length);
        if (!in_place) return false;
        if (pieces++ == 0) first = in_place;
        return add_piece(v, ViewPiece{p.start, p.start + p.length, in_place});
    });
    if (!viewed) {
        // EINVAL: the source can never view, so nothing is read in place.
        // Otherwise the block is unreadable; the copying path then reports it.
        if (errno == EINVAL) v->state = VIEW_NONE;
        v->piece_count = first_piece;
        v->block_state[index] = BLOCK_COPIED;
        return false;
    }
    if (pieces == 1) {
        v->piece_count = first_piece;
        v->block_at[index] = first;
        v->block_state[index] = BLOCK_MAPPED;
    } else {
        v->block_piece[index] = first_piece;
        v->block_state[index] = BLOCK_SPLIT;
    }
    for (uint64_t k = 1; k <= VIEW_READ_AHEAD_BLOCKS && k <= index; ++k)
        advise(v, source, table, cluster_bytes, index - k);
    return true;
}

bool open_view(TableView* v, const ByteSource* source, const NtfsStream* table) {
    if (!source->view || table->resident || table->size == 0) return false;
    const uint64_t blocks = (table->size + VIEW_BLOCK_BYTES - 1) / VIEW_BLOCK_BYTES;
    v->block_at = static_cast<const uint8_t**>(std::calloc(blocks, sizeof(const uint8_t*)));
    v->block_piece = static_cast<uint32_t*>(std::calloc(blocks, sizeof(uint32_t)));
    v->block_state = static_cast<uint8_t*>(std::calloc(blocks, 1));
    v->block_count = blocks;
    return v->block_at && v->block_piece && v->block_state;
}
}  // namespace

const uint8_t* view_bytes(TableView* v, const ByteSource* source, const NtfsStream* table,
                          uint32_t cluster_bytes, uint64_t offset, uint32_t length) {
    if (v->state != VIEW_OPEN) {
        if (v->state == VIEW_NONE) return nullptr;
        v->state = open_view(v, source, table) ? VIEW_OPEN : VIEW_NONE;
        if (v->state == VIEW_NONE) return nullptr;
    }
    const uint64_t index = offset / VIEW_BLOCK_BYTES;
    if (index >= v->block_count) return nullptr;
    if (v->block_state[index] != BLOCK_MAPPED && v->block_state[index] != BLOCK_SPLIT &&
        !map_block(v, source, table, cluster_bytes, index))
        return nullptr;
    if (v->block_state[index] == BLOCK_MAPPED)
        return v->block_at[index] + offset % VIEW_BLOCK_BYTES;
    // Across runs: the piece holding offset, which must hold the whole length.
    for (uint32_t i = v->block_piece[index]; i < v->piece_count; ++i) {
        const ViewPiece& piece = v->pieces[i];
        if (offset < piece.start) break;
        if (offset < piece.end)
            return length <= piece.end - offset ? piece.at + (offset - piece.start) : nullptr;
    }
    return nullptr;
}

void view_release(TableView* v) {
    std::free(v->block_at);
    std::free(v->block_piece);
    std::free(v->block_state);
    std::free(v->pieces);
    *v = TableView{};
}
