#include "volumes/volumes.h"

#include "base/format.h"
#include "base/heap.h"

namespace {
// The volume name buffer: 65,536 bytes, handed to the platform as 0x8000 units.
const uint32_t kVolumeNameUnits = 0x8000;
}  // namespace

int search_all_volumes(const wchar* pattern) {
    wchar* name = static_cast<wchar*>(heap_alloc(kVolumeNameUnits * sizeof(wchar)));
    if (!name) {
        print_err(u"Out of memory!\n");
        return 0;
    }
    Handle find = platform_find_first_volume(name, kVolumeNameUnits);
    if (find == INVALID_HANDLE) {
        heap_free(name);
        print_err(u"Error enumerating volumes\n");
        return 0;
    }
    // Any failure of the next request ends the list, the normal end included.
    int complete = 1;
    do {
        complete &= search_volume(name, pattern);
    } while (platform_find_next_volume(find, name, kVolumeNameUnits));
    platform_find_volume_close(find);
    heap_free(name);
    return complete;
}
