#include "SimulatedDrives.h"

#include "Errors.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace gf {

namespace {

constexpr uint32_t DOS_INVALID_DRIVE = 0x0F;
constexpr uint32_t DOS_NOT_READY = 0x15;
constexpr uint32_t DOS_SECTOR_NOT_FOUND = 0x1B;
constexpr uint32_t DOS_INVALID_FUNCTION = 0x01;

bool Fail(uint32_t Code) {
  SetLastError(Code);
  return false;
}

char LetterOf(const std::string& Root) {
  if (Root.size() < 2 || Root[1] != ':')
    return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(Root[0])));
}

uint64_t SectorsOf(const TSimDrive& D) {
  return D.SectorSize ? SimBackingSize(D) / D.SectorSize : 0;
}

// The code of the first failing sector in Start .. Start + Count - 1, if any.
const uint32_t* FirstFailure(const TSimDrive& D, uint64_t Start, uint64_t Count) {
  auto it =
      D.FailingSectors.lower_bound(static_cast<uint32_t>(std::min<uint64_t>(Start, UINT32_MAX)));
  if (it != D.FailingSectors.end() && it->first < Start + Count)
    return &it->second;
  return nullptr;
}

} // namespace

namespace {

uint64_t ImageSize(const TSimDrive& Drive) {
  if (Drive.ImageFile.empty())
    return Drive.Image.size();
  std::error_code ec;
  auto size = std::filesystem::file_size(Drive.ImageFile, ec);
  return ec ? 0 : size;
}

} // namespace

uint64_t SimBackingSize(const TSimDrive& Drive) {
  return std::max(ImageSize(Drive), Drive.VirtualSize);
}

uint64_t SimReadBacking(const TSimDrive& Drive, uint64_t Offset, uint8_t* Buffer, uint64_t Count) {
  const uint64_t size = SimBackingSize(Drive), image = ImageSize(Drive);
  if (Offset >= size)
    return 0;
  const uint64_t n = std::min(Count, size - Offset);
  const uint64_t fromImage = Offset < image ? std::min(n, image - Offset) : 0;
  std::memset(Buffer + fromImage, 0, n - fromImage);
  if (fromImage == 0)
    return n;
  if (Drive.ImageFile.empty()) {
    std::memcpy(Buffer, Drive.Image.data() + Offset, fromImage);
    return n;
  }
  std::ifstream in(Drive.ImageFile, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(Offset));
  in.read(reinterpret_cast<char*>(Buffer), static_cast<std::streamsize>(fromImage));
  const auto got = static_cast<uint64_t>(in.gcount());
  return got < fromImage ? got : n;
}

TSimDrive& TSimulatedDrives::AddDrive(char Letter, TSimDrive Drive) {
  std::lock_guard lock(FMutex);
  return FDrives[static_cast<char>(std::toupper(static_cast<unsigned char>(Letter)))] =
             std::move(Drive);
}

void TSimulatedDrives::RemoveDrive(char Letter) {
  std::lock_guard lock(FMutex);
  FDrives.erase(static_cast<char>(std::toupper(static_cast<unsigned char>(Letter))));
}

TSimDrive* TSimulatedDrives::Drive(char Letter) {
  std::lock_guard lock(FMutex);
  return DriveOfLetterLocked(Letter);
}

TSimDrive* TSimulatedDrives::DriveOfLetterLocked(char Letter) {
  auto it = FDrives.find(static_cast<char>(std::toupper(static_cast<unsigned char>(Letter))));
  return it == FDrives.end() ? nullptr : &it->second;
}

TSimDrive* TSimulatedDrives::DriveOfRoot(const std::string& Root) {
  char letter = LetterOf(Root);
  return letter ? DriveOfLetterLocked(letter) : nullptr;
}

int TSimulatedDrives::OpenHandles() const {
  std::lock_guard lock(FMutex);
  return static_cast<int>(FHandles.size());
}

uint32_t TSimulatedDrives::GetLogicalDrives() {
  std::lock_guard lock(FMutex);
  uint32_t mask = 0;
  for (auto& [letter, d] : FDrives)
    if (letter >= 'A' && letter - 'A' < 32)
      mask |= uint32_t{1} << (letter - 'A');
  return mask;
}

uint32_t TSimulatedDrives::GetDriveType(const std::string& Root) {
  std::lock_guard lock(FMutex);
  TSimDrive* d = DriveOfRoot(Root);
  return d ? d->DriveType : DRIVE_NO_ROOT_DIR;
}

THandle TSimulatedDrives::CreateFile(const std::string& Name, uint32_t Access,
                                     uint32_t /*ShareMode*/, uint32_t /*Disposition*/,
                                     uint32_t Flags) {
  std::lock_guard lock(FMutex);
  const bool nt = FPlatformId == VER_PLATFORM_WIN32_NT;
  TOpen open;
  if (Name == "\\\\.\\VWIN32" || Name == "\\\\.\\INT2F.VXD") {
    bool vwin32 = Name == "\\\\.\\VWIN32";
    uint32_t e = vwin32 ? VWin32OpenError : Int2fOpenError;
    if (nt)
      e = ERROR_FILE_NOT_FOUND;
    if (e) {
      SetLastError(e);
      return INVALID_HANDLE_VALUE;
    }
    open.Kind = vwin32 ? TKind::VWin32 : TKind::Int2f;
    ++(vwin32 ? Calls.VWin32Opens : Calls.Int2fOpens);
  } else if (Name.rfind("\\\\.\\", 0) == 0 && Name.size() == 6 && nt) {
    TSimDrive* d = DriveOfRoot(Name.substr(4));
    const bool uncached = Flags & FILE_FLAG_NO_BUFFERING;
    uint32_t e = !d                         ? ERROR_FILE_NOT_FOUND
                 : (Access & GENERIC_WRITE) ? ERROR_ACCESS_DENIED
                 : d->OpenError             ? d->OpenError
                 : uncached                 ? d->UncachedOpenError
                                            : 0;
    if (e) {
      SetLastError(e);
      return INVALID_HANDLE_VALUE;
    }
    open.Kind = TKind::Volume;
    open.Letter = LetterOf(Name.substr(4));
    open.Uncached = uncached;
    ++(uncached ? Calls.UncachedOpens : Calls.VolumeOpens);
  } else {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  THandle h = FNextHandle++;
  FHandles[h] = open;
  return h;
}

bool TSimulatedDrives::CloseHandle(THandle Handle) {
  std::lock_guard lock(FMutex);
  auto it = FHandles.find(Handle);
  if (it == FHandles.end())
    return Fail(ERROR_INVALID_HANDLE);
  if (it->second.Kind == TKind::VWin32)
    ++Calls.VWin32Closes;
  else if (it->second.Kind == TKind::Int2f)
    ++Calls.Int2fCloses;
  FHandles.erase(it);
  return true;
}

bool TSimulatedDrives::DeviceIoControl(THandle Handle, uint32_t Code, void* In, uint32_t InSize,
                                       void* Out, uint32_t OutSize, uint32_t* Returned) {
  std::lock_guard lock(FMutex);
  if (Returned)
    *Returned = 0;
  auto it = FHandles.find(Handle);
  if (it == FHandles.end())
    return Fail(ERROR_INVALID_HANDLE);
  const TOpen& open = it->second;
  bool ok = false;
  switch (open.Kind) {
  case TKind::VWin32:
    if (!In || InSize != sizeof(DIOC_REGISTERS) || Out != In || OutSize != InSize)
      return Fail(ERROR_INVALID_PARAMETER);
    ok = VWin32Control(Code, *static_cast<DIOC_REGISTERS*>(In));
    break;
  case TKind::Int2f:
    if (Code != INT2F_READ_SECTORS || !In || InSize != sizeof(TInt2fReadRequest))
      return Fail(ERROR_INVALID_PARAMETER);
    ok = Int2fRead(*static_cast<const TInt2fReadRequest*>(In));
    break;
  case TKind::Volume: {
    Calls.GeometryCodes.push_back(Code);
    if (Code != IOCTL_DISK_GET_DRIVE_GEOMETRY && Code != IOCTL_CDROM_GET_DRIVE_GEOMETRY)
      return Fail(ERROR_INVALID_FUNCTION);
    if (!Out || OutSize < sizeof(DISK_GEOMETRY))
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    TSimDrive* d = DriveOfLetterLocked(open.Letter);
    if (!d)
      return Fail(ERROR_DEVICE_NOT_CONNECTED);
    if (d->GeometryError)
      return Fail(d->GeometryError);
    if (!d->HasMedium)
      return Fail(ERROR_NOT_READY);
    DISK_GEOMETRY g;
    g.MediaType = d->MediaType;
    g.BytesPerSector = d->SectorSize;
    if (d->Cylinders) {
      g.Cylinders = d->Cylinders;
      g.TracksPerCylinder = d->TracksPerCylinder;
      g.SectorsPerTrack = d->SectorsPerTrack;
    } else {
      g.Cylinders = static_cast<int64_t>(SectorsOf(*d));
      g.TracksPerCylinder = 1;
      g.SectorsPerTrack = 1;
    }
    *static_cast<DISK_GEOMETRY*>(Out) = g;
    if (Returned)
      *Returned = sizeof g;
    ok = true;
    break;
  }
  }
  if (ok)
    SetLastError(ERROR_SUCCESS);
  return ok;
}

bool TSimulatedDrives::VWin32Control(uint32_t Code, DIOC_REGISTERS& R) {
  if (Code == VWIN32_DIOC_DOS_DRIVEINFO && (R.EAX & 0xFFFF) == 0x7305)
    return DosRead(R);
  if (Code == VWIN32_DIOC_DOS_IOCTL && (R.EAX & 0xFFFF) == 0x440D)
    return DosIoctl(R);
  return Fail(ERROR_INVALID_FUNCTION);
}

namespace {
void Carry(DIOC_REGISTERS& R, uint32_t DosError) {
  R.Flags |= CARRY_FLAG;
  R.EAX = DosError;
}
void NoCarry(DIOC_REGISTERS& R) {
  R.Flags &= ~CARRY_FLAG;
}
} // namespace

bool TSimulatedDrives::DosRead(DIOC_REGISTERS& R) {
  ++Calls.DosReads;
  auto* packet = reinterpret_cast<DISKIO*>(R.EBX);
  if (!packet || (R.ECX & 0xFFFFFFFFu) != 0xFFFFFFFFu || (R.ESI & 1) != 0)
    return Fail(ERROR_INVALID_PARAMETER);
  uint32_t number = static_cast<uint32_t>(R.EDX & 0xFF);
  TSimDrive* d = number >= 1 && number <= 26
                     ? DriveOfLetterLocked(static_cast<char>('A' + number - 1))
                     : nullptr;
  Calls.Reads.emplace_back(packet->StartSector, packet->Sectors);
  if (!d || d->DriveType == DRIVE_CDROM) {
    Carry(R, DOS_INVALID_DRIVE);
    return true;
  }
  if (!d->HasMedium) {
    Carry(R, DOS_NOT_READY);
    return true;
  }
  // The probe's scratch area holds 16384 bytes; larger sectors cannot be emulated.
  if (d->SectorSize == 0 || d->SectorSize > 16384) {
    Carry(R, DOS_SECTOR_NOT_FOUND);
    return true;
  }
  uint64_t start = packet->StartSector, count = packet->Sectors;
  if (start + count > SectorsOf(*d)) {
    Carry(R, DOS_SECTOR_NOT_FOUND);
    return true;
  }
  if (const uint32_t* code = FirstFailure(*d, start, count)) {
    if (d->DosReadCallError)
      return Fail(d->DosReadCallError);
    Carry(R, *code);
    return true;
  }
  SimReadBacking(*d, start * d->SectorSize, packet->Buffer, count * d->SectorSize);
  NoCarry(R);
  return true;
}

bool TSimulatedDrives::DosIoctl(DIOC_REGISTERS& R) {
  uint32_t number = static_cast<uint32_t>(R.EBX & 0xFF);
  TSimDrive* d = number >= 1 && number <= 26
                     ? DriveOfLetterLocked(static_cast<char>('A' + number - 1))
                     : nullptr;
  if (!d) {
    Carry(R, DOS_INVALID_DRIVE);
    return true;
  }
  switch (R.ECX & 0xFFFF) {
  case 0x084A:
    ++Calls.Locks;
    if (d->LockDosError)
      Carry(R, d->LockDosError);
    else
      NoCarry(R);
    return true;
  case 0x086A:
    ++Calls.Unlocks;
    if (d->UnlockDosError)
      Carry(R, d->UnlockDosError);
    else
      NoCarry(R);
    return true;
  case 0x0860: {
    auto* block = reinterpret_cast<uint8_t*>(R.EDX);
    if (!block)
      return Fail(ERROR_INVALID_PARAMETER);
    TDeviceParams p;
    std::memcpy(p.Bytes.data(), block, TDeviceParams::Size);
    bool medium = p.Get8(TDeviceParams::oSpecialFunctions) == 1;
    const TSimDeviceParams& s = medium ? d->MediumParams : d->DriveParams;
    if (s.CallError)
      return Fail(s.CallError);
    if (s.DosError) {
      Carry(R, s.DosError);
      return true;
    }
    if (medium && !d->HasMedium) {
      Carry(R, DOS_NOT_READY);
      return true;
    }
    uint64_t sectors = SectorsOf(*d);
    p.Set8(TDeviceParams::oDeviceType, s.DeviceType);
    p.Set16(TDeviceParams::oCylinders, s.Cylinders);
    p.Set16(TDeviceParams::oHeads, s.Heads);
    p.Set16(TDeviceParams::oSectorsPerTrack, s.SectorsPerTrack);
    p.Set16(TDeviceParams::oBytesPerSector,
            s.BytesPerSector.value_or(static_cast<uint16_t>(d->SectorSize)));
    p.Set16(TDeviceParams::oTotalSectors, s.TotalSectors);
    p.Set32(TDeviceParams::oBigTotalSectors, s.BigTotalSectors.value_or(static_cast<uint32_t>(
                                                 std::min<uint64_t>(sectors, UINT32_MAX))));
    std::memcpy(block, p.Bytes.data(), TDeviceParams::Size);
    NoCarry(R);
    return true;
  }
  default:
    Carry(R, DOS_INVALID_FUNCTION);
    return true;
  }
}

bool TSimulatedDrives::Int2fRead(const TInt2fReadRequest& Request) {
  Calls.Int2fSectors.push_back(Request.Sector);
  TSimDrive* d = Request.DriveIndex < 26
                     ? DriveOfLetterLocked(static_cast<char>('A' + Request.DriveIndex))
                     : nullptr;
  if (!d || Request.Count != 1 || !Request.Buffer)
    return Fail(ERROR_INVALID_PARAMETER);
  if (!d->HasMedium)
    return Fail(ERROR_NOT_READY);
  if (const uint32_t* code = FirstFailure(*d, Request.Sector, 1))
    return Fail(*code);
  if (Request.Sector >= SectorsOf(*d))
    return Fail(ERROR_SECTOR_NOT_FOUND);
  SimReadBacking(*d, uint64_t{Request.Sector} * d->SectorSize, Request.Buffer, d->SectorSize);
  return true;
}

bool TSimulatedDrives::SetFilePointer(THandle Handle, int64_t Offset) {
  std::lock_guard lock(FMutex);
  auto it = FHandles.find(Handle);
  if (it == FHandles.end() || it->second.Kind != TKind::Volume)
    return Fail(ERROR_INVALID_HANDLE);
  if (Offset < 0)
    return Fail(ERROR_NEGATIVE_SEEK);
  if (TSimDrive* d = DriveOfLetterLocked(it->second.Letter); d && d->SeekError)
    return Fail(d->SeekError);
  it->second.Position = static_cast<uint64_t>(Offset);
  return true;
}

bool TSimulatedDrives::ReadFile(THandle Handle, void* Buffer, uint32_t Count, uint32_t* Read) {
  std::lock_guard lock(FMutex);
  if (Read)
    *Read = 0;
  auto it = FHandles.find(Handle);
  if (it == FHandles.end() || it->second.Kind != TKind::Volume)
    return Fail(ERROR_INVALID_HANDLE);
  TOpen& open = it->second;
  TSimDrive* d = DriveOfLetterLocked(open.Letter);
  if (!d)
    return Fail(ERROR_DEVICE_NOT_CONNECTED);
  if (!d->HasMedium)
    return Fail(ERROR_NOT_READY);
  if (d->SectorSize == 0 || open.Position % d->SectorSize || Count % d->SectorSize)
    return Fail(ERROR_INVALID_PARAMETER); // raw volumes read whole sectors only
  const uint64_t start = open.Position / d->SectorSize, count = Count / d->SectorSize;
  Calls.Reads.emplace_back(static_cast<uint32_t>(start), static_cast<uint32_t>(count));
  if (open.Uncached)
    Calls.UncachedReads.emplace_back(static_cast<uint32_t>(start), static_cast<uint32_t>(count));
  else
    for (auto [from, to, code] : d->CachedFailures)
      if (start < to && from < start + count)
        return Fail(code);
  if (const uint32_t* code = FirstFailure(*d, start, count)) {
    if (d->CachesFailures && !open.Uncached)
      d->CachedFailures.emplace_back(start, start + count, *code);
    return Fail(*code);
  }
  uint64_t n = SimReadBacking(*d, open.Position, static_cast<uint8_t*>(Buffer), Count);
  open.Position += n;
  if (Read)
    *Read = static_cast<uint32_t>(n);
  SetLastError(ERROR_SUCCESS);
  return true;
}

TSimDrive* TSimulatedDrives::FileSystemOf(const std::string& Root) {
  TSimDrive* d = DriveOfRoot(Root);
  uint32_t e = !d              ? ERROR_PATH_NOT_FOUND
               : !d->HasMedium ? ERROR_NOT_READY
               : !d->Formatted ? ERROR_UNRECOGNIZED_VOLUME
                               : ERROR_SUCCESS;
  if (e != ERROR_SUCCESS) {
    Fail(e);
    return nullptr;
  }
  return d;
}

bool TSimulatedDrives::GetDiskFreeSpace(const std::string& Root, uint32_t* SectorsPerCluster,
                                        uint32_t* BytesPerSector, uint32_t* FreeClusters,
                                        uint32_t* TotalClusters) {
  std::lock_guard lock(FMutex);
  TSimDrive* d = FileSystemOf(Root);
  if (!d)
    return false;
  uint32_t spc = d->SectorsPerCluster ? d->SectorsPerCluster : 1;
  uint64_t clusters = d->TotalClusters ? d->TotalClusters : SectorsOf(*d) / spc;
  if (SectorsPerCluster)
    *SectorsPerCluster = spc;
  if (BytesPerSector)
    *BytesPerSector = d->FreeSpaceBytesPerSector ? d->FreeSpaceBytesPerSector : d->SectorSize;
  if (FreeClusters)
    *FreeClusters = 0;
  if (TotalClusters)
    *TotalClusters = static_cast<uint32_t>(std::min<uint64_t>(clusters, UINT32_MAX));
  return true;
}

bool TSimulatedDrives::GetVolumeInformation(const std::string& Root, std::string* VolumeLabel) {
  std::lock_guard lock(FMutex);
  TSimDrive* d = FileSystemOf(Root);
  if (!d)
    return false;
  if (VolumeLabel)
    *VolumeLabel = d->Label;
  return true;
}

std::string TSimulatedDrives::DescribeDevice(const std::string& Root) {
  std::lock_guard lock(FMutex);
  TSimDrive* d = DriveOfRoot(Root);
  if (!d)
    return {};
  std::string s = "simulated drive " + Root.substr(0, 2);
  if (!d->ImageFile.empty())
    s += " over " + d->ImageFile;
  return s;
}

std::optional<TDeviceNumber> TSimulatedDrives::DriveDevice(const std::string& Root) {
  std::lock_guard lock(FMutex);
  TSimDrive* d = DriveOfRoot(Root);
  return d ? d->Device : std::nullopt;
}

} // namespace gf
