#include "base/entry_points.h"

VolumePathNamesFn volume_path_query = nullptr;
IsUserAnAdminFn admin_query = nullptr;

void look_up_entry_points() {
    // The library handles are kept for the whole run on purpose.
    void* kernel = platform_load_library(u"kernel32.dll");
    volume_path_query = reinterpret_cast<VolumePathNamesFn>(
        kernel ? platform_get_proc_address(kernel, "GetVolumePathNamesForVolumeNameW") : nullptr);
    void* shell = platform_load_library(u"shell32.dll");
    admin_query = reinterpret_cast<IsUserAnAdminFn>(
        shell ? platform_get_proc_address(shell, "IsUserAnAdmin") : nullptr);
}
