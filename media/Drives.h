// Media access: the sector medium with its one-block cache, and the drives that own media.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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
  const uint8_t* GetData();
  uint32_t GetPosition();
  void SetPosition(uint32_t N);
  void Next();

  void FreeBuffer();
  void SetBlockSectors(uint32_t N);

  uint32_t SectorSize() const { return FSectorSize; }
  uint32_t SectorCount() const { return FSectorCount; }
  bool Formatted() const { return FFormatted; }
  const std::string& VolumeLabel() const { return FVolumeLabel; }
  TDrive* Drive() const { return FDrive; }
  // The owning drive's root, for log lines; empty without a drive.
  std::string RootName() const;

  uint32_t BlockSectors() const { return FBlockSectors; }
  uint32_t BufferStart() const { return FBufferStart; }
  uint32_t BufferCount() const { return FBufferCount; }
  bool HasBuffer() const { return FBuffer != nullptr; }

protected:
  // Reads sectors Start .. Start + Count - 1 into Buffer (Count x SectorSize bytes).
  // 0 on success, else a platform or DOS error code. Never throws.
  virtual uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) = 0;
  // Resets SectorSize, SectorCount, Formatted and VolumeLabel, then determines them.
  virtual void Init() = 0;

  void ResetGeometry() {
    FSectorSize = 0;
    FSectorCount = 0;
    FFormatted = false;
    FVolumeLabel.clear();
  }

  uint32_t FSectorSize = 0;  // 0: the medium cannot be read
  uint32_t FSectorCount = 0; // sectors numbered from 0; SectorCount is the end position
  bool FFormatted = false;
  std::string FVolumeLabel;

private:
  TDrive* FDrive; // not owned
  uint32_t FBlockSectors = 0;
  std::unique_ptr<uint8_t[]> FBuffer; // BufferCount x SectorSize bytes, or none
  uint32_t FBufferStart = 0;
  uint32_t FBufferCount = 0;
  // May lie above SectorCount after a re-initialisation until GetPosition clamps it.
  uint32_t FPosition = 0;
};

// One drive letter (or image file) with its kind and the medium now in it.
class TDrive {
public:
  explicit TDrive(std::string Root, TDriveKind Kind = dkUnknown)
      : FRoot(std::move(Root)), FKind(Kind) {}
  virtual ~TDrive() = default;

  const std::string& Root() const { return FRoot; }
  TDriveKind Kind() const { return FKind; }
  TMedium* Medium() const { return FMedium.get(); }
  void SetMedium(std::unique_ptr<TMedium> Medium) { FMedium = std::move(Medium); }

protected:
  std::string FRoot;
  TDriveKind FKind;
  std::unique_ptr<TMedium> FMedium;
};

} // namespace gf
