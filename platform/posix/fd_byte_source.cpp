#include "platform/posix/fd_byte_source.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

int read_bytes(void* context, uint64_t offset, void* dest, size_t length) {
    FdByteSource* s = static_cast<FdByteSource*>(context);
    const int fd = s->fd;
    uint8_t* to = static_cast<uint8_t*>(dest);
    // First without waiting for the device: whether that takes every byte
    // tells the read-ahead whether it has anything to do. Any failure here
    // (data not cached, or no support for it) is left to pread below.
    struct iovec vector = {to, length};
    const ssize_t cached = length ? preadv2(fd, &vector, 1, off_t(offset), RWF_NOWAIT) : 0;
    s->cached = cached == ssize_t(length);
    if (cached > 0) {
        to += cached;
        offset += uint64_t(cached);
        length -= size_t(cached);
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
    FdByteSource* s = static_cast<FdByteSource*>(context);
    // Asking for what is cached already costs a look-up per page; and a
    // failed hint changes nothing.
    if (!s->cached)
        posix_fadvise(s->fd, off_t(offset), off_t(length), POSIX_FADV_WILLNEED);
}

}  // namespace

void fd_source_start(FdByteSource* fd_source, int fd, ByteSource* source) {
    fd_source->fd = fd;
    fd_source->cached = false;
    const off_t end = lseek(fd, 0, SEEK_END);  // also the size of a block device
    source->context = fd_source;
    // A descriptor that cannot tell its size is read until it ends.
    source->length = end >= 0 ? uint64_t(end) : ~uint64_t(0);
    source->read = read_bytes;
    source->prefetch = prefetch_bytes;
}
