// The sector readers of module Drives: NT volumes, 9x disks and CD-ROMs, image files.
#include "Drives.h"

#include "BlockDevices.h"
#include "Debug.h"
#include "Errors.h"
#include "Streams.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

namespace gf {

namespace {

uint64_t MulSat(uint64_t A, uint64_t B) {
  uint64_t r;
  return __builtin_mul_overflow(A, B, &r) ? UINT64_MAX : r;
}

uint32_t DriveLetterIndex(const std::string& Root) {
  if (Root.empty())
    return 0;
  return static_cast<uint32_t>(std::toupper(static_cast<unsigned char>(Root[0])) - 'A');
}

} // namespace

// ---- NT family

bool TMediumNT::AskGeometry(uint32_t Code, DISK_GEOMETRY& Geometry) {
  TDrivePlatform* p = Drive() ? Drive()->Platform() : nullptr;
  if (!p)
    return false;
  Geometry = DISK_GEOMETRY{};
  uint32_t returned = 0;
  return p->DeviceIoControl(Drive()->NTHandle(), Code, nullptr, 0, &Geometry, sizeof Geometry,
                            &returned);
}

bool TMediumNTCDROM::GetGeometry(DISK_GEOMETRY& Geometry) {
  return AskGeometry(IOCTL_CDROM_GET_DRIVE_GEOMETRY, Geometry);
}

bool TMediumNTHDD::GetGeometry(DISK_GEOMETRY& Geometry) {
  return AskGeometry(IOCTL_DISK_GET_DRIVE_GEOMETRY, Geometry);
}

TMediumNT::~TMediumNT() {
  CloseUncached();
}

void TMediumNT::CloseUncached() {
  if (FUncached != 0 && Drive() && Drive()->Platform())
    Drive()->Platform()->CloseHandle(FUncached);
  FUncached = 0;
  FUncachedRefused = false;
}

THandle TMediumNT::UncachedHandle() {
  TDrivePlatform* p = Drive() ? Drive()->Platform() : nullptr;
  if (FUncached == 0 && !FUncachedRefused && p) {
    THandle h =
        p->CreateFile("\\\\.\\" + RootName().substr(0, 2), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    if (h == INVALID_HANDLE_VALUE) {
      FUncachedRefused = true;
      DebugLog("NTHDD: Cannot read drive %s past the system's cache (%s); the blocks after a "
               "failed read are read through it",
               RootName(), SysErrorMessage(GetLastError()));
    } else {
      FUncached = h;
    }
  }
  return FUncached != 0 ? FUncached : Drive()->NTHandle();
}

void TMediumNT::Init() {
  CloseUncached(); // the volume may hold another medium now
  ResetGeometry();
  DISK_GEOMETRY g;
  if (!GetGeometry(g))
    return;
  TDrivePlatform& p = *Drive()->Platform();
  const std::string root = RootName();
  uint64_t cylinders = g.Cylinders > 0 ? static_cast<uint64_t>(g.Cylinders) : 0;
  uint64_t geometrySectors = MulSat(MulSat(cylinders, g.TracksPerCylinder), g.SectorsPerTrack);

  uint32_t spc = 0, bps = 0, freeClusters = 0, clusters = 0;
  if (p.GetDiskFreeSpace(root, &spc, &bps, &freeClusters, &clusters)) {
    FFormatted = true;
    FSectorSize = bps;
    uint64_t count = uint64_t{spc} * clusters;
    // The clusters, counted from sector 0, leave out as many sectors as the file
    // system's reserved area, FATs and root directory hold: the volume's last
    // sectors. The geometry covers the whole volume.
    if (bps > 0 && g.BytesPerSector > 0)
      count = std::max(count, MulSat(geometrySectors, g.BytesPerSector) / bps);
    SetSectorCount(count);
    std::string label;
    if (p.GetVolumeInformation(root, &label))
      FVolumeLabel = label;
  } else {
    FSectorSize = g.BytesPerSector;
    SetSectorCount(geometrySectors);
  }
}

uint32_t TMediumNT::ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) {
  TDrivePlatform* p = Drive() ? Drive()->Platform() : nullptr;
  if (!p)
    return ERROR_INVALID_HANDLE;
  THandle h = RereadingFailure() ? UncachedHandle() : Drive()->NTHandle();
  if (!p->SetFilePointer(h, static_cast<int64_t>(uint64_t{Start} * FSectorSize))) {
    uint32_t e = GetLastError();
    if (e == 0)
      e = ERROR_SEEK;
    if (!ReadingAhead())
      DebugLog("NTHDD: Failed to seek to %d on drive %s: %s", Start, RootName(),
               SysErrorMessage(e));
    return e;
  }
  uint64_t want = uint64_t{Count} * FSectorSize;
  uint32_t got = 0;
  SetLastError(ERROR_SUCCESS); // a short read that succeeds leaves no error of its own
  bool ok = want <= UINT32_MAX && p->ReadFile(h, Buffer, static_cast<uint32_t>(want), &got);
  if (ok && got == want)
    return 0;
  uint32_t e = GetLastError();
  if (e == 0)
    e = ERROR_READ_FAULT;
  if (!ReadingAhead())
    DebugLog("NTHDD: Failed to read %d blocks starting from %d on drive %s: %s", Count, Start,
             RootName(), SysErrorMessage(e));
  return e;
}

// ---- 9x CD-ROM

void TMedium9XCDROM::Init() {
  ResetGeometry();
  TDrivePlatform* p = Drive() ? Drive()->Platform() : nullptr;
  if (!p)
    return;
  const std::string root = RootName();
  uint32_t spc = 0, bps = 0, freeClusters = 0, clusters = 0;
  if (!p->GetDiskFreeSpace(root, &spc, &bps, &freeClusters, &clusters))
    return;
  FFormatted = true;
  FSectorSize = bps;
  SetSectorCount(uint64_t{spc} * clusters);
  std::string label;
  if (p->GetVolumeInformation(root, &label))
    FVolumeLabel = label;
}

uint32_t TMedium9XCDROM::ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) {
  TDrivePlatform* p = Drive() ? Drive()->Platform() : nullptr;
  THandle h = Drive() ? Drive()->Int2fHandle() : 0;
  if (!p || h == 0)
    return ERROR_INVALID_DRIVE;
  TInt2fReadRequest request;
  request.DriveIndex = static_cast<uint8_t>(DriveLetterIndex(RootName()));
  request.Sector = Start;
  request.Count = 1;
  uint8_t* dest = Buffer;
  for (uint32_t i = 0; i < Count; ++i) {
    if (request.Sector < 16) {
      // The system area before the volume descriptors is never asked of the device.
      std::memset(dest, 0, FSectorSize);
    } else {
      request.Buffer = dest;
      uint32_t returned = 0;
      if (!p->DeviceIoControl(h, INT2F_READ_SECTORS, &request, sizeof request, nullptr, 0,
                              &returned)) {
        uint32_t e = GetLastError();
        DebugLog("9XCD: DIOC_READSECTORS failed for drive %s: %s", RootName(), SysErrorMessage(e));
        return e != 0 ? e : 1;
      }
    }
    dest += FSectorSize;
    ++request.Sector;
  }
  return 0;
}

// ---- 9x disk

uint32_t TMedium9XDrive::DriveNumber() const {
  return DriveLetterIndex(RootName()) + 1;
}

bool TMedium9XDrive::Locks() const {
  return Drive() && (Drive()->Kind() == dkFloppy || Drive()->Kind() == dkRemovable);
}

void TMedium9XDrive::ApplyDeviceParams(const TDeviceParams& P) {
  if (FSectorSize == 0)
    FSectorSize = P.Get16(TDeviceParams::oBytesPerSector);
  if (FSectorCount != 0)
    return;
  uint64_t chs = MulSat(MulSat(P.Get16(TDeviceParams::oCylinders), P.Get16(TDeviceParams::oHeads)),
                        P.Get16(TDeviceParams::oSectorsPerTrack));
  uint64_t count = std::max<uint64_t>(chs, P.Get16(TDeviceParams::oTotalSectors));
  uint8_t deviceType = P.Get8(TDeviceParams::oDeviceType);
  if (Drive() && (deviceType < 5 || deviceType == 7))
    Drive()->FKind = dkFloppy;
  uint32_t big = P.Get32(TDeviceParams::oBigTotalSectors);
  if (big < 0x80000000u && big > count)
    count = big;
  SetSectorCount(count);
}

void TMedium9XDrive::AskDeviceParams(uint8_t Special) {
  TDeviceParams params;
  params.Set8(TDeviceParams::oSpecialFunctions, Special);
  uint32_t dosError = 0;
  const std::string root = RootName();
  if (VWin32Call(*Drive(), VWIN32_DIOC_DOS_IOCTL, 0x440D, DriveNumber(), 0x0860,
                 reinterpret_cast<uintptr_t>(params.Bytes.data()), dosError)) {
    ApplyDeviceParams(params);
    if (Special == 1)
      DebugLog("9XHDD: Medium %s init with disk DPB: BPS=%x, TS=%x", root, FSectorSize,
               FSectorCount);
    else
      DebugLog("9XHDD: Medium %s init with drive DPB: BPS=%x, TS=%x", root, FSectorSize,
               FSectorCount);
  } else if (dosError != 0) {
    if (Special == 1)
      DebugLog("9XHDD: %s: GDP func 1 failed with DOS error 0x%x", root, dosError);
    else
      DebugLog("9XHDD: %s: GDP func 0 failed with DOS error 0x%x", root, dosError);
  } else {
    uint32_t e = GetLastError();
    if (Special == 1)
      DebugLog("9XHDD: Failing %s: GDP func 1 failed with DIOCTL error %d (%s)", root, e,
               SysErrorMessage(e));
    else
      DebugLog("9XHDD: Failing %s: GDP func 0 failed with DIOCTL error %d (%s)", root, e,
               SysErrorMessage(e));
  }
}

void TMedium9XDrive::Init() {
  ResetGeometry();
  TDrivePlatform* p = Drive() ? Drive()->Platform() : nullptr;
  if (!p)
    return;
  const std::string root = RootName();
  uint32_t spc = 0, bps = 0, freeClusters = 0, clusters = 0;
  if (p->GetDiskFreeSpace(root, &spc, &bps, &freeClusters, &clusters)) {
    FFormatted = true;
    std::string label;
    if (p->GetVolumeInformation(root, &label))
      FVolumeLabel = label;
    DebugLog("9XHDD: Formatted medium %s init claimed BPS=%x, TS=%x", root, bps,
             uint64_t{spc} * clusters);
  }
  AskDeviceParams(1); // the medium now in the drive
  AskDeviceParams(0); // the drive's default
}

uint32_t TMedium9XDrive::ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) {
  if (!Drive() || !Drive()->Platform())
    return ERROR_INVALID_HANDLE;
  const TDrive& drive = *Drive();
  const std::string root = RootName();
  const uint32_t number = DriveNumber();
  const bool locks = Locks();
  uint32_t dosError = 0;
  if (locks && !VWin32Call(drive, VWIN32_DIOC_DOS_IOCTL, 0x440D, number, 0x084A, 0, dosError))
    DebugLog("9XHDD: Drive lock failed for %s: %x", root, dosError);

  auto result = [&]() -> uint32_t {
    DISKIO packet;
    packet.StartSector = Start;
    packet.Sectors = static_cast<uint16_t>(Count);
    packet.Buffer = Buffer;
    uint32_t dos = 0;
    if (VWin32Call(drive, VWIN32_DIOC_DOS_DRIVEINFO, 0x7305, reinterpret_cast<uintptr_t>(&packet),
                   0xFFFFFFFFu, number, dos))
      return 0;
    for (uint32_t i = 0; i < Count; ++i) {
      packet.StartSector = Start + i;
      packet.Sectors = 1;
      packet.Buffer = Buffer + static_cast<std::size_t>(i) * FSectorSize;
      if (VWin32Call(drive, VWIN32_DIOC_DOS_DRIVEINFO, 0x7305, reinterpret_cast<uintptr_t>(&packet),
                     0xFFFFFFFFu, number, dos))
        continue;
      uint32_t last = GetLastError();
      uint32_t code = dos != 0 ? dos : last != 0 ? last : 0xFFFFFFFFu;
      DebugLog("9XHDD: INT21/7305 failed for %s (%x, %x): %x", root, Start, Count, dos);
      if (i > 0) {
        DebugLog("9XHDD: Got partial data (%x sectors), returning OK", i);
        std::memset(Buffer + static_cast<std::size_t>(i) * FSectorSize, 0,
                    static_cast<std::size_t>(Count - i) * FSectorSize);
        return 0;
      }
      if (uint64_t{Start} + 131072 / FSectorSize >= FSectorCount) {
        DebugLog("9XHDD: Failure within last 128k of %s - returning OK", root);
        std::memset(Buffer, 0, static_cast<std::size_t>(Count) * FSectorSize);
        return 0;
      }
      DebugLog("9XHDD: failed on first sector, returning error");
      return code;
    }
    return 0;
  }();

  if (locks && !VWin32Call(drive, VWIN32_DIOC_DOS_IOCTL, 0x440D, number, 0x086A, 0, dosError))
    DebugLog("9XHDD: Drive unlock failed for %s: %x", root, dosError);
  return result;
}

// ---- image file

TMediumFile::TMediumFile(TDrive* Drive) : TMedium(Drive) {
  SetReadAhead(ReadAheadBytes); // positioned reads of a file: long ones read ahead
}
TMediumFile::~TMediumFile() = default;

void TMediumFile::Init() {
  FUncached.reset();
  FUncachedRefused = false;
  FStream.reset();
  ResetGeometry();
  FFileSize = 0;
  FFileName = Drive() ? Drive()->FileName() : std::string();
  try {
    FStream = std::make_unique<TFileStream>(FFileName, TFileMode::OpenReadMedium);
    // A block device's file size reads 0: its end tells its size.
    int64_t size = FStream->Seek(0, TSeekOrigin::End);
    FStream->Seek(0, TSeekOrigin::Beginning);
    FFileSize = static_cast<uint64_t>(size);
    // A block device is read in the sectors it is addressed in, as through its drive
    // letter; an image in sectors of 512 bytes.
    const uint32_t logical = LogicalSectorSize(FStream->Handle());
    FBlockDevice = logical > 0;
    FSectorSize = logical > 0 ? logical : 512;
    SetSectorCount((FFileSize + FSectorSize - 1) / FSectorSize);
    FVolumeLabel = std::filesystem::path(FFileName).filename().string();
    FFormatted = true;
  } catch (...) {
    FStream.reset();
    ResetGeometry();
    FFileSize = 0;
    throw;
  }
}

TUncachedReader* TMediumFile::Uncached() {
  if (!FBlockDevice || FUncached || FUncachedRefused)
    return FUncached.get();
  auto reader = std::make_unique<TUncachedReader>(FStream->Handle());
  if (reader->IsOpen()) {
    FUncached = std::move(reader);
  } else {
    FUncachedRefused = true;
    DebugLog("MEDIUM: Cannot read %s past the page cache (%s); the blocks after a failed read "
             "are read through it",
             FFileName, std::strerror(reader->Error()));
  }
  return FUncached.get();
}

uint32_t TMediumFile::ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) {
  if (!FStream)
    return ERROR_FILE_NOT_FOUND;
  const uint64_t offset = uint64_t{Start} * FSectorSize;
  if (offset > FFileSize)
    return ERROR_END_OF_MEDIA;
  const std::size_t want = static_cast<std::size_t>(Count) * FSectorSize;
  try {
    std::size_t got = 0;
    if (TUncachedReader* uncached = RereadingFailure() ? Uncached() : nullptr) {
      ssize_t n = uncached->ReadAt(offset, Buffer, want);
      if (n < 0)
        return ERROR_SEEK;
      got = static_cast<std::size_t>(n);
    } else {
      FStream->Seek(static_cast<int64_t>(offset), TSeekOrigin::Beginning);
      got = FStream->Read(Buffer, want);
    }
    if (got == want)
      return 0;
    if (want - got < FSectorSize) { // the rounded-up last sector
      std::memset(Buffer + got, 0, want - got);
      return 0;
    }
    return ERROR_SEEK;
  } catch (...) {
    return ERROR_SEEK;
  }
}

} // namespace gf
