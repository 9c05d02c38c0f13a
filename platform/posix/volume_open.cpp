// CreateFileW and CloseHandle for volumes: the device or image behind a
// device path, opened read-only.
#include <cerrno>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/dosdevices.h"
#include "platform/posix/handles.h"

namespace {

Handle fail(int code) {
    errno = code;
    posix_set_last_error_from_errno();
    return INVALID_HANDLE;
}

// Only a block device or a regular file holds a volume. Anything else is
// refused before its open could wait (a FIFO waits for a writer) or act (a
// terminal, a tape), and again after it, in case the path changed meanwhile.
int cannot_serve(const struct stat& st) {
    if (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode)) return 0;
    return S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK;
}

}  // namespace

Handle platform_open_volume(const wchar* device_path) {
    std::string file = posix_device_file(device_path);
    if (file.empty()) return fail(ENOENT);
    struct stat st;
    if (stat(file.c_str(), &st) != 0) return fail(errno);
    if (int code = cannot_serve(st)) return fail(code);
    // Without waiting: a removable drive answers at once, medium or not.
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fail(errno);
    int code = fstat(fd, &st) != 0 ? errno : cannot_serve(st);
    int flags = code ? 0 : fcntl(fd, F_GETFL);
    // Reads then wait for the device as usual.
    if (!code && (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) code = errno;
    if (code) {
        close(fd);
        return fail(code);
    }
    PosixVolume* volume = new (std::nothrow) PosixVolume{{POSIX_VOLUME, fd}, FdByteSource{}, nullptr};
    if (!volume) {
        close(fd);
        return fail(ENOMEM);
    }
    return volume;
}
