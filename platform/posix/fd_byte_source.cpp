#include "platform/posix/fd_byte_source.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// A small read (a record for path reconstruction, a chunk of the bitmap)
// that has to wait for the device brings the aligned stretch around it
// along, as a fault in a map of the device would: the directories it asks
// for lie near each other. The scan's blocks are read ahead by its hints.
constexpr uint64_t SMALL_READ_BYTES = 64u << 10;
constexpr uint64_t NEIGHBOURHOOD_BYTES = 128u << 10;

// Whether the small read could be served from the page cache alone; if
// not, the neighbourhood is asked for. *done is what was read.
bool read_cached(int fd, uint64_t offset, uint8_t* to, size_t length, size_t* done) {
    struct iovec vector = {to, length};
    const ssize_t got = preadv2(fd, &vector, 1, off_t(offset), RWF_NOWAIT);
    *done = got > 0 ? size_t(got) : 0;
    if (*done == length) return true;
    const uint64_t around = offset - offset % NEIGHBOURHOOD_BYTES;
    posix_fadvise(fd, off_t(around), off_t(NEIGHBOURHOOD_BYTES), POSIX_FADV_WILLNEED);
    return false;
}

int read_bytes(void* context, uint64_t offset, void* dest, size_t length) {
    const int fd = static_cast<FdByteSource*>(context)->fd;
    uint8_t* to = static_cast<uint8_t*>(dest);
    if (length && length <= SMALL_READ_BYTES) {
        size_t done;
        if (read_cached(fd, offset, to, length, &done)) return 1;
        to += done;
        offset += done;
        length -= done;
    }
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

void prefetch_bytes(void* context, uint64_t offset, uint64_t length) {
    // Read-ahead is a hint, whose failure changes nothing. (Pages cached
    // already cost a look-up each: about a tenth of a warm scan's time.)
    posix_fadvise(static_cast<FdByteSource*>(context)->fd, off_t(offset), off_t(length),
                  POSIX_FADV_WILLNEED);
}

}  // namespace

void fd_source_start(FdByteSource* fd_source, int fd, ByteSource* source) {
    fd_source->fd = fd;
    const off_t end = lseek(fd, 0, SEEK_END);  // also the size of a block device
    source->context = fd_source;
    // A descriptor that cannot tell its size is read until it ends.
    source->length = end >= 0 ? uint64_t(end) : ~uint64_t(0);
    source->read = read_bytes;
    source->prefetch = prefetch_bytes;
}
