// Stands in for the volumes the system's volume manager lists: on Linux,
// the block devices of /sys/class/block that hold a medium and whose node
// under /dev is theirs.
#include "platform/posix/volumes/block_devices.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/posix/key_value.h"

namespace {

const char kSysBlock[] = "/sys/class/block/";

// A sysfs attribute, whole (they fit in one read); empty when unreadable.
std::string attribute(const std::string& device, const char* name) {
    int fd = open((kSysBlock + device + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    char buffer[512];
    ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    return got > 0 ? std::string(buffer, size_t(got)) : std::string();
}

// The node's name heads every match printed from it, so only printable ASCII,
// and no backslash, which separates the path that follows.
bool printable_name(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name)
        if (c <= ' ' || c >= 0x7F || c == '\\') return false;
    return true;
}

// A partition's folder lies in its disk's: /sys/class/block/sdb2 links to
// .../block/sdb/sdb2.
std::string partition_disk(const std::string& device) {
    if (attribute(device, "partition").empty()) return std::string();
    char target[4096];
    const ssize_t n = readlink((kSysBlock + device).c_str(), target, sizeof target - 1);
    if (n <= 0) return std::string();
    std::string path(target, size_t(n));
    const size_t last = path.rfind('/');
    if (last == std::string::npos || last == 0) return std::string();
    const size_t before = path.rfind('/', last - 1);
    return path.substr(before == std::string::npos ? 0 : before + 1, last - before - 1);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool natural_less(const BlockDevice& x, const BlockDevice& y) {
    return posix_device_name_less(x.node, y.node);
}

}  // namespace

// Runs of digits compare by value, so sda2 comes before sda10.
bool posix_device_name_less(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (!is_digit(a[i]) || !is_digit(b[j])) {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i, ++j;
            continue;
        }
        size_t i_end = i, j_end = j;
        while (i_end < a.size() && is_digit(a[i_end])) ++i_end;
        while (j_end < b.size() && is_digit(b[j_end])) ++j_end;
        // Kernel numbers have no leading zeros: the longer run is the larger.
        if (i_end - i != j_end - j) return i_end - i < j_end - j;
        if (int order = a.compare(i, i_end - i, b, j, j_end - j)) return order < 0;
        i = i_end, j = j_end;
    }
    return a.size() - i < b.size() - j;
}

std::vector<BlockDevice> posix_block_devices() {
    std::vector<BlockDevice> devices;
    DIR* folder = opendir(kSysBlock);
    if (!folder) return devices;
    while (const dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name[0] == '.') continue;
        // An empty drive (no card, no disc) or an unbound loop device has
        // size 0: skipped here, without opening it.
        if (std::strtoull(attribute(name, "size").c_str(), nullptr, 10) == 0) continue;
        std::string uevent = attribute(name, "uevent");
        std::string node_name = posix_key_value(uevent, "DEVNAME", '\n');
        if (!printable_name(node_name)) continue;
        auto field = [&](const char* key) {
            return unsigned(std::strtoul(posix_key_value(uevent, key, '\n').c_str(), nullptr, 10));
        };
        dev_t number = makedev(field("MAJOR"), field("MINOR"));
        // A device without its node (or a stale node of another) is left out.
        std::string node = "/dev/" + node_name;
        struct stat st;
        if (stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) || st.st_rdev != number) continue;
        devices.push_back(BlockDevice{node, number, name, partition_disk(name)});
    }
    closedir(folder);
    std::sort(devices.begin(), devices.end(), natural_less);
    return devices;
}
