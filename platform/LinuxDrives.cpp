#include "LinuxDrives.h"

#include "BlockDevices.h"
#include "Descriptor.h"
#include "Errors.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <blkid/blkid.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace gf {

namespace {

bool StartsWith(const std::string& S, const char* Prefix) {
  return S.rfind(Prefix, 0) == 0;
}

// "sda2" before "sda10".
bool NaturalLess(const std::string& A, const std::string& B) {
  std::size_t i = 0, j = 0;
  while (i < A.size() && j < B.size()) {
    if (std::isdigit(static_cast<unsigned char>(A[i])) &&
        std::isdigit(static_cast<unsigned char>(B[j]))) {
      std::size_t i2 = i, j2 = j;
      while (i2 < A.size() && std::isdigit(static_cast<unsigned char>(A[i2])))
        ++i2;
      while (j2 < B.size() && std::isdigit(static_cast<unsigned char>(B[j2])))
        ++j2;
      std::string na = A.substr(i, i2 - i), nb = B.substr(j, j2 - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size())
        return na.size() < nb.size();
      if (na != nb)
        return na < nb;
      i = i2;
      j = j2;
    } else {
      if (A[i] != B[j])
        return A[i] < B[j];
      ++i;
      ++j;
    }
  }
  return A.size() - i < B.size() - j;
}

int LetterIndex(const std::string& Root) {
  if (Root.size() < 2 || Root[1] != ':' || (Root.size() > 2 && Root.substr(2) != "\\"))
    return -1;
  int c = std::toupper(static_cast<unsigned char>(Root[0]));
  return c >= 'A' && c <= 'Z' ? c - 'A' : -1;
}

uint32_t Cap32(uint64_t V) {
  return V > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(V);
}

bool Fail(uint32_t Code) {
  SetLastError(Code);
  return false;
}

bool FailErrno() {
  return Fail(ErrnoToWinError(errno));
}

int OpenDevice(const std::string& Path) {
  int fd;
  do
    fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// The sector size and byte size of an open device, or of a regular file that
// stands in for one.
bool Measure(int Fd, const TLinuxDrives::TVolume& V, uint32_t& SectorSize, uint64_t& Bytes) {
  struct stat st {};
  if (::fstat(Fd, &st) != 0)
    return FailErrno();
  SectorSize = V.SectorSizeHint;
  if (S_ISBLK(st.st_mode)) {
    if (uint32_t logical = LogicalSectorSize(Fd))
      SectorSize = logical;
    uint64_t size = 0;
    if (::ioctl(Fd, BLKGETSIZE64, &size) != 0)
      return FailErrno();
    Bytes = size;
  } else if (S_ISREG(st.st_mode)) {
    Bytes = static_cast<uint64_t>(st.st_size);
  } else {
    return Fail(ERROR_INVALID_FUNCTION);
  }
  if (SectorSize == 0)
    SectorSize = V.DriveType == DRIVE_CDROM ? 2048 : 512;
  return true;
}

struct TFsInfo {
  bool Found = false;
  std::string Label;
};

// The file system on the device, as libblkid recognises it.
TFsInfo ProbeFileSystem(int Fd) {
  TFsInfo info;
  blkid_probe pr = blkid_new_probe();
  if (!pr)
    return info;
  if (blkid_probe_set_device(pr, Fd, 0, 0) == 0) {
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr,
                                      BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_USAGE);
    if (blkid_do_safeprobe(pr) == 0) {
      const char* usage = nullptr;
      if (blkid_probe_lookup_value(pr, "USAGE", &usage, nullptr) == 0 && usage &&
          std::string(usage) == "filesystem") {
        info.Found = true;
        const char* label = nullptr;
        if (blkid_probe_lookup_value(pr, "LABEL", &label, nullptr) == 0 && label)
          info.Label = label;
      }
    }
  }
  blkid_free_probe(pr);
  return info;
}

// Undoes the octal escapes of the mount table ("\040" for a blank).
std::string Unescape(const std::string& S) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (std::size_t i = 0; i < S.size(); ++i) {
    if (S[i] == '\\' && S.size() - i > 3 && octal(S[i + 1]) && octal(S[i + 2]) && octal(S[i + 3])) {
      out += static_cast<char>((S[i + 1] - '0') * 64 + (S[i + 2] - '0') * 8 + (S[i + 3] - '0'));
      i += 3;
    } else {
      out += S[i];
    }
  }
  return out;
}

struct TMount {
  std::string Number; // "7:3"
  std::string Point;
  std::string Type; // "vfat", "squashfs"
};

// The mount table: the device number, mount point and file-system type of each line.
std::vector<TMount> ReadMounts(const std::string& MountInfo) {
  std::vector<TMount> mounts;
  std::ifstream in(MountInfo);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, root;
    TMount m;
    if (!(fields >> id >> parent >> m.Number >> root >> m.Point))
      continue;
    m.Point = Unescape(m.Point);
    // Optional fields up to a lone "-", then the type.
    for (std::string f; fields >> f;)
      if (f == "-") {
        fields >> m.Type;
        break;
      }
    mounts.push_back(std::move(m));
  }
  return mounts;
}

// Where the device with that number is mounted, or empty.
std::string MountPointOf(const std::string& MountInfo, const std::string& DevNumber) {
  if (DevNumber.empty())
    return {};
  for (const TMount& m : ReadMounts(MountInfo))
    if (m.Number == DevNumber)
      return m.Point;
  return {};
}

// Read-only images of the system's own software (snap packages, live systems) that
// loop devices carry by the dozen; no camera ever wrote one.
bool IsSystemImageType(const std::string& Type) {
  return Type == "squashfs" || Type == "erofs" || Type == "cramfs" || Type == "romfs";
}

// Which devices are handed letters first: the cards and sticks this program is for,
// then the machine's disks, then images attached by hand, and RAM disks last, as the
// window never lists them.
int LetterRank(const TLinuxDrives::TVolume& V) {
  if (!V.Backing.empty())
    return 2;
  switch (V.DriveType) {
  case DRIVE_REMOVABLE:
  case DRIVE_CDROM:
    return 0;
  case DRIVE_FIXED:
    return 1;
  default:
    return 3;
  }
}

} // namespace

TLinuxDrives::TLinuxDrives(TRoots Roots) : FRoots(std::move(Roots)) {}

TLinuxDrives::~TLinuxDrives() {
  for (auto& [h, open] : FHandles)
    ::close(open.Fd);
}

void TLinuxDrives::ScanDevices() {
  std::vector<TVolume> found;
  const fs::path block = fs::path(FRoots.Sys) / "block";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(block, ec)) {
    const std::string name = entry.path().filename().string();
    const fs::path disk = entry.path();
    TVolume v;
    v.SectorSizeHint =
        static_cast<uint32_t>(ReadSysfsNumber(disk / "queue" / "logical_block_size"));
    if (StartsWith(name, "loop")) {
      v.Backing = ReadSysfsText(disk / "loop" / "backing_file");
      if (v.Backing.empty())
        continue; // an unattached loop device holds nothing
      v.DriveType = DRIVE_REMOVABLE;
    } else if (StartsWith(name, "sr")) {
      v.DriveType = DRIVE_CDROM;
    } else if (StartsWith(name, "fd")) {
      v.DriveType = DRIVE_REMOVABLE; // the geometry's media type makes it a floppy
      v.Floppy = true;
    } else if (StartsWith(name, "ram") || StartsWith(name, "zram")) {
      v.DriveType = DRIVE_RAMDISK;
    } else {
      std::error_code ec2;
      std::string real = fs::canonical(disk, ec2).string();
      v.Usb = real.find("/usb") != std::string::npos;
      bool sd = StartsWith(name, "mmcblk") && ReadSysfsText(disk / "device" / "type") == "SD";
      v.DriveType =
          ReadSysfsNumber(disk / "removable") == 1 || v.Usb || sd ? DRIVE_REMOVABLE : DRIVE_FIXED;
    }
    // A medium can arrive in a drive with removable media; other empty devices hold nothing.
    bool mediaCome = v.DriveType == DRIVE_REMOVABLE || v.DriveType == DRIVE_CDROM;

    std::vector<std::string> partitions;
    std::error_code ec3;
    for (const auto& sub : fs::directory_iterator(disk, ec3)) {
      std::error_code ec4;
      if (fs::exists(sub.path() / "partition", ec4) &&
          ReadSysfsNumber(sub.path() / "size") > 2) // 2 sectors: an extended partition's link
        partitions.push_back(sub.path().filename().string());
    }
    if (partitions.empty()) {
      if (ReadSysfsNumber(disk / "size") == 0 && !mediaCome)
        continue;
      v.Name = name;
      v.DevNumber = ReadSysfsText(disk / "dev");
      v.DevPath = (fs::path(FRoots.Dev) / name).string();
      found.push_back(v);
    } else {
      for (const auto& part : partitions) {
        TVolume p = v;
        p.Name = part;
        p.DevNumber = ReadSysfsText(disk / part / "dev");
        p.DevPath = (fs::path(FRoots.Dev) / part).string();
        found.push_back(p);
      }
    }
  }
  // A loop device that backs a mounted system image is part of the system, not a medium.
  const std::vector<TMount> mounts = ReadMounts(FRoots.MountInfo);
  std::erase_if(found, [&](const TVolume& v) {
    return !v.Backing.empty() && std::any_of(mounts.begin(), mounts.end(), [&](const TMount& m) {
      return m.Number == v.DevNumber && IsSystemImageType(m.Type);
    });
  });
  std::sort(found.begin(), found.end(), [](const TVolume& a, const TVolume& b) {
    if (a.Floppy != b.Floppy)
      return a.Floppy;
    if (LetterRank(a) != LetterRank(b))
      return LetterRank(a) < LetterRank(b);
    return NaturalLess(a.Name, b.Name);
  });

  std::lock_guard lock(FMutex);
  for (auto& letter : FLetters) {
    if (!letter)
      continue;
    auto it = std::find_if(found.begin(), found.end(),
                           [&](const TVolume& v) { return v.Name == letter->Name; });
    if (it == found.end()) {
      letter.reset();
    } else {
      letter = *it;
      found.erase(it);
    }
  }
  for (auto& v : found) {
    std::size_t i = v.Floppy ? 0 : 2; // A and B only for floppies
    while (i < FLetters.size() && FLetters[i])
      ++i;
    if (i == FLetters.size()) {
      // No letter is free: the device takes the last letter held by the lowest rank
      // below its own, whose device goes without; with no rank below, it goes without.
      std::size_t victim = FLetters.size();
      for (std::size_t j = 2; j < FLetters.size(); ++j)
        if (LetterRank(*FLetters[j]) > LetterRank(v) &&
            (victim == FLetters.size() ||
             LetterRank(*FLetters[j]) >= LetterRank(*FLetters[victim])))
          victim = j;
      i = victim;
    }
    if (i < FLetters.size())
      FLetters[i] = v;
  }
}

std::string TLinuxDrives::DevicePath(char Letter) const {
  int i = std::toupper(static_cast<unsigned char>(Letter)) - 'A';
  std::lock_guard lock(FMutex);
  if (i < 0 || i >= static_cast<int>(FLetters.size()) || !FLetters[static_cast<std::size_t>(i)])
    return {};
  return FLetters[static_cast<std::size_t>(i)]->DevPath;
}

std::optional<TLinuxDrives::TVolume> TLinuxDrives::VolumeOf(const std::string& Root) const {
  int i = LetterIndex(Root);
  if (i < 0)
    return std::nullopt;
  std::lock_guard lock(FMutex);
  return FLetters[static_cast<std::size_t>(i)];
}

uint32_t TLinuxDrives::GetLogicalDrives() {
  ScanDevices();
  std::lock_guard lock(FMutex);
  uint32_t mask = 0;
  for (std::size_t i = 0; i < FLetters.size(); ++i)
    if (FLetters[i])
      mask |= uint32_t{1} << i;
  return mask;
}

uint32_t TLinuxDrives::GetDriveType(const std::string& Root) {
  auto v = VolumeOf(Root);
  return v ? v->DriveType : DRIVE_NO_ROOT_DIR;
}

THandle TLinuxDrives::CreateFile(const std::string& Name, uint32_t Access, uint32_t /*ShareMode*/,
                                 uint32_t /*Disposition*/, uint32_t Flags) {
  if (Access & GENERIC_WRITE) { // media are only ever read
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const std::string prefix = "\\\\.\\";
  std::optional<TVolume> v;
  if (StartsWith(Name, prefix.c_str()))
    v = VolumeOf(Name.substr(prefix.size()));
  if (!v) { // no such letter, and no 9x virtual devices here
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int fd = OpenDevice(v->DevPath);
  if (fd < 0) {
    FailErrno();
    return INVALID_HANDLE_VALUE;
  }
  std::shared_ptr<TUncachedReader> uncached;
  if (Flags & FILE_FLAG_NO_BUFFERING) {
    uncached = std::make_shared<TUncachedReader>(fd);
    if (!uncached->IsOpen()) {
      const int e = uncached->Error();
      ::close(fd);
      SetLastError(ErrnoToWinError(e));
      return INVALID_HANDLE_VALUE;
    }
  }
  std::lock_guard lock(FMutex);
  THandle h = FNextHandle++;
  FHandles[h] = TOpen{fd, *v, std::move(uncached)};
  return h;
}

bool TLinuxDrives::FindOpen(THandle Handle, TOpen& Open) const {
  std::lock_guard lock(FMutex);
  auto it = FHandles.find(Handle);
  if (it == FHandles.end())
    return Fail(ERROR_INVALID_HANDLE);
  Open = it->second;
  return true;
}

bool TLinuxDrives::CloseHandle(THandle Handle) {
  std::lock_guard lock(FMutex);
  auto it = FHandles.find(Handle);
  if (it == FHandles.end())
    return Fail(ERROR_INVALID_HANDLE);
  ::close(it->second.Fd);
  FHandles.erase(it);
  return true;
}

bool TLinuxDrives::DeviceIoControl(THandle Handle, uint32_t Code, void* /*In*/, uint32_t /*InSize*/,
                                   void* Out, uint32_t OutSize, uint32_t* Returned) {
  if (Returned)
    *Returned = 0;
  TOpen open;
  if (!FindOpen(Handle, open))
    return false;
  if (Code != IOCTL_DISK_GET_DRIVE_GEOMETRY && Code != IOCTL_CDROM_GET_DRIVE_GEOMETRY)
    return Fail(ERROR_INVALID_FUNCTION);
  if (!Out || OutSize < sizeof(DISK_GEOMETRY))
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  uint32_t sectorSize = 0;
  uint64_t bytes = 0;
  if (!Measure(open.Fd, open.Volume, sectorSize, bytes))
    return false;
  if (bytes < sectorSize) // an empty drive
    return Fail(ERROR_NOT_READY);
  // Cylinders x 1 x 1 is the exact sector count.
  DISK_GEOMETRY g;
  g.Cylinders = static_cast<int64_t>(bytes / sectorSize);
  g.TracksPerCylinder = 1;
  g.SectorsPerTrack = 1;
  g.BytesPerSector = sectorSize;
  if (open.Volume.Floppy)
    g.MediaType = bytes == 1474560 ? MEDIA_F3_1Pt44_512 : MEDIA_UNKNOWN;
  else if (open.Volume.DriveType == DRIVE_REMOVABLE || open.Volume.DriveType == DRIVE_CDROM)
    g.MediaType = MEDIA_REMOVABLE;
  else
    g.MediaType = MEDIA_FIXED;
  *static_cast<DISK_GEOMETRY*>(Out) = g;
  if (Returned)
    *Returned = sizeof g;
  return true;
}

bool TLinuxDrives::SetFilePointer(THandle Handle, int64_t Offset) {
  TOpen open;
  if (!FindOpen(Handle, open))
    return false;
  if (Offset < 0)
    return Fail(ERROR_NEGATIVE_SEEK);
  if (::lseek(open.Fd, static_cast<off_t>(Offset), SEEK_SET) < 0)
    return FailErrno();
  return true;
}

bool TLinuxDrives::ReadFile(THandle Handle, void* Buffer, uint32_t Count, uint32_t* Read) {
  if (Read)
    *Read = 0;
  TOpen open;
  if (!FindOpen(Handle, open))
    return false;
  if (open.Uncached) {
    const off_t at = ::lseek(open.Fd, 0, SEEK_CUR);
    if (at < 0)
      return FailErrno();
    const ssize_t n = open.Uncached->ReadAt(static_cast<uint64_t>(at), Buffer, Count);
    if (n < 0)
      return FailErrno();
    ::lseek(open.Fd, at + n, SEEK_SET);
    if (Read)
      *Read = static_cast<uint32_t>(n);
    return true;
  }
  uint32_t done = 0;
  while (done < Count) {
    ssize_t n = ::read(open.Fd, static_cast<char*>(Buffer) + done, Count - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      if (Read)
        *Read = done;
      return FailErrno();
    }
    if (n == 0)
      break; // the end of the device
    done += static_cast<uint32_t>(n);
  }
  if (Read)
    *Read = done;
  return true;
}

bool TLinuxDrives::GetDiskFreeSpace(const std::string& Root, uint32_t* SectorsPerCluster,
                                    uint32_t* BytesPerSector, uint32_t* FreeClusters,
                                    uint32_t* TotalClusters) {
  auto v = VolumeOf(Root);
  if (!v)
    return Fail(ERROR_PATH_NOT_FOUND);
  TFd fd(OpenDevice(v->DevPath));
  if (fd.Get() < 0)
    return FailErrno();
  uint32_t sectorSize = 0;
  uint64_t bytes = 0;
  if (!Measure(fd.Get(), *v, sectorSize, bytes))
    return false;
  if (bytes < sectorSize)
    return Fail(ERROR_NOT_READY);
  uint64_t spc = 1, total = bytes / sectorSize, freeClusters = 0;
  std::string mountPoint = MountPointOf(FRoots.MountInfo, v->DevNumber);
  struct statvfs st {};
  if (!mountPoint.empty() && ::statvfs(mountPoint.c_str(), &st) == 0 && st.f_frsize > 0) {
    spc = std::max<uint64_t>(1, st.f_frsize / sectorSize);
    uint64_t clusterBytes = spc * sectorSize;
    total = static_cast<uint64_t>(st.f_blocks) * st.f_frsize / clusterBytes;
    freeClusters = static_cast<uint64_t>(st.f_bavail) * st.f_frsize / clusterBytes;
  } else if (!ProbeFileSystem(fd.Get()).Found) {
    return Fail(ERROR_UNRECOGNIZED_VOLUME);
  }
  // Unmounted, the file system is taken to span the volume; its free space is unknown.
  if (SectorsPerCluster)
    *SectorsPerCluster = Cap32(spc);
  if (BytesPerSector)
    *BytesPerSector = sectorSize;
  if (FreeClusters)
    *FreeClusters = Cap32(freeClusters);
  if (TotalClusters)
    *TotalClusters = Cap32(total);
  return true;
}

bool TLinuxDrives::GetVolumeInformation(const std::string& Root, std::string* VolumeLabel) {
  auto v = VolumeOf(Root);
  if (!v)
    return Fail(ERROR_PATH_NOT_FOUND);
  TFd fd(OpenDevice(v->DevPath));
  if (fd.Get() < 0)
    return FailErrno();
  TFsInfo info = ProbeFileSystem(fd.Get());
  if (!info.Found)
    return Fail(ERROR_UNRECOGNIZED_VOLUME);
  if (VolumeLabel)
    *VolumeLabel = info.Label;
  return true;
}

std::string TLinuxDrives::DescribeDevice(const std::string& Root) {
  auto v = VolumeOf(Root);
  if (!v)
    return {};
  std::string kind;
  if (v->Floppy)
    kind = "floppy";
  else if (v->DriveType == DRIVE_CDROM)
    kind = "CD-ROM";
  else if (v->DriveType == DRIVE_RAMDISK)
    kind = "RAM disk";
  else if (v->DriveType == DRIVE_REMOVABLE)
    kind = "removable";
  else
    kind = "fixed disk";
  if (v->Usb)
    kind += ", USB";
  if (!v->Backing.empty())
    kind += ", image " + v->Backing;
  return v->DevPath + " (" + kind + ")";
}

std::optional<TDeviceNumber> TLinuxDrives::DriveDevice(const std::string& Root) {
  auto v = VolumeOf(Root);
  return v ? TDeviceNumber::Parse(v->DevNumber) : std::nullopt;
}

bool TLinuxDrives::Privileged() const {
  return ::geteuid() == 0;
}

std::string TLinuxDrives::AccessHint() {
  // Root is refused only where the system keeps the device from everyone (a
  // container's device rules, a locked-down kernel): more rights would not help.
  if (Privileged())
    return "the device cannot be opened, not even by root";
  return "reading raw devices needs root or membership in the disk group";
}

} // namespace gf
