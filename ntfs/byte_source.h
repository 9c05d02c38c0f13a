// Where the NTFS reader gets a volume's bytes from: a device, an image file,
// a buffer in a test. The reader knows no operating system; whoever opens
// the volume fills this record with functions of its own.
//
// Failures are told through errno, with the standard C++ error numbers
// (EIO for a device that fails or ends early, ENOMEM, ...).
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteSource {
    void* context;    // handed back to every function
    uint64_t length;  // bytes the device or image holds
    // Reads exactly length bytes at offset into dest; 0 with errno set when
    // they cannot all be read.
    int (*read)(void* context, uint64_t offset, void* dest, size_t length);
    // Optional (null when the source has none): the length bytes at offset,
    // in place and read-only, ready to be touched, and valid until the source
    // is closed; null (errno set) when they must be read by copy. EINVAL
    // means the source can never hand out such views, so asking again is
    // pointless.
    const uint8_t* (*view)(void* context, uint64_t offset, uint64_t length);
    // Optional: a hint that the bytes at offset will be wanted soon.
    void (*prefetch)(void* context, uint64_t offset, uint64_t length);
};

// Reads exactly length bytes at offset of the volume; 0 (errno set) when the
// source fails or the bytes lie beyond its end.
int source_read(const ByteSource* source, uint64_t offset, void* dest, uint64_t length);
