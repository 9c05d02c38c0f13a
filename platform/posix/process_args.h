// The process's arguments as UTF-16, kept for GetCommandLineW's stand-in.
#pragma once

#include "platform/platform.h"

extern int posix_process_argc;
extern wchar** posix_process_argv;
