// The program's own path as GetModuleFileNameW's stand-in gave it out.
#pragma once

#include "platform/platform.h"

// Whether path is the program path platform_get_module_file_name gave out.
// Whoever may write the program's folder can put another file under that
// path at any time, so it is never opened again to start the program: the
// file the process runs is reached through /proc/self/exe instead.
bool posix_names_own_program(const wchar* path);
