// Stands in for GetLastError and SetLastError (the last error is a variable
// of the process, holding errno values on Linux), and is the one way every
// Linux stand-in fails.
#pragma once

#include <cerrno>
#include <type_traits>

#include "platform/platform.h"

// Sets errno and the last error to code and returns the failure value of a
// stand-in returning Result: INVALID_HANDLE for a Handle, 0 for a number.
template <typename Result = int>
Result posix_fail(int code) {
    errno = code;
    platform_set_last_error(uint32_t(code));
    if constexpr (std::is_same_v<Result, Handle>) return INVALID_HANDLE;
    else return Result(0);
}
