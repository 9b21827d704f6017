// The drive calls over a table of simulated drives, for tests: each drive has a
// drive type, a backing image (in memory or a file), a sector size, a media type,
// a label, formatted or not, and sectors that fail. The family is NT or 9x; on 9x
// the VWIN32 device (DOS 7305h absolute read, 440Dh device parameters, lock and
// unlock) and the INT2F.VXD sector read are emulated over the backings. Failures
// of every call the media code makes can be injected.
#pragma once

#include "DriveApi.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace gf {

// What 440Dh/0860h answers.
struct TSimDeviceParams {
  uint8_t DeviceType = 5; // fixed disk; below 5 and 7 are floppy devices
  uint16_t Cylinders = 0;
  uint16_t Heads = 0;
  uint16_t SectorsPerTrack = 0;
  std::optional<uint16_t> BytesPerSector; // unset: the drive's sector size
  uint16_t TotalSectors = 0;
  std::optional<uint32_t> BigTotalSectors; // unset: the backing's sector count
  uint32_t DosError = 0;                   // the call answers carry with this DOS error
  uint32_t CallError = 0;                  // the device call itself fails with this last error
};

struct TSimDrive {
  uint32_t DriveType = DRIVE_REMOVABLE;
  bool HasMedium = true;
  std::vector<uint8_t> Image; // the backing, unless ImageFile is set
  std::string ImageFile;
  // Nonzero: the backing's size in bytes, whose bytes beyond the image read as zeros
  // (a large medium without the memory or disk space it would take).
  uint64_t VirtualSize = 0;
  uint32_t SectorSize = 512;
  uint32_t MediaType = MEDIA_REMOVABLE;
  // Geometry; 0 cylinders means sectors x 1 x 1.
  int64_t Cylinders = 0;
  uint32_t TracksPerCylinder = 0;
  uint32_t SectorsPerTrack = 0;
  // The file system.
  bool Formatted = true;
  std::string Label;
  uint32_t SectorsPerCluster = 1;
  uint32_t TotalClusters = 0;           // 0: the backing's sectors / SectorsPerCluster
  uint32_t FreeSpaceBytesPerSector = 0; // 0: SectorSize
  // The block device it stands for (read in the backend's SysRoot), or none.
  std::optional<TDeviceNumber> Device;
  // Failures: a read that touches a failing sector fails with its code (a DOS
  // error on 9x disks, the last error otherwise).
  std::map<uint32_t, uint32_t> FailingSectors;
  // As a block device's page cache does: an NT read that fails leaves every sector it
  // asked for failing with its code for the reads through ordinary handles that follow
  // (CachedFailures, start and end); a handle opened with FILE_FLAG_NO_BUFFERING reads
  // past that, where only FailingSectors fail.
  bool CachesFailures = false;
  std::vector<std::tuple<uint64_t, uint64_t, uint32_t>> CachedFailures;
  uint32_t UncachedOpenError = 0; // "\\.\X:" with FILE_FLAG_NO_BUFFERING refuses to open
  uint32_t DosReadCallError = 0;  // nonzero: a failing 7305h read fails as a call, with this error
  uint32_t OpenError = 0;         // "\\.\X:" refuses to open
  uint32_t GeometryError = 0;
  uint32_t SeekError = 0;
  uint32_t LockDosError = 0;
  uint32_t UnlockDosError = 0;
  TSimDeviceParams MediumParams; // special functions 1
  TSimDeviceParams DriveParams;  // special functions 0
};

class TSimulatedDrives : public TDrivePlatform {
public:
  explicit TSimulatedDrives(uint32_t PlatformId = VER_PLATFORM_WIN32_NT)
      : FPlatformId(PlatformId) {}

  TSimDrive& AddDrive(char Letter, TSimDrive Drive = {});
  void RemoveDrive(char Letter);
  TSimDrive* Drive(char Letter);
  void SetPlatformId(uint32_t Id) { FPlatformId = Id; }

  uint32_t VWin32OpenError = 0; // on 9x; on NT the device never opens
  uint32_t Int2fOpenError = 0;

  struct TCalls {
    int VWin32Opens = 0, VWin32Closes = 0, Int2fOpens = 0, Int2fCloses = 0;
    int DosReads = 0; // 7305h calls
    int Locks = 0, Unlocks = 0;
    int VolumeOpens = 0;
    std::vector<uint32_t> Int2fSectors;               // sectors asked of INT2F.VXD, in order
    std::vector<std::pair<uint32_t, uint32_t>> Reads; // NT and 7305h reads: start, count
    std::vector<std::pair<uint32_t, uint32_t>> UncachedReads; // those of them past the cache
    int UncachedOpens = 0;
    std::vector<uint32_t> GeometryCodes;
  };
  TCalls Calls;
  int OpenHandles() const;

  uint32_t GetLogicalDrives() override;
  uint32_t GetDriveType(const std::string& Root) override;
  uint32_t PlatformId() override { return FPlatformId; }
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
  std::string AccessHint() override { return "the simulated drive refuses access"; }
  std::optional<TDeviceNumber> DriveDevice(const std::string& Root) override;
  std::string SysRoot() override { return Sys; }

  // Where the drives' devices are looked up: the system's sysfs, or a tree of a test's own.
  std::string Sys = "/sys";

private:
  enum class TKind { Volume, VWin32, Int2f };
  struct TOpen {
    TKind Kind = TKind::Volume;
    char Letter = 0;
    uint64_t Position = 0;
    bool Uncached = false; // FILE_FLAG_NO_BUFFERING
  };

  TSimDrive* DriveOfRoot(const std::string& Root);
  // The drive of Root when a file system answers there; else null, with the last error set.
  TSimDrive* FileSystemOf(const std::string& Root);
  TSimDrive* DriveOfLetterLocked(char Letter);
  bool VWin32Control(uint32_t Code, DIOC_REGISTERS& R);
  bool DosRead(DIOC_REGISTERS& R);
  bool DosIoctl(DIOC_REGISTERS& R);
  bool Int2fRead(const TInt2fReadRequest& Request);

  mutable std::recursive_mutex FMutex;
  uint32_t FPlatformId;
  std::map<char, TSimDrive> FDrives;
  std::map<THandle, TOpen> FHandles;
  THandle FNextHandle = 100;
};

// The backing's size in bytes, and a read of it that returns the bytes read.
uint64_t SimBackingSize(const TSimDrive& Drive);
uint64_t SimReadBacking(const TSimDrive& Drive, uint64_t Offset, uint8_t* Buffer, uint64_t Count);

} // namespace gf
