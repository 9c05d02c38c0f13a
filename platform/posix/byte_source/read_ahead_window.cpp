#include "platform/posix/byte_source/read_ahead_window.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A number of KiB from a sysfs attribute; 0 when unreadable.
uint64_t kib_attribute(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[32];
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) return 0;
    text[got] = '\0';
    unsigned long long kib = 0;
    return std::sscanf(text, "%llu", &kib) == 1 ? uint64_t(kib) : 0;
}

}  // namespace

uint64_t posix_read_ahead_window(int fd) {
    struct stat about;
    if (fstat(fd, &about) != 0) return POSIX_DEFAULT_READ_AHEAD_BYTES;
    const dev_t device = S_ISBLK(about.st_mode) ? about.st_rdev : about.st_dev;
    const std::string node = "/sys/dev/block/" + std::to_string(major(device)) + ":" +
                             std::to_string(minor(device));
    // A partition has no queue of its own: its disk's is the one that reads.
    for (const char* queue : {"/queue/", "/../queue/"}) {
        const uint64_t ahead = kib_attribute(node + queue + "read_ahead_kb");
        const uint64_t request = kib_attribute(node + queue + "max_sectors_kb");
        const uint64_t window = (ahead > request ? ahead : request) << 10;
        if (window) return window;
    }
    return POSIX_DEFAULT_READ_AHEAD_BYTES;
}
