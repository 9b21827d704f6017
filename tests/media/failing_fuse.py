#!/usr/bin/python3
# Serves one read-only file, disk.img, through FUSE: Size bytes whose 512-byte sectors
# each begin with their number (little-endian, 4 bytes) and hold 0xA5 after it, except
# that every read touching bytes From .. From + Length - 1 fails with EIO, as a bad
# stretch of a card does. Reads reach it as they are asked (direct_io), so that a loop
# device over the file sees the failure exactly where it lies.
#
# Usage: failing_fuse.py MOUNTPOINT SIZE FROM LENGTH
# Runs in the foreground until MOUNTPOINT is unmounted.
import errno
import stat
import struct
import sys
import time

import fusepy

NAME = '/disk.img'


class FailingFile(fusepy.Operations):
    def __init__(self, size, bad_from, bad_to):
        self.size, self.bad_from, self.bad_to = size, bad_from, bad_to
        self.now = time.time()

    def getattr(self, path, fh=None):
        times = dict(st_ctime=self.now, st_mtime=self.now, st_atime=self.now)
        if path == '/':
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2, **times)
        if path == NAME:
            return dict(st_mode=stat.S_IFREG | 0o444, st_nlink=1, st_size=self.size, **times)
        raise fusepy.FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return ['.', '..', NAME[1:]]

    def open(self, path, flags):
        if path != NAME:
            raise fusepy.FuseOSError(errno.ENOENT)
        return 0

    def read(self, path, size, offset, fh):
        end = min(offset + size, self.size)
        if offset >= end:
            return b''
        if offset < self.bad_to and end > self.bad_from:
            raise fusepy.FuseOSError(errno.EIO)
        first, last = offset // 512, (end + 511) // 512
        data = b''.join(struct.pack('<I', s) + b'\xa5' * 508 for s in range(first, last))
        return data[offset - first * 512:end - first * 512]


def main():
    mount, size, bad_from, length = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    fusepy.FUSE(FailingFile(size, bad_from, bad_from + length), mount, foreground=True,
                nothreads=True, ro=True, direct_io=True)


if __name__ == '__main__':
    main()
