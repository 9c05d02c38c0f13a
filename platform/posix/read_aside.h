// A thread of the byte source's own that copies one read at a time out of a
// descriptor while the reader works on the bytes it has: on a machine with a
// second processor the system's copy of the table then costs the scan
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

struct ReadAside;

// 1 when the read was handed to the thread (started at the first read), 0
// when it was not: no thread (none is started when the caller may run on
// one processor only), a read still in hand, or the reader came back so late
// since its last read aside that the thread would not gain it time.
int read_aside_start(ReadAside** aside, int fd, uint64_t offset, void* dest, size_t length);
// Ends the read in hand: reads it on the caller's thread when the thread has
// not begun it yet (on a busy machine it may not have been let run), else
// waits for it. 1 when every byte was read, 0 with errno set.
int read_aside_wait(ReadAside* aside);
// Ends the thread after the read it is doing, if any (one it has not begun
// is dropped); null is allowed.
void read_aside_stop(ReadAside* aside);

// Reads exactly length bytes at offset; 0 with errno set (EIO when the
// device or image ends first).
int pread_all(int fd, uint64_t offset, void* dest, size_t length);
