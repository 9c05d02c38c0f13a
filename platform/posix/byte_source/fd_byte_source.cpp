// Stands in for the reads of a volume that Windows's NTFS driver makes: on
// Linux, the NTFS reader's byte source over the device or image (pread for
// the scan's blocks, a guarded map for small reads, posix_fadvise read-ahead).
#include "platform/posix/byte_source/fd_byte_source.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/posix/byte_source/guarded_copy.h"

namespace {

constexpr uint64_t SMALL_READ_BYTES = 64u << 10;

// The map's pages stay in the process as they are touched. Path
// reconstruction touches the pages of the directories it climbs through,
// all over the table (about 400 MiB of them for every name of a volume of a
// million files), and one page fault may bring in anything from 64 KiB to
// 2 MiB, as the system's cache holds the file. So every so many faults the
// resident size is looked at, and past the bound the map is released (its
// pages stay in the system's cache, and climbing through them again costs
// faults): the resident size stays bounded on any volume.
constexpr uint64_t RESIDENT_BOUND_BYTES = 448u << 20;
constexpr long FAULTS_BETWEEN_LOOKS = 32;
constexpr uint32_t READS_BETWEEN_COUNTS = 256;

bool open_map(FdByteSource* s) {
    if (s->map_state == 0) {
        s->map_state = FD_MAP_NONE;
        const off_t end = lseek(s->fd, 0, SEEK_END);  // also the size of a block device
        if (end <= 0) return false;
        void* map = mmap(nullptr, size_t(end), PROT_READ, MAP_SHARED, s->fd, 0);
        if (map == MAP_FAILED) return false;
        s->map = static_cast<const uint8_t*>(map);
        s->map_length = uint64_t(end);
        s->map_state = FD_MAP_OPEN;
    }
    return s->map_state == FD_MAP_OPEN;
}

long page_faults() {
    struct rusage usage;
    return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_minflt + usage.ru_majflt : 0;
}

// The process's resident bytes; 0 when they cannot be told.
uint64_t resident_bytes() {
    char text[128];
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) return 0;
    text[got] = '\0';
    unsigned long long size = 0, resident = 0;
    if (std::sscanf(text, "%llu %llu", &size, &resident) != 2) return 0;
    return uint64_t(resident) * uint64_t(sysconf(_SC_PAGESIZE));
}

void bound_resident_map(FdByteSource* s) {
    if (++s->reads_since_check < READS_BETWEEN_COUNTS) return;
    s->reads_since_check = 0;
    const long faults = page_faults();
    if (faults - s->faults_at_look < FAULTS_BETWEEN_LOOKS) return;
    s->faults_at_look = faults;
    if (resident_bytes() > RESIDENT_BOUND_BYTES)
        madvise(const_cast<uint8_t*>(s->map), size_t(s->map_length), MADV_DONTNEED);
}

// A small read out of the map: 1 when done, 0 with errno EIO when a page of
// it cannot be read, -1 when the map cannot serve it (no map, or the bytes
// lie beyond it).
int read_mapped(FdByteSource* s, uint64_t offset, void* dest, size_t length) {
    if (!open_map(s) || offset > s->map_length || length > s->map_length - offset) return -1;
    bound_resident_map(s);
    return guarded_copy(dest, s->map + offset, length, s->map, size_t(s->map_length));
}

// Without a map: a small read that has to wait for the device brings the
// aligned stretch around it along, as a fault in a map of the device would:
// the directories path reconstruction asks for lie near each other.
constexpr uint64_t NEIGHBOURHOOD_BYTES = 128u << 10;

// What of the bytes at offset the system's cache holds, read without
// waiting for the device: how many were read from the first on.
size_t read_without_waiting(int fd, uint64_t offset, void* to, size_t length) {
    struct iovec vector = {to, length};
    const ssize_t got = preadv2(fd, &vector, 1, off_t(offset), RWF_NOWAIT);
    return got > 0 ? size_t(got) : 0;
}

// Whether the small read could be served from the page cache alone; if
// not, the neighbourhood is asked for. *done is what was read.
bool read_cached(int fd, uint64_t offset, uint8_t* to, size_t length, size_t* done) {
    *done = read_without_waiting(fd, offset, to, length);
    if (*done == length) return true;
    const uint64_t around = offset - offset % NEIGHBOURHOOD_BYTES;
    posix_fadvise(fd, off_t(around), off_t(NEIGHBOURHOOD_BYTES), POSIX_FADV_WILLNEED);
    return false;
}

// Reads exactly length bytes at offset; 0 with errno set (EIO when the
// device or image ends first).
int pread_all(int fd, uint64_t offset, void* dest, size_t length) {
    uint8_t* to = static_cast<uint8_t*>(dest);
    while (length) {
        ssize_t got = pread(fd, to, length, off_t(offset));
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
        length -= size_t(got);
    }
    return 1;
}

int read_bytes(void* context, uint64_t offset, void* dest, size_t length) {
    FdByteSource* s = static_cast<FdByteSource*>(context);
    const int fd = s->fd;
    uint8_t* to = static_cast<uint8_t*>(dest);
    if (length && length <= SMALL_READ_BYTES) {
        if (int mapped = read_mapped(s, offset, to, length); mapped >= 0) return mapped;
        size_t done;
        if (read_cached(fd, offset, to, length, &done)) return 1;
        to += done;
        offset += done;
        length -= done;
    }
    return pread_all(fd, offset, to, length);
}

// Whether the page at offset is in the system's cache.
bool page_cached(int fd, uint64_t offset) {
    uint8_t byte;
    return read_without_waiting(fd, offset, &byte, 1) == 1;
}

constexpr uint64_t PROBE_STRIDE_BYTES = 16u << 20;

}  // namespace

bool posix_range_cached(int fd, uint64_t offset, uint64_t length) {
    if (!length) return true;
    for (uint64_t at = offset; at < offset + length; at += PROBE_STRIDE_BYTES)
        if (!page_cached(fd, at)) return false;
    return page_cached(fd, offset + length - 1);
}

namespace {

void prefetch_bytes(void* context, uint64_t offset, uint64_t length) {
    // Read-ahead is a hint, whose failure changes nothing. Asking for pages
    // cached already costs a look-up each (for the whole table of a volume of
    // a million files, about a tenth of a warm search), so a range that looks
    // cached is not asked for; a page that was missed is read when wanted.
    // The system acts on one read-ahead window of each hint and drops the
    // rest, so a range is hinted a window at a time.
    const FdByteSource* s = static_cast<const FdByteSource*>(context);
    if (posix_range_cached(s->fd, offset, length)) return;
    for (uint64_t at = offset, end = offset + length; at < end; at += s->hint_bytes) {
        const uint64_t piece = end - at < s->hint_bytes ? end - at : s->hint_bytes;
        posix_fadvise(s->fd, off_t(at), off_t(piece), POSIX_FADV_WILLNEED);
    }
}

}  // namespace

void fd_source_start(FdByteSource* fd_source, int fd, ByteSource* source) {
    *fd_source = FdByteSource{};
    fd_source->fd = fd;
    fd_source->faults_at_look = page_faults();
    fd_source->hint_bytes = posix_read_ahead_window(fd);
    const off_t end = lseek(fd, 0, SEEK_END);  // also the size of a block device
    source->context = fd_source;
    // A descriptor that cannot tell its size is read until it ends.
    source->length = end >= 0 ? uint64_t(end) : ~uint64_t(0);
    source->read = read_bytes;
    source->prefetch = prefetch_bytes;
}

void fd_source_release(FdByteSource* fd_source) {
    if (fd_source->map)
        munmap(const_cast<uint8_t*>(fd_source->map), size_t(fd_source->map_length));
    *fd_source = FdByteSource{};
}
