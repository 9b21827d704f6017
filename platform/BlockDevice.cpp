#include "BlockDevice.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

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

} // namespace gf
