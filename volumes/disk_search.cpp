// A target searched whole: every volume it holds (itself, or each NTFS
// partition of a disk or container), each under the name the platform
// gives it, and the faults met on the way told after the target's usual
// message. The other volumes are searched all the same.
#include "base/format.h"
#include "base/heap.h"
#include "base/text.h"
#include "search/scan.h"
#include "volumes/volumes.h"

namespace {
// The target's usual message, once, before its first fault.
void tell_unreadable(const wchar* named, wchar typed) {
    if (typed) print_err_safe(u"Unable to access drive %c\n", typed);
    else print_err_safe(u"Unable to access volume '%s'\n", named);
}
}  // namespace

int search_disk(Handle disk, const wchar* pattern, const wchar* device_path, wchar typed,
                const wchar* named) {
    DiskPart* part = static_cast<DiskPart*>(heap_alloc(sizeof(DiskPart)));
    if (!part) {
        platform_close_disk(disk);
        print_err(u"Out of memory!\n");
        return 0;
    }
    int complete = 1;
    while (int got = platform_next_disk_part(disk, device_path, part)) {
        if (got < 0) {
            if (complete) tell_unreadable(named, typed);
            complete = 0;
            print_err_safe(u"Damaged disk or image '%s': %s\n", device_path + 4, part->cause);
            continue;
        }
        if (!scan_volume(part->volume, pattern, part->device_path)) complete = 0;
        platform_close_handle(part->volume);
    }
    heap_free(part);
    platform_close_disk(disk);
    return complete;
}

int search_path(const wchar* path, const wchar* pattern) {
    const size_t length = text_length(path);
    wchar* device_path = static_cast<wchar*>(heap_alloc((length + 5) * sizeof(wchar)));
    if (!device_path) {
        print_err(u"Out of memory!\n");
        return 0;
    }
    // '\\.\' and the path as typed: its lines print under the path.
    device_path[0] = device_path[1] = device_path[3] = u'\\';
    device_path[2] = u'.';
    for (size_t i = 0; i <= length; ++i) device_path[4 + i] = path[i];
    int complete = 0;
    Handle disk = platform_open_disk(device_path);
    if (disk == INVALID_HANDLE) print_err_safe(u"Unable to access volume '%s'\n", path);
    else complete = search_disk(disk, pattern, device_path, 0, path);
    heap_free(device_path);
    return complete;
}
