// Shared by the search tests: a fake drive C with its root directory.
#pragma once

#include <string>

#include "search/scan.h"
#include "tests/fake_platform/fake_platform.h"

const std::u16string kDriveC = u"\\\\.\\C:";
const uint64_t kRoot = 0x0005000000000005;  // record 5, sequence 5

// A disk with `slots` record slots whose record 5 is the root directory '.'
// and whose record 0 holds no name.
inline FakeDisk& disk_with_root(uint64_t slots = 128, uint32_t record_size = 1024) {
    FakeDisk& disk = fake_add_disk(kDriveC, slots, record_size);
    disk.records[0] = fake_record(1, {}, record_size);
    fake_add_file(disk, 5, 5, {{kRoot, u".", 3}});
    return disk;
}

// Scans the disk as its own device path names it; standard output as UTF-8.
inline std::string scan(const FakeDisk& disk, const std::u16string& pattern) {
    fake_out.clear();
    scan_volume(fake_disk_handle(disk), pattern.c_str(), disk.device_path.c_str());
    return fake_out_utf8();
}

// A death-test pattern that matches the text literally, up to the end.
inline std::string literal_to_end(const std::string& text) {
    std::string pattern;
    for (char c : text) {
        if (std::string("\\.[](){}*+?^$|").find(c) != std::string::npos) pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}
