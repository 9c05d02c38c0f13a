// The block devices the kernel lists (disks, partitions, loop devices and
// their partitions, device-mapper, md, NVMe), for the volume list's stand-in.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct BlockDevice {
    std::string node;  // "/dev/sdb2"
    dev_t number;
    std::string name;  // the kernel's, "sdb2"
    std::string disk;  // a partition's disk, "sdb"; empty for a whole disk
};

// Every device of /sys/class/block that holds a medium and whose node under
// /dev is that device, in natural order of the names (sda, sda2, sda10, sdb).
std::vector<BlockDevice> posix_block_devices();

// The order of that list: names compare character by character, except that
// runs of digits compare by value.
bool posix_device_name_less(const std::string& a, const std::string& b);
