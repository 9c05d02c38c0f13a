#include "ntfs/byte_source.h"

#include <cerrno>

int source_read(const ByteSource* source, uint64_t offset, void* dest, uint64_t length) {
    // The device or image ends before the volume does.
    if (offset > source->length || length > source->length - offset) {
        errno = EIO;
        return 0;
    }
    return length ? source->read(source->context, offset, dest, size_t(length)) : 1;
}

