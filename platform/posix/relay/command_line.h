// The command line of GetCommandLineW and CreateProcessW. Linux has no single
// command-line string, so the relay's frame carries one built from the
// arguments by the quoting rules the Windows start-up code undoes
// (CommandLineToArgvW), and the relay splits it again by those rules.
//
// Program name (first word): up to the first space or tab, or, when it starts
// with '"', up to the next '"'. Arguments: separated by spaces and tabs;
// '"' toggles quoting (inside quotes, '""' is one '"'); 2n backslashes before
// a '"' give n backslashes, 2n + 1 give n backslashes and a literal '"';
// other backslashes are literal.
//
// split(join(args)) == args for every list whose program name holds no '"'
// (Windows file names cannot), and for a program name with '"' that neither
// starts with one nor holds a space or tab. Any other '"' in a program name
// cannot be written under these rules and is left out.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

std::u16string command_line_join(const wchar* const* args, size_t count);
// The words of a whole command line, program name first (an empty line gives
// one empty program name).
std::vector<std::u16string> command_line_split(const wchar* line);
// The same without a program name: every word is an argument.
std::vector<std::u16string> command_line_split_arguments(const wchar* text);

// Keeps the process's arguments, as UTF-16, for GetCommandLineW's stand-in
// (start-up calls it once, before the entry function).
void posix_keep_arguments(int count, wchar** arguments);
