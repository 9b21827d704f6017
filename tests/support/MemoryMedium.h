// A medium over bytes in memory, for tests, benchmarks and fuzzing: any sector
// size, and sectors that can be made unreadable.
#pragma once

#include "Drives.h"
#include "Errors.h"

#include <cstring>
#include <set>
#include <vector>

namespace gf::test {

class TMemoryMedium : public TMedium {
public:
  TMemoryMedium(std::vector<uint8_t> Bytes, uint32_t SectorSize = 512, TDrive* Drive = nullptr)
      : TMedium(Drive), FBytes(std::move(Bytes)), FWantSectorSize(SectorSize) {
    Reinit();
  }

  // Changes the contents (and so the sector count); the next Reinit takes them up.
  void SetBytes(std::vector<uint8_t> Bytes) { FBytes = std::move(Bytes); }
  void SetWantSectorSize(uint32_t Size) { FWantSectorSize = Size; }
  std::vector<uint8_t>& Bytes() { return FBytes; }
  // Claims a device of Sectors behind the bytes: more than they give stand for sectors
  // that cannot be numbered (the medium is Truncated). Re-initialises.
  void SetDeviceSectors(uint64_t Sectors) {
    FDevice = Sectors;
    Reinit();
  }
  void FailSector(uint32_t Sector) { FBad.insert(Sector); }
  void HealSector(uint32_t Sector) { FBad.erase(Sector); }
  int ReadCalls = 0;

protected:
  uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) override {
    ++ReadCalls;
    for (uint32_t s = Start; s < Start + Count; ++s)
      if (FBad.count(s))
        return ERROR_CRC;
    std::size_t from = static_cast<std::size_t>(Start) * FSectorSize;
    std::size_t n = static_cast<std::size_t>(Count) * FSectorSize;
    std::size_t have = from < FBytes.size() ? std::min(n, FBytes.size() - from) : 0;
    if (have > 0)
      std::memcpy(Buffer, FBytes.data() + from, have);
    std::memset(Buffer + have, 0, n - have); // the last sector may be partly beyond the bytes
    return 0;
  }
  void Init() override {
    ResetGeometry();
    FSectorSize = FWantSectorSize;
    if (FSectorSize > 0)
      FSectorCount = static_cast<uint32_t>((FBytes.size() + FSectorSize - 1) / FSectorSize);
    if (FDevice > FSectorCount)
      FDeviceSectors = FDevice;
  }

private:
  std::vector<uint8_t> FBytes;
  uint32_t FWantSectorSize;
  uint64_t FDevice = 0;
  std::set<uint32_t> FBad;
};

} // namespace gf::test
