#!/usr/bin/python3
"""failing_file.py IMAGE MOUNTPOINT

Serves IMAGE read-only as MOUNTPOINT/volume.img through FUSE, bypassing the
kernel's page cache (direct_io) so that every read reaches this program, and
answers every read with EIO once the file IMAGE.fail exists: a device that
starts failing while a search reads it. Runs until unmounted; the mount
goes when it ends, however it ends. Needs the Debian package python3-fusepy.
"""
import errno
import os
import stat
import sys

try:  # Debian's name for it
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


class FailingFile(Operations):
    def __init__(self, image):
        self.image = image
        self.fd = os.open(image, os.O_RDONLY)
        self.size = os.fstat(self.fd).st_size

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o555, "st_nlink": 2}
        if path == "/volume.img":
            return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": self.size}
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", "volume.img"]

    def read(self, path, size, offset, fh):
        if os.path.exists(self.image + ".fail"):
            raise FuseOSError(errno.EIO)
        return os.pread(self.fd, size, offset)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    FUSE(FailingFile(sys.argv[1]), sys.argv[2], foreground=True, ro=True, direct_io=True,
         auto_unmount=True)
