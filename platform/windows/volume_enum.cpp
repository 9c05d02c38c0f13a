// FindFirstVolumeW, FindNextVolumeW and FindVolumeClose: the volume names
// (GUID paths) of every volume the system knows.
#include <windows.h>

#include "platform/platform.h"

Handle platform_find_first_volume(wchar* name, uint32_t capacity) {
    HANDLE find = FindFirstVolumeW(reinterpret_cast<wchar_t*>(name), capacity);
    return find == INVALID_HANDLE_VALUE ? INVALID_HANDLE : find;
}

int platform_find_next_volume(Handle find, wchar* name, uint32_t capacity) {
    return FindNextVolumeW(find, reinterpret_cast<wchar_t*>(name), capacity) ? 1 : 0;
}

int platform_find_volume_close(Handle find) { return FindVolumeClose(find) ? 1 : 0; }
