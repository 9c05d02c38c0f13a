// The names partitions print under, beside the drive map that names the
// targets: the letter and the partition's number for a lettered disk
// ('E:' gives 'E3:'), the kernel's own name for a block device's partition
// ('/dev/sdb' gives '/dev/sdb3', '/dev/loop0' gives '/dev/loop0p3'), and
// the path, 'p' and the number for a file ('/cases/pc17.E01p3'), so that a
// disk given by path and the same disk attached as a loop device name each
// partition alike up to the device's name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Writes the device path of partition number of the target's device path
// ('\\.\E:', '\\.\/dev/sdb', '\\.\./disk.img') into out; false when it does not fit.
bool posix_part_device_path(const wchar* device_path, bool block_device, uint32_t number,
                            wchar* out, size_t capacity);
