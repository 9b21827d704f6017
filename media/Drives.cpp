#include "Drives.h"

#include "Debug.h"
#include "Errors.h"
#include "Language.h"
#include "Streams.h"
#include "System.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <typeinfo>

namespace gf {

std::string TMedium::RootName() const {
  return FDrive ? FDrive->Root() : std::string();
}

void TMedium::SetSectorCount(uint64_t Count) {
  FDeviceSectors = Count;
  if (Count <= UINT32_MAX) {
    FSectorCount = static_cast<uint32_t>(Count);
    return;
  }
  // Never wrapped to a small count: the medium is read up to the last sector that can
  // be numbered, and it says that it holds more.
  DebugLog("MEDIUM: %s holds %d sectors, more than can be numbered; only the first %d are read",
           RootName(), Count, UINT32_MAX);
  FSectorCount = UINT32_MAX;
}

void TMedium::Reinit() {
  Init();
  if (FSectorSize > 0)
    SetBlockSectors(MaxBlockBytes / FSectorSize);
  else
    FreeBuffer();
}

void TMedium::DropBlock() {
  FBlock = nullptr;
  FBufferStart = 0;
  FBufferCount = 0;
}

void TMedium::FreeBuffer() {
  DropBlock();
  FOwnBlock.reset();
  FAhead.reset();
  FAheadStart = 0;
  FAheadCount = 0;
}

void TMedium::SetBlockSectors(uint32_t N) {
  FreeBuffer();
  FNoAhead.clear();
  FBlockSectors = N;
}

void TMedium::SetReadAhead(uint32_t Bytes) {
  FreeBuffer();
  FNoAhead.clear();
  FReadAhead = Bytes;
}

bool TMedium::BlockFromReadAhead(uint32_t Count) {
  const uint32_t p = FPosition;
  if (!FAhead || p < FAheadStart || !InBounds(FAheadCount, p - FAheadStart, Count)) {
    const uint32_t sectors = FReadAhead / FSectorSize;
    uint32_t n = std::min(sectors, FSectorCount - p);
    for (auto [from, to] : FNoAhead) {
      if (p >= from && p < to)
        return false;
      if (p < from)
        n = std::min(n, from - p);
    }
    if (n <= Count)
      return false; // no more than the block itself
    if (!FAhead)
      FAhead = std::make_unique_for_overwrite<uint8_t[]>(std::size_t{sectors} * FSectorSize);
    FAheadCount = 0;
    FReadingAhead = true;
    uint32_t e = ReadBlocks(p, n, FAhead.get());
    FReadingAhead = false;
    Sleep(0);
    if (e != 0) {
      if (FNoAhead.size() == MaxNoAhead)
        FNoAhead.erase(FNoAhead.begin());
      FNoAhead.emplace_back(p, p + n);
      return false;
    }
    FAheadStart = p;
    FAheadCount = n;
  }
  FBlock = FAhead.get() + std::size_t{p - FAheadStart} * FSectorSize;
  return true;
}

bool TMedium::OverFailedReadAhead(uint32_t Start, uint32_t Count) const {
  return std::any_of(FNoAhead.begin(), FNoAhead.end(), [&](const auto& Stretch) {
    return Start < Stretch.second && Stretch.first < uint64_t{Start} + Count;
  });
}

const uint8_t* TMedium::LoadBlock(uint32_t& Sectors) {
  Sectors = 0;
  if (FSectorSize == 0 || FSectorCount == 0 || FPosition >= FSectorCount)
    return nullptr;
  DropBlock();
  uint32_t count = FBlockSectors;
  if (count > FSectorCount - FPosition)
    count = FSectorCount - FPosition;
  if (count == 0) // a sector size above the block limit gives no block
    return nullptr;
  FBufferCount = count;
  FBufferStart = FPosition;
  if (!BlockFromReadAhead(count)) {
    if (!FOwnBlock)
      FOwnBlock =
          std::make_unique_for_overwrite<uint8_t[]>(std::size_t{FBlockSectors} * FSectorSize);
    FBlock = FOwnBlock.get();
    FRereading = OverFailedReadAhead(FBufferStart, FBufferCount);
    uint32_t e = ReadBlocks(FBufferStart, FBufferCount, FOwnBlock.get());
    FRereading = false;
    Sleep(0);
    if (e != 0) {
      DebugLog("MEDIUM: LoadBlocks failed for %s with error %d (%s)", RootName(), e,
               SysErrorMessage(e));
      FreeBuffer();
      return nullptr;
    }
  }
  Sectors = FBufferCount;
  return FBlock;
}

void TMedium::LeftBlock() {
  if (FPosition >= FSectorCount)
    FreeBuffer(); // a scan that ends here reads the medium afresh the next time
  else
    DropBlock();
}

// ---- drives

namespace {

// The drive number of the DOS calls: 1 for A.
uint32_t DosDriveNumber(const std::string& Root) {
  if (Root.empty())
    return 0;
  return static_cast<uint32_t>(std::toupper(static_cast<unsigned char>(Root[0])) - 'A' + 1);
}

} // namespace

THandle TSharedDevice::Acquire(TDrivePlatform& Platform) {
  if (FHandle == 0) {
    FHandle = Platform.CreateFile(FName, 0, 0, 0, FILE_FLAG_DELETE_ON_CLOSE);
    if (FHandle == INVALID_HANDLE_VALUE) {
      DebugLog(FFailLine, SysErrorMessage(GetLastError()));
      FHandle = 0;
      FCount = 0;
    }
  }
  if (FHandle != 0)
    ++FCount;
  return FHandle;
}

void TSharedDevice::Release(TDrivePlatform& Platform) {
  if (FCount <= 0)
    return;
  if (--FCount == 0) {
    Platform.CloseHandle(FHandle);
    FHandle = 0;
  }
}

bool VWin32Call(const TDrive& Drive, uint32_t ControlCode, uintptr_t RegEAX, uintptr_t RegEBX,
                uintptr_t RegECX, uintptr_t RegEDX, uint32_t& DosError) {
  DIOC_REGISTERS r;
  r.EBX = RegEBX;
  r.EDX = RegEDX;
  r.ECX = RegECX;
  r.EAX = RegEAX;
  r.Flags = CARRY_FLAG;
  DosError = 0;
  TDrivePlatform* p = Drive.Platform();
  if (!p) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  uint32_t returned = 0;
  if (!p->DeviceIoControl(Drive.VWin32Handle(), ControlCode, &r, sizeof r, &r, sizeof r, &returned))
    return false;
  if (r.Flags & CARRY_FLAG) {
    DosError = static_cast<uint32_t>(r.EAX);
    return false;
  }
  return true;
}

TDrive::TDrive(TDriveManager& Manager, std::string Root, TDriveKind Kind, std::string FileName)
    : FManager(&Manager), FRoot(std::move(Root)), FKind(Kind), FFileName(std::move(FileName)) {}

TDrive::TDrive(std::string Root, TDriveKind Kind)
    : FManager(nullptr), FRoot(std::move(Root)), FKind(Kind) {}

TDrive::~TDrive() {
  FMedium.reset();
  ReleaseHandles();
}

TDrivePlatform* TDrive::Platform() const {
  return FManager ? &FManager->Platform() : nullptr;
}

void TDrive::ReleaseHandles() {
  if (FManager) {
    if (FInt2fHandle != 0)
      FManager->Int2f().Release(FManager->Platform());
    if (FVWin32Handle != 0)
      FManager->VWin32().Release(FManager->Platform());
    if (FNTHandle != 0)
      FManager->Platform().CloseHandle(FNTHandle);
  }
  FInt2fHandle = 0;
  FVWin32Handle = 0;
  FNTHandle = 0;
}

std::string TDrive::GetDisplayName() const {
  std::string name = FRoot + " ";
  if (!FMedium)
    return name + LoadStr(sNotReady);
  if (FMedium->Formatted())
    return name + FMedium->VolumeLabel();
  return name + LoadStr(sUnformatted);
}

bool TDrive::HoldsFolder(const std::string& Folder) const {
  TDrivePlatform* p = Platform();
  if (!p)
    return false;
  TScanSource source;
  if (FKind == dkImageFile)
    source = TScanSource::OfPath(FFileName);
  else
    source.Device = p->DriveDevice(FRoot);
  std::string why;
  TOverlap o = FolderOverlaps(Folder, source, p->SysRoot(), &why);
  if (o == TOverlap::Unknown)
    DebugLog("DRIVES: Cannot tell whether %s lies on drive %s: %s", Folder, FRoot, why);
  return o == TOverlap::Yes;
}

void TDrive::LogDevice() {
  std::string device = FManager->Platform().DescribeDevice(FRoot);
  if (device.empty() || device == FLoggedDevice)
    return;
  FLoggedDevice = device;
  DebugLog("DRIVES: Drive %s is %s", FRoot, device);
}

void TDrive::Detect() {
  ReleaseHandles();
  if (!FManager)
    return;
  try {
    LogDevice();
    DetectKind();
    if (FKind == dkRemote || FKind == dkUnknown)
      NoMedium();
    else if (FKind == dkImageFile)
      DetectImageFile();
    else if (FManager->Platform().PlatformId() == VER_PLATFORM_WIN32_NT)
      DetectNT();
    else
      Detect9x();
  } catch (const std::exception& e) {
    // Detection never fails to the caller; a drive that cannot be set up has no medium.
    NoMedium();
    DebugLog("DRIVES: Detection failed for %s: %s", FRoot, e.what());
  }
}

void TDrive::DetectKind() {
  switch (FManager->Platform().GetDriveType(FRoot)) {
  case DRIVE_REMOVABLE:
    FKind = dkRemovable;
    break;
  case DRIVE_FIXED:
    FKind = dkFixedDisk;
    break;
  case DRIVE_REMOTE:
    FKind = dkRemote;
    break;
  case DRIVE_CDROM:
    FKind = dkCDROM;
    break;
  case DRIVE_RAMDISK:
    FKind = dkRamDisk;
    break;
  default:
    if (FKind != dkImageFile)
      FKind = dkUnknown;
    break;
  }
}

namespace {
template <typename T> bool IsExactly(const TMedium* M) {
  return M && typeid(*M) == typeid(T);
}
} // namespace

template <typename T> void TDrive::ReuseOrCreate() {
  if (FMedium && !IsExactly<T>(FMedium.get()))
    FMedium.reset();
  try {
    if (FMedium)
      FMedium->Reinit();
    else
      FMedium = TMedium::Create<T>(this);
  } catch (...) {
    FMedium.reset();
    throw;
  }
}

void TDrive::DetectNT() {
  TDrivePlatform& p = FManager->Platform();
  std::string device = "\\\\.\\" + FRoot.substr(0, 2);
  THandle h = p.CreateFile(device, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                           FILE_FLAG_WRITE_THROUGH);
  if (h == INVALID_HANDLE_VALUE) {
    uint32_t e = GetLastError();
    if (e == ERROR_ACCESS_DENIED && !FAccessLogged) {
      FAccessLogged = true;
      DebugLog("NTHDD: Cannot open drive %s (%s): %s - %s", FRoot, p.DescribeDevice(FRoot),
               SysErrorMessage(e), p.AccessHint());
    }
    FNTHandle = 0;
    NoMedium();
    return;
  }
  FAccessLogged = false;
  FNTHandle = h;

  DISK_GEOMETRY g;
  uint32_t returned = 0;
  uint32_t code = FKind == dkCDROM ? IOCTL_CDROM_GET_DRIVE_GEOMETRY : IOCTL_DISK_GET_DRIVE_GEOMETRY;
  if (!p.DeviceIoControl(FNTHandle, code, nullptr, 0, &g, sizeof g, &returned)) {
    NoMedium();
    return;
  }
  uint8_t mediaType = static_cast<uint8_t>(g.MediaType);
  if (FKind == dkRemovable && mediaType != MEDIA_REMOVABLE && mediaType != MEDIA_FIXED)
    FKind = dkFloppy;

  try {
    switch (FKind) {
    case dkFloppy:
      ReuseOrCreate<TMediumNTFloppy>();
      break;
    case dkFixedDisk:
      ReuseOrCreate<TMediumNTHDD>();
      break;
    case dkRemovable:
      ReuseOrCreate<TMediumNTRemovable>();
      break;
    case dkCDROM:
      ReuseOrCreate<TMediumNTCDROM>();
      break;
    case dkRamDisk:
      ReuseOrCreate<TMediumNTRamDisk>();
      break;
    default:
      NoMedium();
      break;
    }
  } catch (const std::exception&) {
    NoMedium();
  }
}

void TDrive::Detect9x() {
  TDrivePlatform& p = FManager->Platform();
  if (FKind == dkCDROM) {
    FInt2fHandle = FManager->Int2f().Acquire(p);
    if (FInt2fHandle == 0) {
      NoMedium();
      return;
    }
    uint32_t spc = 0, bps = 0, freeClusters = 0, clusters = 0;
    if (!p.GetDiskFreeSpace(FRoot, &spc, &bps, &freeClusters, &clusters)) {
      DebugLog("9XCD: GetDiskFreeSpace failed for %s: %s", FRoot, SysErrorMessage(GetLastError()));
      NoMedium();
      return;
    }
    if (bps != 2048) {
      DebugLog("9XCD: BPS value not 2048 but %d for drive %s - Assuming failure", bps, FRoot);
      NoMedium();
      return;
    }
    FMedium.reset();
    FMedium = TMedium::Create<TMedium9XCDROM>(this);
    return;
  }

  // Floppy, fixed disk, removable and RAM disk.
  FVWin32Handle = FManager->VWin32().Acquire(p);
  if (FVWin32Handle == 0) {
    NoMedium();
    return;
  }
  auto scratch = std::make_unique<uint8_t[]>(16384);
  DISKIO packet;
  packet.StartSector = 0;
  packet.Sectors = 1;
  packet.Buffer = scratch.get();
  uint32_t dosError = 0;
  if (!VWin32Call(*this, VWIN32_DIOC_DOS_DRIVEINFO, 0x7305, reinterpret_cast<uintptr_t>(&packet),
                  0xFFFFFFFFu, DosDriveNumber(FRoot), dosError)) {
    NoMedium();
    return;
  }
  ReuseOrCreate<TMedium9XDrive>();
}

void TDrive::DetectImageFile() {
  if (FMedium && (!IsExactly<TMediumFile>(FMedium.get()) ||
                  static_cast<TMediumFile&>(*FMedium).FileName() != FFileName))
    FMedium.reset();
  try {
    ReuseOrCreate<TMediumFile>();
  } catch (const EFileStreamError& e) {
    NoMedium();
    if (e.Errno() == EACCES || e.Errno() == EPERM)
      DebugLog("MEDIUM: Cannot open image file %s: %s - %s", FFileName, e.what(),
               FManager->Platform().AccessHint());
    else
      DebugLog("MEDIUM: Cannot open image file %s: %s", FFileName, e.what());
  } catch (const std::exception& e) {
    NoMedium();
    DebugLog("MEDIUM: Cannot open image file %s: %s", FFileName, e.what());
  }
}

// ---- drive manager

TDriveManager::TDriveManager(TDrivePlatform& Platform)
    : FPlatform(Platform), FVWin32("\\\\.\\VWIN32", "Couldn't open VWIN32 (%s)"),
      FInt2f("\\\\.\\INT2F.VXD", "Couldn't open INT2F.VXD (%s)") {}

TDriveManager::~TDriveManager() {
  while (!FDrives.empty())
    FDrives.pop_back(); // one at a time, each giving its shared-device uses back
}

TDrive* TDriveManager::GetDrive(int Index) const {
  if (Index < 0 || static_cast<std::size_t>(Index) >= FDrives.size())
    return nullptr;
  return FDrives[static_cast<std::size_t>(Index)].get();
}

namespace {
auto RootLess = [](const std::unique_ptr<TDrive>& d, const std::string& root) {
  return d->Root() < root;
};
}

TDrive* TDriveManager::FindDrive(const std::string& Root) const {
  auto it = std::lower_bound(FDrives.begin(), FDrives.end(), Root, RootLess);
  return it != FDrives.end() && (*it)->Root() == Root ? it->get() : nullptr;
}

bool TDriveManager::AddDrive(std::unique_ptr<TDrive> Drive) {
  if (!Drive)
    return false;
  auto it = std::lower_bound(FDrives.begin(), FDrives.end(), Drive->Root(), RootLess);
  if (it != FDrives.end() && (*it)->Root() == Drive->Root())
    return false;
  FDrives.insert(it, std::move(Drive));
  return true;
}

void TDriveManager::RemoveDrive(TDrive* Drive) {
  auto it = std::find_if(FDrives.begin(), FDrives.end(),
                         [Drive](const std::unique_ptr<TDrive>& d) { return d.get() == Drive; });
  if (it == FDrives.end())
    return;
  std::unique_ptr<TDrive> gone = std::move(*it);
  FDrives.erase(it);
}

void TDriveManager::RescanDrives() {
  uint32_t mask = FPlatform.GetLogicalDrives();
  for (uint32_t i = 0; i < 32; ++i) {
    std::string root = std::string(1, static_cast<char>('A' + i)) + ":\\";
    TDrive* drive = FindDrive(root);
    if (mask & (uint32_t{1} << i)) {
      if (drive) {
        drive->Detect();
      } else {
        auto d = std::make_unique<TDrive>(*this, root);
        d->Detect();
        AddDrive(std::move(d));
      }
    } else if (drive && drive->Kind() != dkImageFile) {
      RemoveDrive(drive);
    }
  }
}

TDrive* TDriveManager::AddImageFile(const std::string& Path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(Path, ec);
  std::string root = ec ? Path : p.lexically_normal().string();
  if (TDrive* existing = FindDrive(root))
    return existing;
  auto d = std::make_unique<TDrive>(*this, root, dkImageFile, root);
  d->Detect();
  if (!d->Medium())
    return nullptr; // detection has logged why
  TDrive* result = d.get();
  if (!AddDrive(std::move(d)))
    return FindDrive(root);
  return result;
}

} // namespace gf
