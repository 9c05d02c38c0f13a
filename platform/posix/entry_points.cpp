// Stands in for LoadLibraryW and GetProcAddress: on Linux, a table of the
// platform layer's own functions looked up by library and export name,
// where either optional entry point may be hidden as if missing.
#include "platform/posix/entry_points.h"

#include <cstring>

#include "platform/platform.h"
#include "platform/posix/rights/token.h"
#include "platform/posix/volumes/volume_list.h"

namespace {

struct Export {
    const char* library;
    const char* name;
    void* function;
    bool hidden;
};

Export exports[] = {
    {"kernel32.dll", "GetVolumePathNamesForVolumeNameW",
     reinterpret_cast<void*>(&posix_volume_path_names), false},
    {"shell32.dll", "IsUserAnAdmin", reinterpret_cast<void*>(&posix_is_user_an_admin), false},
};

const char* libraries[] = {"kernel32.dll", "shell32.dll"};

bool same_name(const wchar* wide, const char* narrow) {
    size_t i = 0;
    for (; narrow[i]; ++i)
        if (wide[i] != wchar(narrow[i])) return false;
    return wide[i] == 0;
}

}  // namespace

void* platform_load_library(const wchar* name) {
    for (const char* library : libraries)
        if (same_name(name, library)) return const_cast<char*>(library);
    return nullptr;
}

void* platform_get_proc_address(void* module, const char* name) {
    for (const Export& e : exports)
        if (!e.hidden && std::strcmp(static_cast<const char*>(module), e.library) == 0 &&
            std::strcmp(name, e.name) == 0)
            return e.function;
    return nullptr;
}

void posix_hide_entry_point(const char* name, bool hidden) {
    for (Export& e : exports)
        if (std::strcmp(name, e.name) == 0) e.hidden = hidden;
}
