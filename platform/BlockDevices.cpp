#include "BlockDevices.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <set>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace gf {

std::string ReadSysfsText(const fs::path& Path) {
  std::ifstream in(Path);
  std::string text;
  if (!in || !std::getline(in, text))
    return {};
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.pop_back();
  return text;
}

uint64_t ReadSysfsNumber(const fs::path& Path) {
  std::string text = ReadSysfsText(Path);
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || v > UINT64_MAX / 10 - 10)
      return v;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

TDeviceNumber TDeviceNumber::Of(dev_t Device) {
  return {static_cast<uint32_t>(major(Device)), static_cast<uint32_t>(minor(Device))};
}

std::optional<TDeviceNumber> TDeviceNumber::Parse(const std::string& Text) {
  TDeviceNumber n;
  uint32_t* part = &n.Major;
  bool digits = false;
  for (char c : Text) {
    if (c == ':' && part == &n.Major && digits) {
      part = &n.Minor;
      digits = false;
    } else if (c >= '0' && c <= '9' && *part <= (UINT32_MAX - 9) / 10) {
      *part = *part * 10 + static_cast<uint32_t>(c - '0');
      digits = true;
    } else {
      return std::nullopt;
    }
  }
  if (part != &n.Minor || !digits)
    return std::nullopt;
  return n;
}

std::string TDeviceNumber::Text() const {
  return std::to_string(Major) + ":" + std::to_string(Minor);
}

TScanSource TScanSource::OfPath(const std::string& Path) {
  TScanSource s;
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0)
    return s;
  if (S_ISBLK(st.st_mode)) {
    s.Device = TDeviceNumber::Of(st.st_rdev);
  } else if (S_ISREG(st.st_mode)) {
    s.IsFile = true;
    s.FileDevice = st.st_dev;
    s.FileInode = st.st_ino;
  }
  return s;
}

namespace {

// A run of 512-byte sectors of a whole disk.
struct TExtent {
  TDeviceNumber Disk;
  uint64_t Start = 0;
  uint64_t Size = 0;
  uint64_t End() const { return Size > UINT64_MAX - Start ? UINT64_MAX : Start + Size; }
};

using TFileId = std::pair<dev_t, ino_t>;

// The sectors and files that reads or writes of a device reach.
struct TReach {
  std::vector<TExtent> Extents;
  std::vector<TFileId> Files;
  std::set<std::pair<uint32_t, uint32_t>> Seen;
};

// Deep enough for a file system on a loop device over a file on a mapped partition.
constexpr int MaxDepth = 8;

// Follows Device down to the disks and files it is made of. With Hosts, a loop device's
// backing file also takes in the file system it lies on, as writes into the file
// reach that file system's free space.
void Collect(const std::string& Sys, TDeviceNumber Device, bool Hosts, TReach& R, int Depth) {
  if (Depth > MaxDepth || !R.Seen.insert({Device.Major, Device.Minor}).second)
    return;
  std::error_code ec;
  fs::path dir = fs::canonical(fs::path(Sys) / "dev" / "block" / Device.Text(), ec);
  if (ec) { // no block device sysfs knows (tmpfs, overlay): only itself
    R.Extents.push_back({Device, 0, UINT64_MAX});
    return;
  }
  const bool partition = fs::exists(dir / "partition", ec);
  const fs::path disk = partition ? dir.parent_path() : dir;
  TExtent e{TDeviceNumber::Parse(ReadSysfsText(disk / "dev")).value_or(Device), 0,
            ReadSysfsNumber(dir / "size")};
  if (partition)
    e.Start = ReadSysfsNumber(dir / "start");
  if (!partition || e.Size == 0) // a disk reaches every sector it may come to have
    e.Size = UINT64_MAX;
  R.Extents.push_back(e);

  std::vector<fs::path> holders{dir};
  if (partition)
    holders.push_back(disk); // a partition of a loop device reads its disk's file
  for (const fs::path& h : holders) {
    for (const auto& slave : fs::directory_iterator(h / "slaves", ec))
      if (auto n = TDeviceNumber::Parse(ReadSysfsText(slave.path() / "dev")))
        Collect(Sys, *n, Hosts, R, Depth + 1);
    std::string backing = ReadSysfsText(h / "loop" / "backing_file");
    struct stat st {};
    if (!backing.empty() && ::stat(backing.c_str(), &st) == 0) {
      R.Files.emplace_back(st.st_dev, st.st_ino);
      if (Hosts)
        Collect(Sys, TDeviceNumber::Of(st.st_dev), Hosts, R, Depth + 1);
    }
  }
}

} // namespace

bool DeviceOverlaps(TDeviceNumber FolderDevice, const TScanSource& Source, const std::string& Sys) {
  TReach scanned;
  if (Source.Device)
    Collect(Sys, *Source.Device, false, scanned, 0);
  if (Source.IsFile)
    scanned.Files.emplace_back(Source.FileDevice, Source.FileInode);
  if (scanned.Extents.empty() && scanned.Files.empty())
    return false;
  TReach written;
  Collect(Sys, FolderDevice, true, written, 0);
  for (const TExtent& w : written.Extents)
    for (const TExtent& s : scanned.Extents)
      if (w.Disk == s.Disk && w.Start < s.End() && s.Start < w.End())
        return true;
  for (const TFileId& w : written.Files)
    if (std::find(scanned.Files.begin(), scanned.Files.end(), w) != scanned.Files.end())
      return true;
  return false;
}

TOverlap FolderOverlaps(const std::string& Folder, const TScanSource& Source,
                        const std::string& Sys, std::string* Why) {
  if (!Source.Device && !Source.IsFile)
    return TOverlap::No;
  struct stat st {};
  if (::stat(Folder.c_str(), &st) != 0) {
    if (Why)
      *Why = std::strerror(errno);
    return TOverlap::Unknown;
  }
  return DeviceOverlaps(TDeviceNumber::Of(st.st_dev), Source, Sys) ? TOverlap::Yes : TOverlap::No;
}

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
