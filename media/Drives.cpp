#include "Drives.h"

#include "Debug.h"
#include "Errors.h"
#include "System.h"

namespace gf {

std::string TMedium::RootName() const {
  return FDrive ? FDrive->Root() : std::string();
}

void TMedium::Reinit() {
  Init();
  if (FSectorSize > 0)
    SetBlockSectors(MaxBlockBytes / FSectorSize);
  else
    FreeBuffer();
}

void TMedium::FreeBuffer() {
  FBuffer.reset();
  FBufferStart = 0;
  FBufferCount = 0;
}

void TMedium::SetBlockSectors(uint32_t N) {
  FreeBuffer();
  FBlockSectors = N;
}

const uint8_t* TMedium::GetData() {
  if (FSectorSize == 0 || FSectorCount == 0 || FPosition >= FSectorCount)
    return nullptr;
  if (FBuffer && FPosition >= FBufferStart && FPosition - FBufferStart < FBufferCount)
    return FBuffer.get() + static_cast<std::size_t>(FPosition - FBufferStart) * FSectorSize;

  FreeBuffer();
  uint32_t count = FBlockSectors;
  if (count > FSectorCount - FPosition)
    count = FSectorCount - FPosition;
  if (count == 0) // a sector size above the block limit gives no block
    return nullptr;
  FBuffer =
      std::make_unique_for_overwrite<uint8_t[]>(static_cast<std::size_t>(count) * FSectorSize);
  FBufferCount = count;
  FBufferStart = FPosition;
  uint32_t e = ReadBlocks(FBufferStart, FBufferCount, FBuffer.get());
  Sleep(0);
  if (e != 0) {
    DebugLog("MEDIUM: LoadBlocks failed for %s with error %d (%s)", RootName(), e,
             SysErrorMessage(e));
    FreeBuffer();
    return nullptr;
  }
  return FBuffer.get();
}

uint32_t TMedium::GetPosition() {
  if (FPosition > FSectorCount)
    FPosition = FSectorCount;
  return FPosition;
}

void TMedium::SetPosition(uint32_t N) {
  if (FSectorCount == 0)
    FPosition = 0;
  else
    FPosition = N < FSectorCount ? N : FSectorCount;
  if (FPosition < FBufferStart || FPosition - FBufferStart >= FBufferCount)
    FreeBuffer();
}

void TMedium::Next() {
  uint32_t p = GetPosition();
  if (p < FSectorCount)
    SetPosition(p + 1);
}

} // namespace gf
