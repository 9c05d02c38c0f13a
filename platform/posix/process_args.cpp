#include "platform/posix/process_args.h"

int posix_process_argc = 0;
wchar** posix_process_argv = nullptr;
