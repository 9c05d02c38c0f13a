// The three failure report forms. Each reads the platform's last-error code
// first, looks up the system's text for it and writes
// "<step> failed with error <code>: <text>".
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Writes the report to standard error and returns the code.
uint32_t console_report(const wchar* step);
// A console report, then the process ends with the code as its status, after
// pending standard output and then standard error have been delivered.
[[noreturn]] void fatal_report(const wchar* step);
// The report in a message box (on Linux, "Error: " and the text on standard
// error), then the process ends as a fatal report does.
[[noreturn]] void message_box_report(const wchar* step);
