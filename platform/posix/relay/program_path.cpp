// Stands in for GetModuleFileNameW (no module): on Linux, the path
// /proc/self/exe links to, cut short as Windows cuts it.
#include "platform/posix/relay/program_path.h"

#include <string>
#include <unistd.h>

#include "platform/posix/failure.h"
#include "platform/posix/utf8.h"

namespace {
// The program path last given out, whole.
std::u16string own_program_path;
}  // namespace

bool posix_names_own_program(const wchar* path) {
    return !own_program_path.empty() && own_program_path == path;
}

uint32_t platform_get_module_file_name(wchar* buffer, uint32_t capacity) {
    std::string path(256, '\0');
    for (;;) {
        ssize_t got = readlink("/proc/self/exe", path.data(), path.size());
        if (got < 0) return posix_fail<uint32_t>(errno);
        if (size_t(got) < path.size()) {
            path.resize(size_t(got));
            break;
        }
        path.resize(path.size() * 2);
    }
    std::u16string units = utf16_text(path);
    own_program_path = units;
    if (capacity == 0) return posix_fail<uint32_t>(EINVAL);
    // Cut short as GetModuleFileNameW does: the buffer filled, a NUL last.
    if (units.size() >= capacity) {
        units.copy(buffer, capacity - 1);
        buffer[capacity - 1] = 0;
        posix_fail(ENAMETOOLONG);
        return capacity;
    }
    units.copy(buffer, units.size());
    buffer[units.size()] = 0;
    return uint32_t(units.size());
}
