#include "RecognizerTIFF.h"

#include <algorithm>

namespace gf {

namespace {
constexpr uint16_t TagStripOffsets = 273;
constexpr uint16_t TagStripByteCounts = 279;
constexpr uint32_t MaxDirectoryEntries = 128;
// Chains up to this long are checked for a return by a plain search; longer ones
// through a bitmap of directory offsets.
constexpr std::size_t ShortChain = 64;
// A strip table that grew beyond this many slots gives its memory back after use.
constexpr std::size_t KeptStrips = 65536;

uint32_t UnitSize(uint16_t Type) {
  switch (Type) {
  case 3:
  case 8:
    return 2;
  case 4:
  case 9:
  case 11:
    return 4;
  case 5:
  case 10:
  case 12:
    return 8;
  default:
    return 1;
  }
}

bool IsShort(uint16_t Type) {
  return Type == 3 || Type == 8;
}
} // namespace

TTIFFRecognizer::TTIFFRecognizer() {
  MaxSize = 20971520;
}

uint16_t TTIFFRecognizer::ToHost16(const uint8_t* P) const {
  return Get16(P, !LittleEndian);
}

uint32_t TTIFFRecognizer::ToHost32(const uint8_t* P) const {
  return Get32(P, !LittleEndian);
}

bool TTIFFRecognizer::Check(TMedium& M) {
  uint8_t scratch[4];
  const uint8_t* h = HeaderBytes(M, 4, scratch);
  if (!h || h[0] != h[1] || (h[0] != 'I' && h[0] != 'M'))
    return false;
  LittleEndian = h[0] == 'I';
  return ToHost16(h + 2) == 42;
}

bool TTIFFRecognizer::Extract(TMedium& M, TStream& Stream) {
  const uint32_t size = GetFileSize(M);
  if (size == 0)
    return false;
  M.SetPosition(StartSector);
  return CopyToStream(M, Stream, size);
}

uint32_t TTIFFRecognizer::GetFileSize(TMedium& M) {
  Medium = &M;
  StartSector = M.GetPosition();
  if (!Check(M))
    return 0;
  MaxExtent = 0;
  FEntries = 0;
  FStripValues = 0;
  uint8_t first[4];
  const bool walked = ReadBytes(M, StartSector, 4, 4, first) && ParseIFD(ToHost32(first));
  ForgetVisits();
  Strips.clear();
  if (Strips.capacity() > KeptStrips)
    Strips.shrink_to_fit();
  M.SetPosition(StartSector);
  return walked && MaxExtent < MaxSize ? MaxExtent + 1 : 0;
}

// False when the directory at Offset was walked before in this measurement: a chain
// that comes back would never end.
bool TTIFFRecognizer::Visit(uint32_t Offset) {
  const std::size_t bits = FSeen.size() * 64;
  if (FChain.size() < ShortChain || Offset >= bits) {
    if (std::find(FChain.begin(), FChain.end(), Offset) != FChain.end())
      return false;
  } else {
    uint64_t& word = FSeen[Offset / 64];
    const uint64_t bit = uint64_t{1} << (Offset % 64);
    if (word & bit)
      return false;
    word |= bit;
  }
  FChain.push_back(Offset);
  if (FChain.size() == ShortChain) {
    // Offsets at or past MaxSize fail the extent at once, except a wrapped one,
    // so MaxSize bits cover every directory a long chain can revisit.
    FSeen.assign((std::size_t{MaxSize} + 63) / 64, 0);
    for (uint32_t o : FChain)
      if (o / 64 < FSeen.size())
        FSeen[o / 64] |= uint64_t{1} << (o % 64);
  }
  return true;
}

void TTIFFRecognizer::ForgetVisits() {
  FChain.clear();
  if (FChain.capacity() > KeptStrips)
    FChain.shrink_to_fit();
  FSeen.clear();
  FSeen.shrink_to_fit();
}

bool TTIFFRecognizer::ParseIFD(uint32_t O) {
  for (;;) {
    if (!Visit(O))
      return false;
    uint8_t b[4];
    if (!ReadBytes(*Medium, StartSector, O, 2, b))
      return false;
    Extend(O + 1);
    const uint32_t n = ToHost16(b);
    if (n == 0 || n > MaxDirectoryEntries || Exceeded() || n > MaxEntries() - FEntries)
      return false;
    FEntries += n;
    Strips.clear();
    for (uint32_t i = 0; i < n; ++i)
      if (!ParseEntry(O + 2 + 12 * i)) {
        Strips.clear();
        return false;
      }
    for (const TStripSlot& s : Strips)
      Extend(s.Offset + static_cast<uint32_t>(s.ByteCount) - 1); // wraps in 32 bits, as measured
    const uint32_t nextAt = O + 2 + 12 * n;
    if (Exceeded() || !ReadBytes(*Medium, StartSector, nextAt, 4, b))
      return false;
    Extend(nextAt + 3);
    const uint32_t next = ToHost32(b);
    if (next == O || Exceeded())
      return false;
    if (next == 0)
      return true;
    O = next;
  }
}

bool TTIFFRecognizer::ParseEntry(uint32_t E) {
  uint8_t b[12];
  if (!ReadBytes(*Medium, StartSector, E, sizeof b, b))
    return false;
  Extend(E + 11);
  TEntry e{
      ToHost16(b), ToHost16(b + 2), ToHost32(b + 4), ToHost32(b + 8), {b[8], b[9], b[10], b[11]}};
  if (e.Type > 16 || Exceeded())
    return false;
  if (e.Tag == TagStripOffsets || e.Tag == TagStripByteCounts)
    if (!CollectStrips(e, e.Tag == TagStripOffsets))
      return false;
  ValueSize(e);
  return !Exceeded();
}

uint32_t TTIFFRecognizer::ValueSize(const TEntry& E) {
  const uint32_t size = UnitSize(E.Type) * E.Count; // wraps in 32 bits, as measured
  if (size > 4)
    Extend(E.Value + size - 1); // so does the extent
  return size;
}

// Fills slot k with the k-th value of the entry: its Offset for StripOffsets, its
// ByteCount for StripByteCounts. False only when a bound is reached.
bool TTIFFRecognizer::CollectStrips(const TEntry& E, bool Offsets) {
  std::size_t k = 0;
  auto put = [&](uint32_t v) {
    if (k == Strips.size()) {
      if (Strips.size() >= MaxStrips())
        return false;
      Strips.emplace_back();
    }
    if (Offsets)
      Strips[k].Offset = v;
    else
      Strips[k].ByteCount = v >= 0x80000000u ? 0 : static_cast<int32_t>(v);
    ++k;
    return true;
  };
  const uint32_t size = ValueSize(E);
  if (Exceeded())
    return false;
  if (size == 2)
    return put(ToHost16(E.Raw));
  if (size == 4)
    return IsShort(E.Type) ? put(ToHost16(E.Raw)) && put(ToHost16(E.Raw + 2)) : put(E.Value);
  const uint32_t unit = IsShort(E.Type) ? 2 : 4;
  for (uint32_t i = 0; i < E.Count; ++i) {
    if (++FStripValues > MaxStripValues())
      return false;
    const uint32_t at = E.Value + unit * i;
    uint8_t b[4];
    if (!ReadBytes(*Medium, StartSector, at, unit, b))
      return true; // a value cut short ends the collection; the entry still counts
    Extend(at + unit - 1);
    if (Exceeded())
      return false;
    if (!put(unit == 2 ? ToHost16(b) : ToHost32(b)))
      return false;
  }
  return true;
}

} // namespace gf
