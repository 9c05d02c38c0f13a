// The drive map: drive letters on Linux follow the layout Wine uses for raw
// drive devices, the entry "x::" of the folder "dosdevices" in the prefix
// folder linking to a block device or image file. It turns the device paths
// Morla opens ('\\.\C:') into the Linux files they name.
#pragma once

#include <string>

#include "platform/platform.h"

// The prefix folder: $WINEPREFIX; else, for root run through sudo, the
// invoking user's ~/.wine, and none when it does not exist; else
// $HOME/.wine. Empty when none of these can be named.
std::string posix_prefix_folder();
// The entry for a drive letter (any case): "<prefix>/dosdevices/x::".
std::string posix_drive_entry(char letter);
// The Linux path a device path opens: '\\.\X:' gives the drive entry,
// '\\.\/dev/sdb2' gives '/dev/sdb2', '\\?\/some/path\' and '\\?\/some/path'
// give '/some/path'.
// Empty when the path names nothing.
std::string posix_device_file(const wchar* device_path);
