// LoadLibraryW and GetProcAddress for the optional entry points. The caller
// keeps the library handles for the whole run; nothing here releases them.
#include <type_traits>
#include <windows.h>

#include "platform/platform.h"

// The found functions are called through the platform header's types:
// BOOL is int and DWORD is 32 bits wide, so the calls match the system's.
static_assert(std::is_same_v<BOOL, int>);
static_assert(sizeof(DWORD) == sizeof(uint32_t));

void* platform_load_library(const wchar* name) {
    return LoadLibraryW(reinterpret_cast<const wchar_t*>(name));
}

void* platform_get_proc_address(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
