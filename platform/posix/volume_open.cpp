// CreateFileW and CloseHandle for volumes: the device or image behind a
// device path, opened read-only.
#include <cerrno>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/dosdevices.h"
#include "platform/posix/handles.h"

Handle platform_open_volume(const wchar* device_path) {
    std::string file = posix_device_file(device_path);
    if (file.empty()) {
        errno = ENOENT;
        posix_set_last_error_from_errno();
        return INVALID_HANDLE;
    }
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        posix_set_last_error_from_errno();
        return INVALID_HANDLE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) errno = EISDIR;
        posix_set_last_error_from_errno();
        close(fd);
        return INVALID_HANDLE;
    }
    PosixVolume* volume = new (std::nothrow) PosixVolume{{POSIX_VOLUME, fd}, FdByteSource{}, nullptr};
    if (!volume) {
        close(fd);
        errno = ENOMEM;
        posix_set_last_error_from_errno();
        return INVALID_HANDLE;
    }
    return volume;
}
