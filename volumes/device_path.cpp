// The device path built from a mount path, opened and scanned.
#include "base/format.h"
#include "base/heap.h"
#include "base/text.h"
#include "search/scan.h"
#include "volumes/volumes.h"

void search_mount_path(const wchar* mount_paths, const wchar* pattern) {
    size_t length = text_length(mount_paths);
    wchar* device_path = static_cast<wchar*>(heap_alloc((length + 5) * sizeof(wchar)));
    if (!device_path) {
        print_err(u"Out of memory!\n");
        return;
    }
    // '\\.\' and the mount path, less its last unit: the trailing backslash
    // of 'C:\', or the prefix's own backslash when the mount path is empty.
    format_counted(device_path, length + 4, u"\\\\.\\%s", mount_paths);
    device_path[length + 3] = 0;
    search_device(device_path, pattern);
    heap_free(device_path);
}

void search_device(const wchar* device_path, const wchar* pattern) {
    Handle volume = platform_open_volume(device_path);
    if (volume == INVALID_HANDLE) {
        print_err_safe(u"Unable to access volume '%s'\n", device_path);
        return;
    }
    scan_volume(volume, pattern, device_path);
    platform_close_handle(volume);
}
