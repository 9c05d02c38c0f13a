#include "ntfs/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ntfs/layout.h"

int stream_add_extent(NtfsStream* stream, uint64_t lcn, uint64_t clusters) {
    if (clusters == 0 || clusters > ~uint64_t(0) - stream->next_vcn) return 0;
    if (stream->count == stream->capacity) {
        if (stream->capacity >= NTFS_MAX_EXTENTS) return 0;
        uint32_t grown = stream->capacity ? stream->capacity * 2 : 8;
        void* more = std::realloc(stream->extents, grown * sizeof(NtfsExtent));
        if (!more) return 0;
        stream->extents = static_cast<NtfsExtent*>(more);
        stream->capacity = grown;
    }
    stream->extents[stream->count++] = NtfsExtent{stream->next_vcn, lcn, clusters};
    stream->next_vcn += clusters;
    return 1;
}

namespace {
struct RunSpan {
    uint64_t lcn;
    uint64_t clusters;
};
bool operator<(const RunSpan& left, const RunSpan& right) { return left.lcn < right.lcn; }

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

int stream_keep_disjoint_runs(NtfsStream* stream) {
    uint32_t keep = 0;
    while (keep < stream->count && stream->extents[keep].lcn != NTFS_SPARSE) ++keep;
    if (keep > 1) {
        RunSpan* spans = static_cast<RunSpan*>(std::malloc(keep * sizeof(RunSpan)));
        if (!spans) {
            errno = ENOMEM;
            return 0;
        }
        if (!runs_disjoint(stream->extents, keep, spans)) {
            // Every part of a disjoint list is disjoint: search for the
            // longest disjoint beginning, one sort per step.
            uint32_t low = 1, high = keep - 1;
            while (low < high) {
                uint32_t middle = high - (high - low) / 2;
                if (runs_disjoint(stream->extents, middle, spans)) low = middle;
                else high = middle - 1;
            }
            keep = low;
        }
        std::free(spans);
    }
    stream->count = keep;
    if (keep) stream->next_vcn = stream->extents[keep - 1].vcn + stream->extents[keep - 1].clusters;
    else if (!stream->resident) stream->next_vcn = 0;
    return 1;
}

namespace {
// The run holding vcn; null when no run does.
const NtfsExtent* find_extent(const NtfsStream* stream, uint64_t vcn) {
    uint32_t low = 0, high = stream->count;
    while (low < high) {
        uint32_t mid = low + (high - low) / 2;
        const NtfsExtent* e = &stream->extents[mid];
        if (vcn < e->vcn) high = mid;
        else if (vcn - e->vcn >= e->clusters) low = mid + 1;
        else return e;
    }
    return nullptr;
}
}  // namespace

int stream_read(const ByteSource* source, const NtfsStream* stream, uint32_t cluster_bytes,
                uint64_t offset, uint32_t length, uint8_t* dest) {
    if (offset > stream->size || length > stream->size - offset) {
        errno = EINVAL;
        return 0;
    }
    const uint64_t valid = stream_valid_bytes(stream);
    uint64_t end = offset + length;
    if (end > valid) {
        uint64_t from = offset > valid ? offset : valid;
        std::memset(dest + (from - offset), 0, size_t(end - from));
        end = from;
    }
    if (stream->resident) {
        std::memcpy(dest, stream->resident + offset, size_t(end - offset));
        return 1;
    }
    uint64_t at = offset;
    while (at < end) {
        const NtfsExtent* e = find_extent(stream, at / cluster_bytes);
        if (!e) {
            errno = EIO;
            return 0;
        }
        uint64_t run_end = (e->vcn + e->clusters) * cluster_bytes;
        uint64_t take = (run_end < end ? run_end : end) - at;
        uint8_t* to = dest + (at - offset);
        if (e->lcn == NTFS_SPARSE) std::memset(to, 0, size_t(take));
        else if (!source_read(source, e->lcn * cluster_bytes + (at - e->vcn * cluster_bytes), to,
                              take))
            return 0;
        at += take;
    }
    return 1;
}

int stream_run_at(const NtfsStream* stream, uint32_t cluster_bytes, uint64_t offset,
                  uint64_t* volume_offset, uint64_t* run_left) {
    const uint64_t valid = stream_valid_bytes(stream);
    if (stream->resident || offset >= valid) return 0;
    const NtfsExtent* e = find_extent(stream, offset / cluster_bytes);
    if (!e || e->lcn == NTFS_SPARSE) return 0;
    uint64_t within = offset - e->vcn * cluster_bytes;
    uint64_t left = e->clusters * cluster_bytes - within;
    *volume_offset = e->lcn * cluster_bytes + within;
    *run_left = left < valid - offset ? left : valid - offset;
    return 1;
}

void stream_cut_at(NtfsStream* stream, uint32_t cluster_bytes, uint64_t volume_bytes) {
    if (stream->resident) return;
    uint64_t mapped = ~uint64_t(0);  // the stream'stream bytes that lie on the volume
    uint32_t keep = 0;
    for (; keep < stream->count; ++keep) {
        NtfsExtent& e = stream->extents[keep];
        if (e.lcn == NTFS_SPARSE) continue;
        const uint64_t start = e.lcn * cluster_bytes;  // lcn is below the volume'stream clusters
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
    stream->count = keep;
    stream->next_vcn =
        keep ? stream->extents[keep - 1].vcn + stream->extents[keep - 1].clusters : 0;
    if (mapped > stream->next_vcn * cluster_bytes) mapped = stream->next_vcn * cluster_bytes;
    if (stream->size > mapped) stream->size = mapped;
}

void stream_prefetch(const ByteSource* source, const NtfsStream* stream, uint32_t cluster_bytes,
                     uint64_t offset, uint64_t length) {
    if (!source->prefetch || offset >= stream->size) return;
    const uint64_t end = length < stream->size - offset ? offset + length : stream->size;
    while (offset < end) {
        uint64_t at, left;
        if (!stream_run_at(stream, cluster_bytes, offset, &at, &left)) return;
        const uint64_t take = left < end - offset ? left : end - offset;
        source->prefetch(source->context, at, take);
        offset += take;
    }
}

void stream_free(NtfsStream* stream) {
    std::free(stream->extents);
    std::free(stream->resident);
    *stream = NtfsStream{};
}

int stream_add_piece(NtfsStream* stream, const uint8_t* attribute, uint32_t length,
                     uint64_t total_clusters, uint32_t cluster_bytes) {
    const uint64_t first_vcn = ntfs_le64(attribute + NTFS_NONRESIDENT_FIRST_VCN);
    const uint64_t last_vcn = ntfs_le64(attribute + NTFS_NONRESIDENT_LAST_VCN);
    if (first_vcn != stream->next_vcn || stream->resident) return 0;
    if (first_vcn == 0) {
        stream->size = ntfs_le64(attribute + NTFS_NONRESIDENT_DATA_SIZE);
        stream->valid_size = ntfs_le64(attribute + NTFS_NONRESIDENT_VALID_SIZE);
    }
    // Every byte offset in the stream must stay within a signed 64-bit value.
    const uint64_t vcn_limit = (uint64_t(1) << 62) / cluster_bytes;
    const uint8_t* p = attribute + ntfs_le16(attribute + NTFS_NONRESIDENT_RUNS_OFFSET);
    const uint8_t* end = attribute + length;
    if (p < attribute + NTFS_NONRESIDENT_HEADER_BYTES || p > end) return 0;
    int64_t lcn = 0;
    while (p < end && *p) {
        uint32_t length_bytes = *p & 0x0F;
        uint32_t delta_bytes = *p >> 4;
        if (length_bytes == 0 || length_bytes > 8 || delta_bytes > 8 ||
            uint32_t(end - p) < 1 + length_bytes + delta_bytes)
            return 0;
        ++p;
        uint64_t clusters = 0;
        for (uint32_t i = 0; i < length_bytes; ++i) clusters |= uint64_t(p[i]) << (8 * i);
        p += length_bytes;
        if (clusters == 0 || clusters > vcn_limit - stream->next_vcn ||
            stream->next_vcn + clusters - 1 > last_vcn)
            return 0;
        uint64_t run_lcn = NTFS_SPARSE;
        if (delta_bytes) {
            uint64_t raw = 0;
            for (uint32_t i = 0; i < delta_bytes; ++i) raw |= uint64_t(p[i]) << (8 * i);
            p += delta_bytes;
            if (delta_bytes < 8 && (raw >> (8 * delta_bytes - 1)) & 1)
                raw |= ~uint64_t(0) << (8 * delta_bytes);  // sign extension
            if (__builtin_add_overflow(lcn, int64_t(raw), &lcn) || lcn < 0 ||
                uint64_t(lcn) >= total_clusters || clusters > total_clusters - uint64_t(lcn))
                return 0;
            run_lcn = uint64_t(lcn);
        }
        if (!stream_add_extent(stream, run_lcn, clusters)) return 0;
    }
    return stream->next_vcn == last_vcn + 1;
}
