// The NTFS reader's byte source over a file descriptor of a device or image:
// every byte copied out with pread, read-ahead asked of the kernel with
// posix_fadvise. Nothing of the device is mapped, so a device that shrinks or
// fails mid-run makes a read fail (EIO) instead of ending the process.
#pragma once

#include "ntfs/byte_source.h"

struct FdByteSource {
    int fd;
};

// Fills source (whose context is fd_source) for the descriptor; the length
// is the device's or file's size.
void fd_source_start(FdByteSource* fd_source, int fd, ByteSource* source);
