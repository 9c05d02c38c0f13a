// The block devices the kernel lists (disks, partitions, loop devices and
// their partitions, device-mapper, md, NVMe), for the Linux volume list.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct BlockDevice {
    std::string node;  // "/dev/sdb2"
    dev_t number;
};

// Every device of /sys/class/block that holds a medium and whose node under
// /dev is that device, in natural order of the names (sda, sda2, sda10, sdb).
std::vector<BlockDevice> posix_block_devices();
