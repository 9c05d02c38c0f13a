// One volume name turned into its list of mount paths.
#include "base/entry_points.h"
#include "base/format.h"
#include "base/heap.h"
#include "base/reports.h"
#include "volumes/volumes.h"

int search_volume(const wchar* volume_name, const wchar* pattern) {
    if (!volume_path_query) {
        // The platform may have gained the query since start; look again.
        look_up_entry_points();
        if (!volume_path_query) {
            return search_device(volume_name, pattern);
        }
    }
    uint32_t needed = 0;
    volume_path_query(volume_name, nullptr, 0, &needed);
    uint32_t code = platform_last_error();
    if (code != ERROR_CODE_MORE_DATA) {
        print_err_safe(u"Anonymous volume: '%s'\n", volume_name);
        // The print may have changed the last error; report the query's own.
        platform_set_last_error(code);
        fatal_report(u"pvolname");
    }
    size_t units = size_t(needed) + 1;
    wchar* list = static_cast<wchar*>(heap_alloc(units * sizeof(wchar)));
    if (!list) {
        print_err_safe(u"Insufficient memory to identify volume: '%s'\n", volume_name);
        return 0;
    }
    // The spare unit keeps the first string terminated whatever the platform
    // stored; a failed second request (the list grew meanwhile) leaves no list
    // to read, so that volume is skipped.
    list[needed] = 0;
    int complete = 1;
    if (volume_path_query(volume_name, list, needed, &needed))
        complete = search_mount_path(volume_name, list, pattern);
    heap_free(list);
    return complete;
}
