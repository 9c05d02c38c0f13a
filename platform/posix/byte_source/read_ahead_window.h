// How much of a read-ahead hint the system acts on. Linux reads at most one
// window of a range hinted with POSIX_FADV_WILLNEED (the larger of the
// device's read-ahead and its largest request: 128 KiB and 512 KiB on many
// disks) and silently drops the rest of the hint.
#pragma once

#include <cstdint>

// The system's default read-ahead, taken when a device's cannot be told.
constexpr uint64_t POSIX_DEFAULT_READ_AHEAD_BYTES = 128u << 10;

// The window for the device that holds fd's bytes (the device itself, or the
// one under the file system of an image file), in bytes; the default
// when it cannot be told.
uint64_t posix_read_ahead_window(int fd);
