#include "platform/posix/ntfs_stream.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

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

int volume_read(int fd, uint64_t offset, void* dest, uint64_t length) {
    uint8_t* to = static_cast<uint8_t*>(dest);
    while (length) {
        ssize_t got = pread(fd, to, size_t(length), off_t(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (got == 0) {  // the device or image ends before the volume does
            errno = EIO;
            return 0;
        }
        to += got;
        offset += uint64_t(got);
        length -= uint64_t(got);
    }
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

int stream_read(int fd, const NtfsStream* s, uint32_t cluster_bytes, uint64_t offset,
                uint32_t length, uint8_t* dest) {
    if (offset > s->size || length > s->size - offset) {
        errno = EINVAL;
        return 0;
    }
    uint64_t valid = s->valid_size < s->size ? s->valid_size : s->size;
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
        else if (!volume_read(fd, e->lcn * cluster_bytes + (at - e->vcn * cluster_bytes), to, take))
            return 0;
        at += take;
    }
    return 1;
}

void stream_free(NtfsStream* s) {
    std::free(s->extents);
    std::free(s->resident);
    *s = NtfsStream{};
}
