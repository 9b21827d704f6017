// The drive and device calls the media code makes, shaped like the Windows calls it
// was written against, behind one interface with a Linux and a simulated backend.
// Every failing call sets the calling thread's last error (Errors.h).
#pragma once

#include "BlockDevices.h"
#include "ByteOrder.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace gf {

// 0 is "no handle" for the callers; a failed open answers INVALID_HANDLE_VALUE.
using THandle = intptr_t;
constexpr THandle INVALID_HANDLE_VALUE = -1;

// Drive type numbers, as GetDriveType answers them.
enum : uint32_t {
  DRIVE_UNKNOWN = 0,
  DRIVE_NO_ROOT_DIR = 1,
  DRIVE_REMOVABLE = 2,
  DRIVE_FIXED = 3,
  DRIVE_REMOTE = 4,
  DRIVE_CDROM = 5,
  DRIVE_RAMDISK = 6,
};

// Platform families.
enum : uint32_t {
  VER_PLATFORM_WIN32_WINDOWS = 1, // the 9x family
  VER_PLATFORM_WIN32_NT = 2,
};

// CreateFile arguments in use.
enum : uint32_t {
  GENERIC_READ = 0x80000000u,
  GENERIC_WRITE = 0x40000000u,
  FILE_SHARE_READ = 1,
  FILE_SHARE_WRITE = 2,
  OPEN_EXISTING = 3,
  FILE_FLAG_WRITE_THROUGH = 0x80000000u,
  FILE_FLAG_NO_BUFFERING = 0x20000000u, // reads go to the device, past the system's cache
  FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u,
};

// Device control codes in use.
enum : uint32_t {
  IOCTL_DISK_GET_DRIVE_GEOMETRY = 0x70000,
  IOCTL_CDROM_GET_DRIVE_GEOMETRY = 0x2404C,
  VWIN32_DIOC_DOS_IOCTL = 1,     // INT 21h 440Dh
  VWIN32_DIOC_DOS_DRIVEINFO = 6, // INT 21h 7305h
  INT2F_READ_SECTORS = 2,        // INT2F.VXD: one CD-ROM sector per call
};

// Media types of DISK_GEOMETRY that are not floppy formats.
enum : uint32_t {
  MEDIA_UNKNOWN = 0,
  MEDIA_F3_1Pt44_512 = 2,
  MEDIA_REMOVABLE = 11,
  MEDIA_FIXED = 12,
};

struct DISK_GEOMETRY {
  int64_t Cylinders = 0;
  uint32_t MediaType = 0;
  uint32_t TracksPerCylinder = 0;
  uint32_t SectorsPerTrack = 0;
  uint32_t BytesPerSector = 0;
};

// The register block of a VWIN32 call. The fields are wide enough to carry an
// address on this platform (a packet's or a parameter block's).
struct DIOC_REGISTERS {
  uintptr_t EBX = 0;
  uintptr_t EDX = 0;
  uintptr_t ECX = 0;
  uintptr_t EAX = 0;
  uintptr_t EDI = 0;
  uintptr_t ESI = 0;
  uintptr_t Flags = 0; // bit 0: carry of the emulated DOS call
};

constexpr uintptr_t CARRY_FLAG = 1;

// The packet of INT 21h 7305h (absolute disk read).
struct DISKIO {
  uint32_t StartSector = 0;
  uint16_t Sectors = 0;
  uint8_t* Buffer = nullptr;
};

// The request of the INT2F.VXD sector read.
struct TInt2fReadRequest {
  uint8_t DriveIndex = 0; // 0 = A
  uint32_t Sector = 0;
  uint8_t Count = 0; // always 1
  uint8_t* Buffer = nullptr;
};

// The 38-byte block of INT 21h 440Dh/0860h (get device parameters), packed, little-endian.
class TDeviceParams {
public:
  static constexpr std::size_t Size = 38;
  enum : std::size_t {
    oSpecialFunctions = 0,
    oDeviceType = 1,
    oCylinders = 4,
    oBytesPerSector = 7,
    oTotalSectors = 15,
    oSectorsPerTrack = 20,
    oHeads = 22,
    oBigTotalSectors = 28,
  };
  std::array<uint8_t, Size> Bytes{};

  uint8_t Get8(std::size_t Off) const { return Bytes[Off]; }
  uint16_t Get16(std::size_t Off) const { return Le16(Bytes.data() + Off); }
  uint32_t Get32(std::size_t Off) const { return Le32(Bytes.data() + Off); }
  void Set8(std::size_t Off, uint8_t V) { Bytes[Off] = V; }
  void Set16(std::size_t Off, uint16_t V) { PutLe16(Bytes.data() + Off, V); }
  void Set32(std::size_t Off, uint32_t V) { PutLe32(Bytes.data() + Off, V); }
};

// The calls, one backend per platform. Calls may come from the user-interface
// thread (detection) and the scan worker (reads on an open handle) at once.
class TDrivePlatform {
public:
  virtual ~TDrivePlatform() = default;

  // Bit i set: drive letter A + i exists.
  virtual uint32_t GetLogicalDrives() = 0;
  // A DRIVE_* number for a root such as "E:\"; DRIVE_NO_ROOT_DIR for any other root.
  virtual uint32_t GetDriveType(const std::string& Root) = 0;
  // VER_PLATFORM_WIN32_NT or VER_PLATFORM_WIN32_WINDOWS.
  virtual uint32_t PlatformId() = 0;

  // Opens "\\.\X:" (a volume) or a virtual device; INVALID_HANDLE_VALUE on failure.
  virtual THandle CreateFile(const std::string& Name, uint32_t Access, uint32_t ShareMode,
                             uint32_t Disposition, uint32_t Flags) = 0;
  virtual bool CloseHandle(THandle Handle) = 0;
  virtual bool DeviceIoControl(THandle Handle, uint32_t Code, void* In, uint32_t InSize, void* Out,
                               uint32_t OutSize, uint32_t* Returned) = 0;
  // Moves the handle's position to Offset bytes from the beginning.
  virtual bool SetFilePointer(THandle Handle, int64_t Offset) = 0;
  // Reads up to Count bytes; true with a short Read at the end of the device.
  virtual bool ReadFile(THandle Handle, void* Buffer, uint32_t Count, uint32_t* Read) = 0;

  // Succeeds when a file system answers for the root.
  virtual bool GetDiskFreeSpace(const std::string& Root, uint32_t* SectorsPerCluster,
                                uint32_t* BytesPerSector, uint32_t* FreeClusters,
                                uint32_t* TotalClusters) = 0;
  virtual bool GetVolumeInformation(const std::string& Root, std::string* VolumeLabel) = 0;

  // For log lines: what stands behind a root ("/dev/sdb1 (removable, USB)"), or empty.
  virtual std::string DescribeDevice(const std::string& Root) = 0;
  // For log lines: what would help when a device refuses access.
  virtual std::string AccessHint() = 0;

  // The block device behind a root, for telling whether a folder lies on the medium
  // (BlockDevices.h); none when the backend knows of none.
  virtual std::optional<TDeviceNumber> DriveDevice(const std::string& Root) = 0;
  // The sysfs tree that tells how the block devices hang together ("/sys").
  virtual std::string SysRoot() = 0;
};

} // namespace gf
