// Volumes for tests: compressed images unpacked to temporary files, and
// temporary prefix folders whose dosdevices entries name them. Linux only.
#pragma once

#include <cstddef>
#include <string>

// A fresh empty folder under the system's temporary folder.
std::string make_temp_folder();
// Unpacks a gzip image into a temporary file, skipping skip_bytes of the
// unpacked data (65536 cuts the NTFS partition out of the shared samples).
// Returns an empty string when the image is missing or cannot be unpacked.
std::string unpack_image(const std::string& gz_path, long skip_bytes = 0);
// Makes prefix/dosdevices/<letter>:: a link to target (which need not exist).
void link_drive(const std::string& prefix, char letter, const std::string& target);
// A committed fixture image under tests/fixtures.
std::string fixture_path(const std::string& name);
// A Windows-made sample under ../shared/ntfs-samples; empty when absent.
std::string shared_sample_path(const std::string& name);
// Removes a folder and everything in it.
void remove_tree(const std::string& path);

// A disk image attached read-only to a loop device, with the nodes of its
// first partitions. The kernel detaches it once hold_fd is closed, so it
// never outlives the test process, however that ends.
struct LoopDisk {
    std::string device;  // "/dev/loop3"; empty when none could be attached
    int hold_fd = -1;
};
// Attaches the image and waits for the nodes of its first partitions
// (partx adds them where no device manager does); an empty device, with
// nothing left attached, when the machine cannot. Without kernel_partitions
// (losetup without -P) the kernel shows no partition of it.
LoopDisk attach_loop_disk(const std::string& image, int partitions, bool kernel_partitions = true);
void detach_loop_disk(LoopDisk* disk);

// Pages of fd's first length bytes the system's cache holds: what was read
// of a file or device, read-ahead included (no count of reads shows that).
size_t cached_pages(int fd, size_t length);
