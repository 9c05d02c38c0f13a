// Reading ahead in a container whose library reads its files as they lie
// (VHD, VHDX, VMDK, split raw). The scan goes down the table, which the
// system's read-ahead does not follow, and the library opens its files
// itself, out of reach of the hints a raw image gets. So a second handle
// of the library, on a thread of its own, reads each range the scan hints
// at forward, into a buffer it throws away: the files' pages are in the
// page cache when the scan gets there. Compressed containers are left out,
// where this would decompress everything twice, and so is a machine of one
// processor, where the thread would only take the scan's time.
#pragma once

#include <cstddef>
#include <cstdint>

struct ContainerAhead;

// Starts the reader on image, a handle of the library's own that it then
// owns and closes with close(image); null (image closed) when the machine
// has one processor or the thread cannot start.
ContainerAhead* ahead_start(void* image, int (*read)(void* image, uint64_t offset, void* dest, size_t length),
                            void (*close)(void* image));

// Asks for the bytes at [offset, offset + length) to be read ahead; dropped
// when many hints wait already (a hint is never needed).
void ahead_hint(ContainerAhead* ahead, uint64_t offset, uint64_t length);

// Stops the thread, waiting for its read at hand, and closes its handle.
void ahead_stop(ContainerAhead* ahead);
