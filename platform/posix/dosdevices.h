// Drive letters on Linux follow the layout Wine uses for raw drive devices:
// the entry "x::" of the folder "dosdevices" in the prefix folder
// ($WINEPREFIX, else $HOME/.wine) links to a block device or image file.
#pragma once

#include <string>

#include "platform/platform.h"

// The prefix folder; empty when neither variable is set.
std::string posix_prefix_folder();
// The entry for a drive letter (any case): "<prefix>/dosdevices/x::".
std::string posix_drive_entry(char letter);
// The Linux path a device path opens: '\\.\X:' gives the drive entry,
// '\\?\/some/path\' gives '/some/path'. Empty when the path names nothing.
std::string posix_device_file(const wchar* device_path);
