// The volumes a target holds: on Windows a device path opens one volume,
// which the system's disk management has already told from its disk; it is
// given once, under its own device path.
#include <new>

#include "platform/platform.h"

namespace {
struct OneVolume {
    Handle volume;  // null once given
};
}  // namespace

Handle platform_open_disk(const wchar* open_path) {
    Handle volume = platform_open_volume(open_path);
    if (volume == INVALID_HANDLE) return INVALID_HANDLE;
    OneVolume* disk = new (std::nothrow) OneVolume{volume};
    if (!disk) {
        platform_close_handle(volume);
        platform_set_last_error(platform_error_out_of_memory);
        return INVALID_HANDLE;
    }
    return disk;
}

int platform_next_disk_part(Handle handle, const wchar* device_path, DiskPart* part) {
    OneVolume* disk = static_cast<OneVolume*>(handle);
    part->cause = nullptr;
    part->volume = INVALID_HANDLE;
    if (!disk->volume) return 0;
    uint32_t n = 0;
    while (device_path[n] && n + 1 < DISK_PART_PATH_UNITS) ++n;
    for (uint32_t i = 0; i < n; ++i) part->device_path[i] = device_path[i];
    part->device_path[n] = 0;
    part->volume = disk->volume;
    disk->volume = nullptr;
    return 1;
}

int platform_close_disk(Handle handle) {
    OneVolume* disk = static_cast<OneVolume*>(handle);
    if (disk->volume) platform_close_handle(disk->volume);
    delete disk;
    return 1;
}

const int platform_path_targets = 0;
