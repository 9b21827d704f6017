// Media access: the sector medium with its one-block cache, its readers, the drives
// that own media and the drive manager. Everything but the readers' ReadBlocks runs on
// the user-interface thread; ReadBlocks runs on the scan worker.
#pragma once

#include "DriveApi.h"
#include "Format.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace gf {

class TDrive;

enum TDriveKind : uint8_t {
  dkFloppy = 0,
  dkFixedDisk = 1,
  dkRemovable = 2,
  dkCDROM = 3,
  dkRamDisk = 4,
  dkRemote = 5,
  dkImageFile = 6,
  dkUnknown = 7,
};

// A read-only, sector-addressed view of a medium with a current position and a
// cache of one block of at most 32 KiB. Descendants read runs of sectors
// (ReadBlocks) and determine the geometry (Init). Not thread-safe: one thread
// (the scan worker during a scan) uses a medium at a time.
//
// A reader whose read of a long run gives what reads of its parts would (a device or
// a file read with ordinary reads) may read ahead: a block is then taken from a read
// of up to ReadAhead bytes made when the block first was not at hand, so the device
// sees few large reads. The blocks themselves start and end where they would without
// it, and a block that cannot be read fails as it would: a read ahead that fails is
// followed by a read of that block alone, and no read ahead is tried again over the
// sectors it covered. Those reads of blocks alone are told apart (RereadingFailure), so
// that a reader whose device keeps a failure for the whole of a failed read can read
// them past it.
class TMedium {
public:
  static constexpr uint32_t MaxBlockBytes = 32768;

  explicit TMedium(TDrive* Drive) : FDrive(Drive) {}
  virtual ~TMedium() { FreeBuffer(); }
  TMedium(const TMedium&) = delete;
  TMedium& operator=(const TMedium&) = delete;

  // Constructs a medium of class T and initialises it, as a constructor that
  // calls the virtual Init would. An exception from Init frees the object.
  template <typename T, typename... A> static std::unique_ptr<T> Create(A&&... Args) {
    auto m = std::make_unique<T>(std::forward<A>(Args)...);
    m->Reinit();
    return m;
  }

  // Init for the medium now in the drive, then a block size for its sector size;
  // drops any cached block.
  void Reinit();

  // The current sector's SectorSize bytes, or null. Valid until the position
  // leaves the cached block or another block is loaded.
  const uint8_t* GetData() {
    uint32_t sectors;
    return GetData(sectors);
  }
  // The same, with the number of sectors from the current one to the end of the
  // cached block, whose bytes follow on from it (0 with null). The recognizers ask
  // at every sector, mostly within the block: that case is inline.
  const uint8_t* GetData(uint32_t& Sectors) {
    // A cached block lies below SectorCount, so a position inside it is readable.
    if (const uint32_t in = FPosition - FBufferStart; FBlock && in < FBufferCount) {
      Sectors = FBufferCount - in;
      return FBlock + std::size_t{in} * FSectorSize;
    }
    return LoadBlock(Sectors);
  }
  uint32_t GetPosition() {
    if (FPosition > FSectorCount)
      FPosition = FSectorCount;
    return FPosition;
  }
  void SetPosition(uint32_t N) {
    FPosition = N < FSectorCount ? N : FSectorCount; // 0 on an empty medium
    if (FPosition - FBufferStart >= FBufferCount)
      LeftBlock();
  }
  void Next() {
    if (const uint32_t p = GetPosition(); p < FSectorCount)
      SetPosition(p + 1);
  }

  // Drops the cached block and what was read ahead.
  void FreeBuffer();
  void SetBlockSectors(uint32_t N);
  // Bytes to read ahead, for readers whose long reads give what the reads of their
  // parts would; 0 (the default) reads each block by itself. Drops what was read ahead.
  void SetReadAhead(uint32_t Bytes);

  uint32_t SectorSize() const { return FSectorSize; }
  uint32_t SectorCount() const { return FSectorCount; }
  // The sectors the device holds. Sector numbers are 32 bits wide: of a device that
  // holds more, only the first SectorCount can be read, and it is Truncated.
  uint64_t DeviceSectors() const { return Truncated() ? FDeviceSectors : FSectorCount; }
  bool Truncated() const { return FDeviceSectors > FSectorCount; }
  // The bytes of the SectorCount sectors that can be read, and of the whole device.
  uint64_t ReadableBytes() const { return uint64_t{FSectorSize} * FSectorCount; }
  uint64_t DeviceBytes() const {
    uint64_t bytes;
    return __builtin_mul_overflow(DeviceSectors(), FSectorSize, &bytes) ? UINT64_MAX : bytes;
  }
  bool Formatted() const { return FFormatted; }
  const std::string& VolumeLabel() const { return FVolumeLabel; }
  TDrive* Drive() const { return FDrive; }
  // The owning drive's root, for log lines; empty without a drive.
  std::string RootName() const;

  uint32_t BlockSectors() const { return FBlockSectors; }
  uint32_t BufferStart() const { return FBufferStart; }
  uint32_t BufferCount() const { return FBufferCount; }
  bool HasBuffer() const { return FBlock != nullptr; }

  // A reader's read of a long run, of the size SetReadAhead asks for.
  static constexpr uint32_t ReadAheadBytes = 1 << 20;

protected:
  // Reads sectors Start .. Start + Count - 1 into Buffer (Count x SectorSize bytes).
  // 0 on success, else a platform or DOS error code. Never throws.
  virtual uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) = 0;
  // Resets SectorSize, SectorCount, Formatted and VolumeLabel, then determines them.
  virtual void Init() = 0;
  // True while ReadBlocks reads ahead: a failure then is no block's failure and goes
  // unlogged; the read of the block itself that follows tells of it if it is one.
  bool ReadingAhead() const { return FReadingAhead; }
  // True while ReadBlocks reads a block by itself that lies over sectors a failed read
  // ahead covered. A block device's page cache keeps the failure of a whole failed
  // read, so that reads of its good sectors through the cache fail too: such a reader
  // reads these blocks past the cache.
  bool RereadingFailure() const { return FRereading; }

  void ResetGeometry() {
    FSectorSize = 0;
    FSectorCount = 0;
    FDeviceSectors = 0;
    FFormatted = false;
    FVolumeLabel.clear();
  }

  // SectorCount for a device of Count sectors: no more than can be numbered, with a log
  // line when the device holds more; DeviceSectors keeps Count.
  void SetSectorCount(uint64_t Count);

  uint32_t FSectorSize = 0;    // 0: the medium cannot be read
  uint32_t FSectorCount = 0;   // sectors numbered from 0; SectorCount is the end position
  uint64_t FDeviceSectors = 0; // the device's sectors where SetSectorCount had to cap them
  bool FFormatted = false;
  std::string FVolumeLabel;

private:
  // GetData at a position outside the cached block.
  const uint8_t* LoadBlock(uint32_t& Sectors);
  // SetPosition to a position outside the cached block.
  void LeftBlock();
  // Forgets the cached block; what was read ahead stays for the next one.
  void DropBlock();
  // The block at the current position from what was read ahead, reading ahead anew
  // when it is not there; false when the block is to be read by itself.
  bool BlockFromReadAhead(uint32_t Count);
  // Whether sectors Start .. Start + Count - 1 reach into sectors a failed read ahead covered.
  bool OverFailedReadAhead(uint32_t Start, uint32_t Count) const;

  TDrive* FDrive; // not owned
  uint32_t FBlockSectors = 0;
  // The cached block: BufferCount x SectorSize bytes in FOwnBlock or FAhead, or none.
  const uint8_t* FBlock = nullptr;
  uint32_t FBufferStart = 0;
  uint32_t FBufferCount = 0;
  std::unique_ptr<uint8_t[]> FOwnBlock; // a block read by itself; BlockSectors sectors
  uint32_t FReadAhead = 0;              // bytes
  std::unique_ptr<uint8_t[]> FAhead;    // sectors FAheadStart .. + FAheadCount - 1
  uint32_t FAheadStart = 0;
  uint32_t FAheadCount = 0;
  // Sectors that failed reads ahead covered, the latest last: blocks there are read by
  // themselves, and no read ahead reaches into them. A failing read may take a device
  // long, so none is repeated over the same sectors.
  static constexpr std::size_t MaxNoAhead = 16;
  std::vector<std::pair<uint32_t, uint32_t>> FNoAhead;
  bool FReadingAhead = false;
  bool FRereading = false;
  // May lie above SectorCount after a re-initialisation until GetPosition clamps it.
  uint32_t FPosition = 0;
};

class TDriveManager;
class TFileStream;
class TUncachedReader;

// One drive letter (or image file) with its kind, the device handles its platform
// path holds, and the medium now in it.
class TDrive {
public:
  // A drive of Manager (which gives the platform and the shared 9x devices); it
  // joins the list only through TDriveManager::AddDrive. Nothing is detected yet.
  TDrive(TDriveManager& Manager, std::string Root, TDriveKind Kind = dkUnknown,
         std::string FileName = {});
  // A drive outside any manager, for a medium made by hand; it never detects.
  explicit TDrive(std::string Root, TDriveKind Kind = dkUnknown);
  virtual ~TDrive();
  TDrive(const TDrive&) = delete;
  TDrive& operator=(const TDrive&) = delete;

  // Gives up the device handles, determines the kind and attaches the medium now
  // in the drive, or none. Never throws.
  void Detect();
  // Root, a blank, then the label, "<Unformatted>" or "<Not Ready>".
  std::string GetDisplayName() const;
  // Whether files saved into Folder can land on the medium this drive reads (its
  // device, or its image file), so that saving could overwrite what is still to be
  // found. False when that cannot be told, and the log says why.
  bool HoldsFolder(const std::string& Folder) const;

  const std::string& Root() const { return FRoot; }
  TDriveKind Kind() const { return FKind; }
  TMedium* Medium() const { return FMedium.get(); }
  const std::string& FileName() const { return FFileName; }
  TDriveManager* Manager() const { return FManager; }
  TDrivePlatform* Platform() const;

  THandle NTHandle() const { return FNTHandle; }
  THandle VWin32Handle() const { return FVWin32Handle; }
  THandle Int2fHandle() const { return FInt2fHandle; }

private:
  friend class TMedium9XDrive; // a floppy device type turns the kind into dkFloppy

  void ReleaseHandles();
  void DetectKind();
  void DetectNT();
  void Detect9x();
  void DetectImageFile();
  void NoMedium() { FMedium.reset(); }
  void LogDevice();
  // Keeps a medium of class T (re-initialised) or replaces the medium by a new one.
  template <typename T> void ReuseOrCreate();

  TDriveManager* FManager; // not owned; null for a drive outside any manager
  std::string FRoot;
  TDriveKind FKind;
  std::string FFileName; // the image of an image-file drive
  std::unique_ptr<TMedium> FMedium;
  THandle FNTHandle = 0;
  THandle FVWin32Handle = 0;
  THandle FInt2fHandle = 0;
  std::string FLoggedDevice; // what the log last named behind the root
  bool FAccessLogged = false;
};

// A use-counted handle of a 9x virtual device that all drives share.
class TSharedDevice {
public:
  TSharedDevice(std::string Name, TLiteralFormat FailLine)
      : FName(std::move(Name)), FFailLine(FailLine) {}
  THandle Acquire(TDrivePlatform& Platform);
  void Release(TDrivePlatform& Platform);
  THandle Handle() const { return FHandle; }
  int Count() const { return FCount; }

private:
  std::string FName;
  TLiteralFormat FFailLine;
  THandle FHandle = 0; // open exactly while FCount > 0
  int FCount = 0;
};

// The drives the platform reports, plus image-file drives, sorted by root.
class TDriveManager {
public:
  explicit TDriveManager(TDrivePlatform& Platform);
  ~TDriveManager();
  TDriveManager(const TDriveManager&) = delete;
  TDriveManager& operator=(const TDriveManager&) = delete;

  // Re-detects every drive: new letters get a drive, vanished ones lose theirs
  // (image-file drives stay).
  void Refresh() { RescanDrives(); }
  void RescanDrives();

  int Count() const { return static_cast<int>(FDrives.size()); }
  TDrive* Drives(int Index) const { return GetDrive(Index); }
  TDrive* GetDrive(int Index) const;
  TDrive* FindDrive(const std::string& Root) const;
  // Adds the drive under its root unless that root is present; false (and the
  // drive is freed) when refused.
  bool AddDrive(std::unique_ptr<TDrive> Drive);
  // Frees the drive when it is in the list.
  void RemoveDrive(TDrive* Drive);

  // An image-file drive over a disk image or a block device path. Its root is the
  // file's absolute path, which no drive letter can equal. An existing drive for
  // the same path is returned as it is. Null, and nothing added, when the path is
  // not a regular file or block device that can be opened and measured.
  TDrive* AddImageFile(const std::string& Path);

  TDrivePlatform& Platform() const { return FPlatform; }
  TSharedDevice& VWin32() { return FVWin32; }
  TSharedDevice& Int2f() { return FInt2f; }

private:
  TDrivePlatform& FPlatform;
  // Declared before the drives: the drives give their uses back while they are freed.
  TSharedDevice FVWin32;
  TSharedDevice FInt2f;
  std::vector<std::unique_ptr<TDrive>> FDrives; // sorted by root, bytewise, no duplicates
};

// Calls the VWIN32 device on the drive's handle with a register block: true when
// the call succeeded with the carry clear. A set carry gives DosError := EAX; a
// failed call leaves DosError 0 (the reason is the last error).
bool VWin32Call(const TDrive& Drive, uint32_t ControlCode, uintptr_t RegEAX, uintptr_t RegEBX,
                uintptr_t RegECX, uintptr_t RegEDX, uint32_t& DosError);

// Sector readers, one per platform family and device kind.

// A disk image read as a file of 512-byte sectors, or a block device read in its own
// logical sectors.
class TMediumFile : public TMedium {
public:
  explicit TMediumFile(TDrive* Drive);
  ~TMediumFile() override;
  const std::string& FileName() const { return FFileName; }

protected:
  uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) override;
  void Init() override; // throws when the file cannot be opened or measured

private:
  // A block device's reader past the page cache, opened at its first use; null for an
  // image, or when the device refuses (logged once: the cache then serves).
  TUncachedReader* Uncached();

  std::unique_ptr<TFileStream> FStream;
  std::string FFileName;
  uint64_t FFileSize = 0;
  bool FBlockDevice = false;
  std::unique_ptr<TUncachedReader> FUncached;
  bool FUncachedRefused = false;
};

class TMedium9XCDROM : public TMedium {
public:
  using TMedium::TMedium;

protected:
  uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) override;
  void Init() override;
};

class TMedium9XDrive : public TMedium {
public:
  using TMedium::TMedium;

protected:
  uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) override;
  void Init() override;

private:
  uint32_t DriveNumber() const;
  bool Locks() const;
  void ApplyDeviceParams(const TDeviceParams& P);
  void AskDeviceParams(uint8_t Special);
};

class TMediumNT : public TMedium {
public:
  // Ordinary reads of the volume: long ones read ahead.
  explicit TMediumNT(TDrive* Drive) : TMedium(Drive) { SetReadAhead(ReadAheadBytes); }
  ~TMediumNT() override;

protected:
  uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) override;
  void Init() override;
  virtual bool GetGeometry(DISK_GEOMETRY& Geometry) = 0;
  bool AskGeometry(uint32_t Code, DISK_GEOMETRY& Geometry);

private:
  // The volume opened a second time, for reads past the system's cache
  // (FILE_FLAG_NO_BUFFERING) of the blocks after a failed read; opened at its first
  // use. The drive's own handle when that open is refused (logged once).
  THandle UncachedHandle();
  void CloseUncached();

  THandle FUncached = 0;
  bool FUncachedRefused = false;
};

class TMediumNTCDROM : public TMediumNT {
public:
  using TMediumNT::TMediumNT;

protected:
  bool GetGeometry(DISK_GEOMETRY& Geometry) override;
};

class TMediumNTHDD : public TMediumNT {
public:
  using TMediumNT::TMediumNT;

protected:
  bool GetGeometry(DISK_GEOMETRY& Geometry) override;
};

class TMediumNTRemovable : public TMediumNTHDD {
public:
  using TMediumNTHDD::TMediumNTHDD;
};

class TMediumNTRamDisk : public TMediumNTHDD {
public:
  using TMediumNTHDD::TMediumNTHDD;
};

class TMediumNTFloppy : public TMediumNTHDD {
public:
  using TMediumNTHDD::TMediumNTHDD;
};

} // namespace gf
