#ifndef _WIN32
#include "tests/system/test_volumes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <unistd.h>

namespace fs = std::filesystem;

std::string make_temp_folder() {
    std::string pattern = (fs::temp_directory_path() / "morla-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

std::string unpack_image(const std::string& gz_path, long skip_bytes) {
    if (!fs::exists(gz_path)) return std::string();
    std::string folder = make_temp_folder();
    std::string out = folder + "/volume.img";
    std::string command = "gzip -dc '" + gz_path + "'";
    if (skip_bytes > 0) command += " | tail -c +" + std::to_string(skip_bytes + 1);
    command += " > '" + out + "'";
    if (std::system(command.c_str()) != 0) return std::string();
    return out;
}

void link_drive(const std::string& prefix, char letter, const std::string& target) {
    fs::create_directories(prefix + "/dosdevices");
    std::string entry = prefix + "/dosdevices/" + std::string(1, letter) + "::";
    std::error_code ignored;
    fs::remove(entry, ignored);
    fs::create_symlink(target, entry);
}

std::string fixture_path(const std::string& name) {
    return std::string(MORLA_SOURCE_DIR) + "/tests/fixtures/" + name;
}

std::string shared_sample_path(const std::string& name) {
    std::string path = std::string(MORLA_SOURCE_DIR) + "/../shared/ntfs-samples/" + name;
    return fs::exists(path) ? path : std::string();
}

void remove_tree(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
}

LoopDisk attach_loop_disk(const std::string& image, int partitions, bool kernel_partitions) {
    LoopDisk disk;
    const std::string scan = kernel_partitions ? "-P " : "";
    FILE* out = popen(("losetup -r " + scan + "-f --show '" + image + "' 2>/dev/null").c_str(), "r");
    if (!out) return disk;
    char line[256] = "";
    bool read = fgets(line, sizeof line, out) != nullptr;
    if (pclose(out) != 0 || !read) return disk;
    std::string device(line, strcspn(line, "\n"));
    disk.hold_fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    // Detaching a device that is open only marks it to go when closed.
    std::system(("losetup -d '" + device + "' 2>/dev/null").c_str());
    if (disk.hold_fd < 0) return disk;
    disk.device = device;
    if (!kernel_partitions) return disk;
    // The kernel's own scan may not list a read-only device's partitions.
    std::system(("partx -a '" + device + "' >/dev/null 2>&1").c_str());
    for (int tries = 0; tries < 100; ++tries) {
        bool all = true;
        for (int p = 1; p <= partitions; ++p) all = all && fs::exists(device + "p" + std::to_string(p));
        if (all) return disk;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    detach_loop_disk(&disk);
    return disk;
}

void detach_loop_disk(LoopDisk* disk) {
    if (disk->hold_fd >= 0) close(disk->hold_fd);
    disk->hold_fd = -1;
    disk->device.clear();
}
size_t cached_pages(int fd, size_t length) {
    void* map = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return 0;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> in((length + page - 1) / page);
    size_t count = 0;
    if (mincore(map, length, in.data()) == 0)
        for (unsigned char flag : in) count += flag & 1;
    munmap(map, length);
    return count;
}
#endif
