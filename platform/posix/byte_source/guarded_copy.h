// Copies out of a read-only map of a device or image. A page of the map that
// cannot be read (the file was cut short, the device fails or is gone) ends
// the copy with an error instead of ending the process with SIGBUS.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies length bytes from `from`, which lies in the map [map, map +
// map_length), to dest. 1 on success; 0 with errno EIO when a page faulted.
int guarded_copy(void* dest, const uint8_t* from, size_t length, const uint8_t* map,
                 size_t map_length);
