// Where the NTFS reader gets a volume's bytes from: a device, an image file,
// a buffer in a test. The reader knows no operating system; whoever opens
// the volume fills this record with functions of its own.
//
// Every byte is copied out by read: the reader keeps no pointer into the
// source's own memory, so a device that shrinks or fails mid-run is a failed
// read, never a fault in the middle of a record.
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
    // Optional (null when the source has none): a hint that the bytes at
    // offset will be read soon, so that the device can start on them.
    void (*prefetch)(void* context, uint64_t offset, uint64_t length);
};

// Reads exactly length bytes at offset of the volume; 0 (errno set) when the
// source fails or the bytes lie beyond its end.
int source_read(const ByteSource* source, uint64_t offset, void* dest, uint64_t length);
