// Text: "NAME=value" lines as the kernel hands them out, a process's
// environment (NUL-separated) and a device's uevent attribute
// (newline-separated). No platform operation of its own.
#pragma once

#include <string>

// The value of name in block, whose entries end with separator (the last may
// lack it); empty when name is absent.
std::string posix_key_value(const std::string& block, const std::string& name, char separator);
