#include "Recognizer.h"

#include "Debug.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace gf {

bool TRecognizer::Extract(TMedium& /*Medium*/, TStream& /*Stream*/) {
  return false;
}

bool TRecognizer::ReadBytes(TMedium& Medium, uint32_t BaseSector, uint32_t ByteOffset,
                            uint32_t Count, void* Buffer) {
  const uint32_t size = Medium.SectorSize();
  auto* out = static_cast<uint8_t*>(Buffer);
  uint64_t offset = ByteOffset; // 64 bits: offset + count may pass 4 GiB
  while (Count > 0) {
    const uint8_t* data = nullptr;
    uint32_t within = 0;
    if (size > 0) {
      uint64_t sector = uint64_t{BaseSector} + offset / size;
      within = static_cast<uint32_t>(offset % size);
      // A sector number past 32 bits lies past the end of any medium.
      Medium.SetPosition(sector > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sector));
      data = Medium.GetData();
    }
    if (!data) {
      DebugLog("RECOGNIZER: Medium %s Data is NULL for position %d", Medium.RootName(),
               Medium.GetPosition());
      return false;
    }
    uint32_t piece = size - within < Count ? size - within : Count;
    std::memcpy(out, data + within, piece);
    out += piece;
    Count -= piece;
    offset += piece;
  }
  return true;
}

bool TRecognizer::CopyToStream(TMedium& Medium, TStream& Stream, uint32_t Count) const {
  const uint32_t start = Medium.GetPosition();
  if (MaxSize < Count)
    Count = MaxSize;
  const uint32_t size = Medium.SectorSize();
  uint32_t run = 0; // sectors from the current one to the end of the cached block
  const uint8_t* data = Medium.GetData(run);
  if (Count > 0 && !data) {
    DebugLog("RECOGNIZER: Medium %s Data is NULL for position %d", Medium.RootName(),
             Medium.GetPosition());
    Medium.SetPosition(start);
    return false;
  }
  // The whole length at once, as far as the medium can supply it: a stream that
  // grows piece by piece copies itself again at every step.
  const int64_t oldSize = Stream.GetSize();
  const uint64_t left = uint64_t{Medium.SectorCount() - start} * size;
  if (const int64_t end =
          Stream.GetPosition() + static_cast<int64_t>(std::min<uint64_t>(Count, left));
      end > oldSize)
    Stream.SetSize(end);
  // A cached block at a time, straight into the stream; the medium moves from block to
  // block as it would sector by sector, so a block that cannot be read ends the copy
  // at the same sector.
  while (Count > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(Count, uint64_t{run} * size));
    Stream.WriteBuffer(data, piece);
    Count -= piece;
    Medium.SetPosition(Medium.GetPosition() + (piece + size - 1) / size);
    if (Count > 0) {
      data = Medium.GetData(run);
      if (!data) {
        DebugLog("RECOGNIZER: Medium %s Data is NULL for position %d", Medium.RootName(),
                 Medium.GetPosition());
        Medium.SetPosition(start);
        Stream.SetSize(std::max(oldSize, Stream.GetPosition()));
        return false;
      }
    }
  }
  return true;
}

const uint8_t* TMediumReader::Peek(uint64_t Offset, uint32_t& Avail) {
  const uint8_t* data = nullptr;
  uint32_t within = 0;
  if (FSectorSize > 0) {
    if (FSector == UINT64_MAX || Offset < FSectorStart || Offset - FSectorStart >= FSectorSize) {
      FSector = uint64_t{FBase} + Offset / FSectorSize;
      FSectorStart = Offset - Offset % FSectorSize;
    }
    within = static_cast<uint32_t>(Offset - FSectorStart);
    // A sector number past 32 bits lies past the end of any medium.
    FMedium.SetPosition(FSector > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(FSector));
    data = FMedium.GetData();
  }
  if (!data) {
    DebugLog("RECOGNIZER: Medium %s Data is NULL for position %d", FMedium.RootName(),
             FMedium.GetPosition());
    return nullptr;
  }
  Avail = FSectorSize - within;
  return data + within;
}

bool TMediumReader::Read(uint64_t Offset, uint32_t Count, void* Buffer) {
  auto* out = static_cast<uint8_t*>(Buffer);
  while (Count > 0) {
    uint32_t avail;
    const uint8_t* p = Peek(Offset, avail);
    if (!p)
      return false;
    uint32_t piece = avail < Count ? avail : Count;
    std::memcpy(out, p, piece);
    out += piece;
    Offset += piece;
    Count -= piece;
  }
  return true;
}

bool TMediumReader::CopyTo(TStream& Stream, uint64_t Offset, uint64_t Count) {
  while (Count > 0) {
    uint32_t avail;
    const uint8_t* p = Peek(Offset, avail);
    if (!p)
      return false;
    // The rest of the cached block follows on from the sector in hand.
    uint32_t run = 0;
    FMedium.GetData(run);
    const uint64_t bytes = avail + uint64_t{run > 0 ? run - 1 : 0} * FSectorSize;
    const auto piece = static_cast<std::size_t>(std::min(bytes, Count));
    Stream.WriteBuffer(p, piece);
    Offset += piece;
    Count -= piece;
  }
  return true;
}

const uint8_t* TRecognizer::HeaderBytesAcross(TMedium& Medium, uint32_t Count, uint8_t* Scratch) {
  const uint32_t at = Medium.GetPosition();
  const bool ok = ReadBytes(Medium, at, 0, Count, Scratch);
  Medium.SetPosition(at);
  return ok ? Scratch : nullptr;
}

TRecognizers::~TRecognizers() {
  while (!FItems.empty())
    FItems.pop_back(); // last registered is freed first
}

void TRecognizers::Register(std::unique_ptr<TRecognizer> Recognizer) {
  if (!Recognizer)
    throw std::invalid_argument("Register: no recognizer");
  std::string name = Recognizer->GetName();
  if (name.empty())
    throw std::invalid_argument("Register: recognizer without a type key");
  for (auto& r : FItems)
    if (r->GetName() == name)
      throw std::invalid_argument("Register: duplicate type key " + name);
  FItems.push_back(std::move(Recognizer));
}

TRecognizer* TRecognizers::FindRecognizer(TMedium& Medium) const {
  TRecognizer* atWork = nullptr;
  return FindRecognizer(Medium, atWork);
}

TRecognizer* TRecognizers::FindRecognizer(TMedium& Medium, TRecognizer*& AtWork) const {
  const uint32_t at = Medium.GetPosition();
  for (auto& r : FItems) {
    Medium.SetPosition(at);
    AtWork = r.get();
    if (r->Check(Medium)) {
      AtWork = nullptr;
      Medium.SetPosition(at);
      return r.get();
    }
  }
  AtWork = nullptr;
  Medium.SetPosition(at);
  return nullptr;
}

TRecognizers& Recognizers() {
  static TRecognizers registry; // lives until the process ends
  return registry;
}

void RegisterRecognizers() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterBuiltinRecognizers(Recognizers()); });
}

uint32_t SwapBytes32(uint32_t V) {
  return (V >> 24) | ((V >> 8) & 0x0000FF00u) | ((V << 8) & 0x00FF0000u) | (V << 24);
}

} // namespace gf
