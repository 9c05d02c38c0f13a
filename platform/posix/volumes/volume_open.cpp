// Stands in for CreateFileW on a volume's device path and CloseHandle of
// it: on Linux, the block device or image file the drive map names, resolved
// once and opened read-only (with the invoking user's rights for an image).
#include "platform/posix/volumes/volume_open.h"

#include <new>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/failure.h"
#include "platform/posix/rights/user_rights.h"
#include "platform/posix/volumes/drive_map.h"

namespace {

// Only a block device or a regular file holds a volume. Anything else is
// refused before it is opened, since its open could wait (a FIFO waits for
// a writer) or act (a terminal raises its modem lines, a tape rewinds).
int cannot_serve(const struct stat& st) {
    if (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode)) return 0;
    return S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK;
}

// The target is resolved once, with O_PATH, which opens no device, and only
// what that resolved is opened, through its descriptor: a link swapped in the
// meantime changes nothing. A user whose only root power is Morla resolves
// it, and opens an image, with their own rights; a block device is opened
// with root's.
int open_target(const std::string& file, int* fd) {
    PosixUserRights rights;
    if (!posix_take_user_rights(&rights)) return errno ? errno : EPERM;
    int resolved = open(file.c_str(), O_PATH | O_CLOEXEC);
    int code = resolved < 0 ? errno : 0;
    struct stat st;
    if (!code) code = fstat(resolved, &st) != 0 ? errno : cannot_serve(st);
    if (!code && S_ISBLK(st.st_mode)) posix_give_back_rights(&rights);
    if (!code) {
        // Without waiting: a removable drive answers at once, medium or not.
        const std::string through = "/proc/self/fd/" + std::to_string(resolved);
        *fd = open(through.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (*fd < 0) code = errno;
    }
    posix_give_back_rights(&rights);
    if (resolved >= 0) close(resolved);
    return code;
}

}  // namespace

Handle platform_open_volume(const wchar* device_path) {
    std::string file = posix_device_file(device_path);
    if (file.empty()) return posix_fail<Handle>(ENOENT);
    int fd = -1;
    if (int code = open_target(file, &fd)) return posix_fail<Handle>(code);
    // Reads then wait for the device as usual.
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        int code = errno;
        close(fd);
        return posix_fail<Handle>(code);
    }
    PosixVolume* volume = new (std::nothrow) PosixVolume{{POSIX_VOLUME, fd}, FdByteSource{}, nullptr, nullptr, 0, 0, WindowSource{}};
    if (!volume) {
        close(fd);
        return posix_fail<Handle>(ENOMEM);
    }
    return volume;
}

void posix_close_volume(PosixVolume* volume) {
    ntfs_close(volume->ntfs);
    fd_source_release(&volume->bytes);
    if (volume->base.fd >= 0) close(volume->base.fd);
    delete volume;
}
