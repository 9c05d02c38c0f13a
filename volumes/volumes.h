// Volume enumeration: every volume of the system, searched under its first
// mount path. Each step calls the next: all volumes -> one volume name ->
// its mount path list -> the device path that is opened and scanned.
#pragma once

#include "platform/platform.h"

// Each returns 1 when what it was given was searched to its end, 0 when a
// table could not be read to its end or nothing could be searched for want
// of memory or of the list of volumes. A volume that cannot be opened does
// not count: the search was not asked for it by name, and most machines
// have such volumes (a system partition without a mount path).

// Searches every volume the platform enumerates, in its order.
int search_all_volumes(const wchar* pattern);
// Asks for the volume's mount paths and searches it under the first one.
int search_volume(const wchar* volume_name, const wchar* pattern);
// Builds the device path from the first mount path of the list ('C:\' gives
// '\\.\C:') and searches it. A volume mounted in a folder ('D:\mnt\data\')
// is opened through its volume name instead, since the device path of a
// folder opens no volume, and searched under that device path all the same.
int search_mount_path(const wchar* volume_name, const wchar* mount_paths, const wchar* pattern);
// Opens the device path, scans it, closes it.
int search_device(const wchar* device_path, const wchar* pattern);
// Opens open_path, searches every volume it holds under the device path
// (the prefix of their lines, and the name in the message when the open
// fails), closes it. 1 when all of it was searched.
int search_device_through(const wchar* open_path, const wchar* device_path,
                          const wchar* pattern);
// Searches every volume of an open disk (platform_open_disk) and closes it:
// the target itself, or each NTFS partition under its own name. typed is
// the drive letter as typed, or 0 and named, the target's name in its
// message. 1 when all of it was searched, 0 when a fault left something out.
int search_disk(Handle disk, const wchar* pattern, const wchar* device_path, wchar typed,
                const wchar* named);
// A target named by its path on the command line ('/dev/sdb', './pc17.E01'),
// searched under the path as typed; 1 when all of it was searched.
int search_path(const wchar* path, const wchar* pattern);
