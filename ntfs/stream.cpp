#include "ntfs/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

int stream_add_extent(NtfsStream* s, uint64_t lcn, uint64_t clusters) {
    if (clusters == 0 || clusters > ~uint64_t(0) - s->next_vcn) return 0;
    if (s->count == s->capacity) {
        if (s->capacity >= NTFS_MAX_EXTENTS) return 0;
        uint32_t grown = s->capacity ? s->capacity * 2 : 8;
        void* more = std::realloc(s->extents, grown * sizeof(NtfsExtent));
        if (!more) return 0;
        s->extents = static_cast<NtfsExtent*>(more);
        s->capacity = grown;
    }
    s->extents[s->count++] = NtfsExtent{s->next_vcn, lcn, clusters};
    s->next_vcn += clusters;
    return 1;
}

namespace {
struct RunSpan {
    uint64_t lcn;
    uint64_t clusters;
};
bool operator<(const RunSpan& a, const RunSpan& b) { return a.lcn < b.lcn; }

// Whether the first count runs share no cluster: in LCN order, each ends
// before the next begins. spans has room for count entries.
bool runs_disjoint(const NtfsExtent* extents, uint32_t count, RunSpan* spans) {
    for (uint32_t i = 0; i < count; ++i) spans[i] = RunSpan{extents[i].lcn, extents[i].clusters};
    std::sort(spans, spans + count);
    for (uint32_t i = 1; i < count; ++i)
        if (spans[i].lcn - spans[i - 1].lcn < spans[i - 1].clusters) return false;
    return true;
}
}  // namespace

int stream_keep_disjoint_runs(NtfsStream* s) {
    uint32_t keep = 0;
    while (keep < s->count && s->extents[keep].lcn != NTFS_SPARSE) ++keep;
    if (keep > 1) {
        RunSpan* spans = static_cast<RunSpan*>(std::malloc(keep * sizeof(RunSpan)));
        if (!spans) {
            errno = ENOMEM;
            return 0;
        }
        if (!runs_disjoint(s->extents, keep, spans)) {
            // Every part of a disjoint list is disjoint: search for the
            // longest disjoint beginning, one sort per step.
            uint32_t low = 1, high = keep - 1;
            while (low < high) {
                uint32_t middle = high - (high - low) / 2;
                if (runs_disjoint(s->extents, middle, spans)) low = middle;
                else high = middle - 1;
            }
            keep = low;
        }
        std::free(spans);
    }
    s->count = keep;
    if (keep) s->next_vcn = s->extents[keep - 1].vcn + s->extents[keep - 1].clusters;
    else if (!s->resident) s->next_vcn = 0;
    return 1;
}

namespace {
// The run holding vcn; null when no run does.
const NtfsExtent* find_extent(const NtfsStream* s, uint64_t vcn) {
    uint32_t low = 0, high = s->count;
    while (low < high) {
        uint32_t mid = low + (high - low) / 2;
        const NtfsExtent* e = &s->extents[mid];
        if (vcn < e->vcn) high = mid;
        else if (vcn - e->vcn >= e->clusters) low = mid + 1;
        else return e;
    }
    return nullptr;
}
}  // namespace

int stream_read(const ByteSource* source, const NtfsStream* s, uint32_t cluster_bytes, uint64_t offset,
                uint32_t length, uint8_t* dest) {
    if (offset > s->size || length > s->size - offset) {
        errno = EINVAL;
        return 0;
    }
    const uint64_t valid = stream_valid_bytes(s);
    uint64_t end = offset + length;
    if (end > valid) {
        uint64_t from = offset > valid ? offset : valid;
        std::memset(dest + (from - offset), 0, size_t(end - from));
        end = from;
    }
    if (s->resident) {
        std::memcpy(dest, s->resident + offset, size_t(end - offset));
        return 1;
    }
    uint64_t at = offset;
    while (at < end) {
        const NtfsExtent* e = find_extent(s, at / cluster_bytes);
        if (!e) {
            errno = EIO;
            return 0;
        }
        uint64_t run_end = (e->vcn + e->clusters) * cluster_bytes;
        uint64_t take = (run_end < end ? run_end : end) - at;
        uint8_t* to = dest + (at - offset);
        if (e->lcn == NTFS_SPARSE) std::memset(to, 0, size_t(take));
        else if (!source_read(source, e->lcn * cluster_bytes + (at - e->vcn * cluster_bytes), to, take))
            return 0;
        at += take;
    }
    return 1;
}

int stream_run_at(const NtfsStream* s, uint32_t cluster_bytes, uint64_t offset,
                  uint64_t* volume_offset, uint64_t* run_left) {
    const uint64_t valid = stream_valid_bytes(s);
    if (s->resident || offset >= valid) return 0;
    const NtfsExtent* e = find_extent(s, offset / cluster_bytes);
    if (!e || e->lcn == NTFS_SPARSE) return 0;
    uint64_t within = offset - e->vcn * cluster_bytes;
    uint64_t left = e->clusters * cluster_bytes - within;
    *volume_offset = e->lcn * cluster_bytes + within;
    *run_left = left < valid - offset ? left : valid - offset;
    return 1;
}

void stream_cut_at(NtfsStream* s, uint32_t cluster_bytes, uint64_t volume_bytes) {
    if (s->resident) return;
    uint64_t mapped = ~uint64_t(0);  // the stream's bytes that lie on the volume
    uint32_t keep = 0;
    for (; keep < s->count; ++keep) {
        NtfsExtent& e = s->extents[keep];
        if (e.lcn == NTFS_SPARSE) continue;
        const uint64_t start = e.lcn * cluster_bytes;  // lcn is below the volume's clusters
        if (start >= volume_bytes) break;
        const uint64_t room = volume_bytes - start;
        if (e.clusters > room / cluster_bytes) {
            // The run crosses the end; the records of its last cluster that
            // lie before it are still read.
            e.clusters = (room + cluster_bytes - 1) / cluster_bytes;
            mapped = e.vcn * cluster_bytes + room;
            ++keep;
            break;
        }
    }
    s->count = keep;
    s->next_vcn = keep ? s->extents[keep - 1].vcn + s->extents[keep - 1].clusters : 0;
    if (mapped > s->next_vcn * cluster_bytes) mapped = s->next_vcn * cluster_bytes;
    if (s->size > mapped) s->size = mapped;
}

void stream_prefetch(const ByteSource* source, const NtfsStream* s, uint32_t cluster_bytes,
                     uint64_t offset, uint64_t length) {
    if (!source->prefetch || offset >= s->size) return;
    const uint64_t end = length < s->size - offset ? offset + length : s->size;
    while (offset < end) {
        uint64_t at, left;
        if (!stream_run_at(s, cluster_bytes, offset, &at, &left)) return;
        const uint64_t take = left < end - offset ? left : end - offset;
        source->prefetch(source->context, at, take);
        offset += take;
    }
}

void stream_free(NtfsStream* s) {
    std::free(s->extents);
    std::free(s->resident);
    *s = NtfsStream{};
}
