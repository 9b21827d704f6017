#include "BlockDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gf {

uint32_t LogicalSectorSize(int Fd) {
  struct stat st {};
  if (::fstat(Fd, &st) != 0 || !S_ISBLK(st.st_mode))
    return 0;
  int size = 0;
  if (::ioctl(Fd, BLKSSZGET, &size) != 0 || size <= 0)
    return 0;
  return static_cast<uint32_t>(size);
}

TUncachedReader::TUncachedReader(int Fd) {
  FSectorSize = LogicalSectorSize(Fd);
  if (FSectorSize == 0) {
    FError = ENOTBLK;
    return;
  }
  // The same device, not whatever its path names by now.
  const std::string self = "/proc/self/fd/" + std::to_string(Fd);
  do
    FFd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT);
  while (FFd < 0 && errno == EINTR);
  if (FFd < 0) {
    FError = errno;
    return;
  }
  const long page = ::sysconf(_SC_PAGESIZE);
  FAlign = std::max<std::size_t>(FSectorSize, page > 0 ? static_cast<std::size_t>(page) : 4096);
}

TUncachedReader::~TUncachedReader() {
  if (FFd >= 0)
    ::close(FFd);
}

ssize_t TUncachedReader::ReadAt(uint64_t Offset, void* Buffer, std::size_t Count) {
  if (FFd < 0) {
    errno = EBADF;
    return -1;
  }
  if (Offset % FSectorSize != 0 || Count % FSectorSize != 0 ||
      Offset > static_cast<uint64_t>(INT64_MAX)) {
    errno = EINVAL;
    return -1;
  }
  if (Count > FCapacity) {
    const std::size_t capacity = (Count + FAlign - 1) / FAlign * FAlign;
    auto* p = static_cast<uint8_t*>(std::aligned_alloc(FAlign, capacity));
    if (!p) {
      errno = ENOMEM;
      return -1;
    }
    FBuffer.reset(p);
    FCapacity = capacity;
  }
  std::size_t done = 0;
  while (done < Count) {
    ssize_t n = ::pread(FFd, FBuffer.get() + done, Count - done, static_cast<off_t>(Offset + done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return -1;
    if (n == 0)
      break; // the end of the device
    done += static_cast<std::size_t>(n);
  }
  std::memcpy(Buffer, FBuffer.get(), done);
  return static_cast<ssize_t>(done);
}

} // namespace gf
