// A medium whose bytes a function computes on demand, for media far larger than a
// test should hold in memory (sizes past MaxSize, offsets past 4 GiB).
#pragma once

#include "Drives.h"

#include <cstdint>
#include <functional>

namespace gf::test {

class TGeneratedMedium : public TMedium {
public:
  // Fill writes Count bytes of the medium, starting at byte Offset, into Buffer.
  using TFill = std::function<void(uint64_t Offset, uint8_t* Buffer, std::size_t Count)>;

  TGeneratedMedium(uint64_t Bytes, TFill Fill, uint32_t SectorSize = 512)
      : TMedium(nullptr), FBytes(Bytes), FFill(std::move(Fill)), FWantSectorSize(SectorSize) {
    Reinit();
  }
  int ReadCalls = 0;

protected:
  uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) override {
    ++ReadCalls;
    FFill(uint64_t{Start} * FSectorSize, Buffer, std::size_t{Count} * FSectorSize);
    return 0;
  }
  void Init() override {
    ResetGeometry();
    FSectorSize = FWantSectorSize;
    FSectorCount = static_cast<uint32_t>((FBytes + FSectorSize - 1) / FSectorSize);
  }

private:
  uint64_t FBytes;
  TFill FFill;
  uint32_t FWantSectorSize;
};

} // namespace gf::test
