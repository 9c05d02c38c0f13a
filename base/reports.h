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

// A write to standard output or standard error failed, with the reason in the
// last error. A reader that went away (a closed pipe or socket) ends the run
// at once without a word; any other failure with the report "Write output".
// Either way the code is the exit status.
[[noreturn]] void output_failure_report();
// Delivers pending standard output, then standard error; a write that fails
// ends the run through output_failure_report.
void deliver_output();
