// Formatting over UTF-16 with the conversions Morla uses: "%s" (terminated
// UTF-16 string), "%c" (one UTF-16 code unit), "%.*s" (a count of units and a
// string), "%d" (signed 32-bit), "%08x" (unsigned 32-bit, 8 lower-case hex
// digits) and "%%".
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/platform.h"

// Counted formatter: stores at most n units. A terminating NUL follows only
// when the text is shorter than n; longer text is cut to n units without one.
// Returns the length of the whole text.
size_t format_counted(wchar* buffer, size_t n, const wchar* format, ...);

// Terminating formatter: n >= 1; always stores a terminating NUL, text that
// does not fit keeps its first n - 1 units.
void format_terminated(wchar* buffer, size_t n, const wchar* format, ...);

// Wide formatted print to a standard stream (STREAM_OUT or STREAM_ERR). A
// write that fails ends the run (output_failure_report, base/reports.h).
void print_stream(int stream, const wchar* format, ...);
void print_stream_v(int stream, const wchar* format, va_list args);
#define print_out(...) print_stream(STREAM_OUT, __VA_ARGS__)
#define print_err(...) print_stream(STREAM_ERR, __VA_ARGS__)
// The same for text whose "%s", "%.*s" and "%c" arguments come from outside
// the program (a volume, the system, the user's own arguments): each is
// written as copy_safe_text makes it (base/safe_text.h), so that it cannot
// drive the reader's terminal.
void print_stream_safe(int stream, const wchar* format, ...);
#define print_err_safe(...) print_stream_safe(STREAM_ERR, __VA_ARGS__)
