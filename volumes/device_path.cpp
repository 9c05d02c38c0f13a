// The device path built from a mount path, opened and scanned.
#include "base/format.h"
#include "base/heap.h"
#include "base/text.h"
#include "search/scan.h"
#include "volumes/volumes.h"

namespace {
// A mount path longer than a drive root ('C:\') is a folder.
bool folder_mount(size_t mount_path_length) { return mount_path_length > 3; }

// The volume name without its trailing backslash, which opens the volume
// itself (with it, its root folder); a fresh copy, null when none can be had.
wchar* volume_itself(const wchar* volume_name) {
    size_t length = text_length(volume_name);
    if (length && volume_name[length - 1] == u'\\') --length;
    wchar* path = static_cast<wchar*>(heap_alloc((length + 1) * sizeof(wchar)));
    if (!path) return nullptr;
    for (size_t i = 0; i < length; ++i) path[i] = volume_name[i];
    path[length] = 0;
    return path;
}
}  // namespace

int search_mount_path(const wchar* volume_name, const wchar* mount_paths, const wchar* pattern) {
    size_t length = text_length(mount_paths);
    wchar* device_path = static_cast<wchar*>(heap_alloc((length + 5) * sizeof(wchar)));
    wchar* open_path = device_path;
    if (device_path && folder_mount(length)) open_path = volume_itself(volume_name);
    if (!open_path) {
        heap_free(device_path);
        print_err(u"Out of memory!\n");
        return 0;
    }
    // '\\.\' and the mount path, less its last unit: the trailing backslash
    // of 'C:\', or the prefix's own backslash when the mount path is empty.
    format_counted(device_path, length + 4, u"\\\\.\\%s", mount_paths);
    device_path[length + 3] = 0;
    int complete = search_device_through(open_path, device_path, pattern);
    if (open_path != device_path) heap_free(open_path);
    heap_free(device_path);
    return complete;
}

int search_device(const wchar* device_path, const wchar* pattern) {
    return search_device_through(device_path, device_path, pattern);
}

int search_device_through(const wchar* open_path, const wchar* device_path,
                          const wchar* pattern) {
    Handle disk = platform_open_disk(open_path);
    if (disk == INVALID_HANDLE) {
        // Not asked for by name: a volume of the machine that cannot be opened.
        print_err_safe(u"Unable to access volume '%s'\n", device_path);
        return 1;
    }
    return search_disk(disk, pattern, device_path, 0, device_path);
}
