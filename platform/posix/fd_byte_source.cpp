#include "platform/posix/fd_byte_source.h"

#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>

bool table_view_enabled = true;

namespace {

int read_bytes(void* context, uint64_t offset, void* dest, size_t length) {
    const int fd = static_cast<FdByteSource*>(context)->fd;
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

// The pages holding [offset, offset + length), or false when they lie
// beyond the map.
bool page_span(const FdByteSource* s, uint64_t offset, uint64_t length, uint8_t** start,
               size_t* bytes) {
    if (offset > s->map_length || length > s->map_length - offset) return false;
    const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
    const uint64_t from = offset & ~(page - 1);
    *start = const_cast<uint8_t*>(s->map + from);
    *bytes = size_t(offset + length - from);
    return true;
}

const uint8_t* view_bytes(void* context, uint64_t offset, uint64_t length) {
    FdByteSource* s = static_cast<FdByteSource*>(context);
    uint8_t* start;
    size_t bytes;
    if (!open_map(s)) {
        errno = EINVAL;
        return nullptr;
    }
    if (!page_span(s, offset, length, &start, &bytes)) {
        errno = EIO;
        return nullptr;
    }
    // Faulting the pages in now reports an unreadable one as an error;
    // merely touching it later would end the process instead. EINVAL: a
    // kernel without it (before 5.14), so nothing can be viewed safely.
    if (madvise(start, bytes, MADV_POPULATE_READ) != 0) {
        if (errno == EINVAL) s->map_state = FD_MAP_NONE;
        return nullptr;
    }
    return s->map + offset;
}

void prefetch_bytes(void* context, uint64_t offset, uint64_t length) {
    FdByteSource* s = static_cast<FdByteSource*>(context);
    uint8_t* start;
    size_t bytes;
    // Read-ahead is a hint, whose failure changes nothing.
    if (open_map(s) && page_span(s, offset, length, &start, &bytes))
        madvise(start, bytes, MADV_WILLNEED);
}

}  // namespace

void fd_source_start(FdByteSource* fd_source, int fd, ByteSource* source) {
    *fd_source = FdByteSource{fd, 0, nullptr, 0};
    const off_t end = lseek(fd, 0, SEEK_END);
    source->context = fd_source;
    // A descriptor that cannot tell its size is read until it ends.
    source->length = end >= 0 ? uint64_t(end) : ~uint64_t(0);
    source->read = read_bytes;
    source->view = table_view_enabled ? view_bytes : nullptr;
    source->prefetch = table_view_enabled ? prefetch_bytes : nullptr;
}

void fd_source_release(FdByteSource* fd_source) {
    if (fd_source->map)
        munmap(const_cast<uint8_t*>(fd_source->map), size_t(fd_source->map_length));
    *fd_source = FdByteSource{-1, 0, nullptr, 0};
}
