// The drive calls on Linux. Every block device that can hold a volume (a partition,
// a disk without partitions, a CD drive, a floppy, a RAM disk, a loop device with a
// backing file) gets a drive letter: A and B for floppies, then C upward, first to
// removable media (USB, SD/MMC, card readers, optical), then to fixed disks, then to
// loop devices, then to RAM disks, each group in name order. A letter stays with its
// device while the device is present, unless the letters run out: then a new device
// takes the letter of one that ranks below it. A loop device that backs a mounted
// system image (squashfs and the like) gets none. "\\.\X:" opens
// the device read-only; the geometry comes from the kernel's sector size and device
// size; the free space and the label from the file system on the volume. A handle
// opened with FILE_FLAG_NO_BUFFERING reads past the page cache (O_DIRECT). The
// family is NT: the 9x virtual devices do not exist here.
#pragma once

#include "DriveApi.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace gf {

class TUncachedReader;

class TLinuxDrives : public TDrivePlatform {
public:
  struct TRoots {
    std::string Sys = "/sys";
    std::string Dev = "/dev";
    std::string MountInfo = "/proc/self/mountinfo";
  };

  TLinuxDrives() : TLinuxDrives(TRoots{}) {}
  // Roots of sysfs, of the device files and the mount table, so that the backend can
  // run over a small tree of ordinary files.
  explicit TLinuxDrives(TRoots Roots);
  ~TLinuxDrives() override;
  TLinuxDrives(const TLinuxDrives&) = delete;
  TLinuxDrives& operator=(const TLinuxDrives&) = delete;

  // Reads the block devices again: vanished ones give up their letters, new ones
  // get the lowest free letters. GetLogicalDrives calls it; so may a device monitor.
  void ScanDevices();
  // The device file behind a letter, or empty.
  std::string DevicePath(char Letter) const;

  uint32_t GetLogicalDrives() override;
  uint32_t GetDriveType(const std::string& Root) override;
  uint32_t PlatformId() override { return VER_PLATFORM_WIN32_NT; }
  THandle CreateFile(const std::string& Name, uint32_t Access, uint32_t ShareMode,
                     uint32_t Disposition, uint32_t Flags) override;
  bool CloseHandle(THandle Handle) override;
  bool DeviceIoControl(THandle Handle, uint32_t Code, void* In, uint32_t InSize, void* Out,
                       uint32_t OutSize, uint32_t* Returned) override;
  bool SetFilePointer(THandle Handle, int64_t Offset) override;
  bool ReadFile(THandle Handle, void* Buffer, uint32_t Count, uint32_t* Read) override;
  bool GetDiskFreeSpace(const std::string& Root, uint32_t* SectorsPerCluster,
                        uint32_t* BytesPerSector, uint32_t* FreeClusters,
                        uint32_t* TotalClusters) override;
  bool GetVolumeInformation(const std::string& Root, std::string* VolumeLabel) override;
  std::string DescribeDevice(const std::string& Root) override;
  std::optional<TDeviceNumber> DriveDevice(const std::string& Root) override;
  std::string SysRoot() override { return FRoots.Sys; }
  // Depends on whether the process runs as root.
  std::string AccessHint() override;

  struct TVolume {
    std::string Name;      // the sysfs name: "sdb1", "sr0"
    std::string DevPath;   // "/dev/sdb1"
    std::string DevNumber; // "8:17", to find the volume in the mount table
    uint32_t DriveType = DRIVE_FIXED;
    bool Floppy = false;
    bool Usb = false;
    std::string Backing;         // a loop device's backing file
    uint32_t SectorSizeHint = 0; // sysfs logical block size; 0 when unknown
  };

protected:
  // Whether the process runs as root; tests stand in for root without being it.
  virtual bool Privileged() const;

private:
  struct TOpen {
    int Fd = -1; // also keeps the position of an uncached handle
    TVolume Volume;
    std::shared_ptr<TUncachedReader> Uncached; // the reads of a FILE_FLAG_NO_BUFFERING handle
  };

  std::optional<TVolume> VolumeOf(const std::string& Root) const;
  bool FindOpen(THandle Handle, TOpen& Open) const;

  TRoots FRoots;
  mutable std::mutex FMutex; // guards the letters and the handle table
  std::array<std::optional<TVolume>, 26> FLetters;
  std::map<THandle, TOpen> FHandles;
  THandle FNextHandle = 1;
};

} // namespace gf
