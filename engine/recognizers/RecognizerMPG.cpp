#include "RecognizerMPG.h"

#include "Debug.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace gf {

namespace {

constexpr uint32_t CodeEnd = 0xB9;
constexpr uint64_t PrefixTries = 256;
constexpr uint64_t Unlimited = UINT64_MAX;
// How far ahead of a start code near the end of a full carve the next one is sought:
// packs are 2 KiB to a few dozen KiB.
constexpr uint64_t CarveLookahead = 256;

std::size_t Slot(uint64_t Key, std::size_t Mask) {
  Key ^= Key >> 33;
  Key *= 0xFF51AFD7ED558CCDull;
  Key ^= Key >> 33;
  return static_cast<std::size_t>(Key) & Mask;
}

void Insert(std::vector<uint64_t>& Set, uint64_t Key) {
  const std::size_t mask = Set.size() - 1;
  for (std::size_t i = Slot(Key, mask);; i = (i + 1) & mask) {
    if (Set[i] == Key)
      return;
    if (Set[i] == 0) {
      Set[i] = Key;
      return;
    }
  }
}

} // namespace

TMPEGRecognizer::TMPEGRecognizer() {
  MaxSize = 134217728;
}

void TMPEGRecognizer::BeginScan() {
  FFailed.clear();
  FFailed.shrink_to_fit();
  FVisited.clear();
  FVisited.shrink_to_fit();
  FFailedCount = 0;
  FMemoMedium = nullptr;
}

bool TMPEGRecognizer::ContinuesCarve(TMedium& M) {
  if (FFailedCount == 0 || &M != FMemoMedium || M.SectorSize() != FMemoSectorSize)
    return false;
  const uint64_t size = M.SectorSize();
  const uint64_t sector = M.GetPosition();
  // The carve in hand began at the last Extract, which failed.
  if (sector <= FLastExtract || !Failed(sector * size))
    return false;
  // The scanner cuts the carve at the first sector at which it holds MaxSize bytes.
  // Unless a start code of the stream begins that very sector, the sectors from there
  // to the next start code would be no file's: so the carve ends at its last start
  // code before the cut instead, and the rest of the stream begins a file there.
  const uint64_t cut = FLastExtract + (uint64_t{MaxSize} + size - 1) / size;
  for (uint64_t s = sector + 1; s <= cut && s <= sector + CarveLookahead; ++s)
    if (Failed(s * size))
      return true;
  return sector + CarveLookahead < cut;
}

bool TMPEGRecognizer::ReadByte(uint64_t Offset, uint8_t& B) {
  return FReader && FReader->Byte(Offset, B);
}

void TMPEGRecognizer::Align() {
  if (BitCount != 0) {
    ++ByteOffset;
    BitCount = 0;
  }
}

bool TMPEGRecognizer::GetBit(uint32_t& Bit) {
  if (BitCount >= 8) { // only a Skip leaves 8, and the walk aligns after it
    ++ByteOffset;
    BitCount = 0;
  }
  if (BitCount == 0 && !ReadByte(ByteOffset, CurrentByte))
    return false;
  Bit = (CurrentByte >> (7 - BitCount)) & 1u;
  if (++BitCount == 8) {
    ++ByteOffset;
    BitCount = 0;
  }
  return true;
}

bool TMPEGRecognizer::ReadBits(uint32_t N, uint32_t& Value) {
  Value = 0;
  for (uint32_t i = 0; i < N; ++i) {
    uint32_t bit;
    if (!GetBit(bit))
      return false;
    Value = Value * 2 + bit;
  }
  return true;
}

bool TMPEGRecognizer::Skip(uint64_t Bytes, uint32_t Bits) {
  ByteOffset += Bytes;
  BitCount += Bits;
  while (BitCount > 8) {
    ++ByteOffset;
    BitCount -= 8;
  }
  return ReadByte(ByteOffset, CurrentByte);
}

TMPEGRecognizer::TSearch TMPEGRecognizer::FindPrefix(uint64_t From, uint64_t Tries, uint64_t& At) {
  // The try at From + t reads the bytes From + t .. From + t + 2, so the tries read
  // up to From + Tries + 1; a byte that cannot be read on the way ends the search.
  const uint64_t end = Tries == Unlimited ? Unlimited : From + Tries + 2;
  uint8_t prev1 = 0xFF, prev2 = 0xFF; // the two bytes before the current piece
  for (uint64_t i = From; i < end;) {
    uint32_t avail;
    const uint8_t* p = FReader ? FReader->Peek(i, avail) : nullptr;
    if (!p)
      return TSearch::Unreadable;
    const uint32_t n = end - i < avail ? static_cast<uint32_t>(end - i) : avail;
    const uint8_t* q = p;
    const uint8_t* e = p + n;
    while (q < e) {
      const auto* hit =
          static_cast<const uint8_t*>(std::memchr(q, 0x01, static_cast<std::size_t>(e - q)));
      if (!hit)
        break;
      const std::size_t k = static_cast<std::size_t>(hit - p);
      const uint64_t at = i + k;
      if (at >= From + 2) {
        uint8_t b1 = k >= 1 ? hit[-1] : prev1;
        uint8_t b2 = k >= 2 ? hit[-2] : k == 1 ? prev1 : prev2;
        if (b1 == 0 && b2 == 0) {
          At = at - 2;
          return TSearch::Found;
        }
      }
      q = hit + 1;
    }
    if (n >= 2) {
      prev2 = p[n - 2];
      prev1 = p[n - 1];
    } else {
      prev2 = prev1;
      prev1 = p[0];
    }
    i += n;
  }
  return TSearch::Missing;
}

bool TMPEGRecognizer::NextStartCode() {
  Align();
  const uint64_t saved = ByteOffset;
  uint64_t at = 0;
  if (FindPrefix(saved, PrefixTries, at) != TSearch::Found) {
    ByteOffset = saved;
    return false;
  }
  ByteOffset = at + 3;
  BitCount = 0;
  CurrentByte = 0x01;
  if (FWalking) {
    const uint64_t abs = uint64_t{StartSector} * Medium->SectorSize() + at;
    if (Failed(abs)) {
      FMerged = true;
      return false;
    }
    if (FVisited.size() < WalkMemoSlots / 2)
      FVisited.push_back(abs);
  }

  uint32_t code;
  if (!ReadBits(8, code))
    return false;
  uint32_t v;
  bool ok = true;
  if (code == 0xB3) { // sequence header, then two optional 64-byte matrices
    ok = Skip(0, 62) && ReadBits(1, v) && (v == 0 || Skip(64, 0)) && ReadBits(1, v) &&
         (v == 0 || Skip(64, 0));
  } else if (code == 0xB5) {
    ok = ParseExtension();
  } else if (code == CodeEnd) {
  } else if (code == 0xBA) {
    if (StartsAnotherStream()) {
      // This pack, and what the walk passed since the last pack it accepted, failed by
      // that pack's clock: a walk that begins among them starts afresh and may go on.
      FVisited.resize(std::min(FVisited.size(), FPackVisited));
      return false;
    }
    FPackVisited = FVisited.size();
    ok = Skip(8, 0);
  } else if (code >= 0xBB) { // system header and packets, passed over by their length
    ok = ReadBits(16, v);
    if (ok)
      Skip(v, 0); // a length past the medium is accepted; the next search fails
  } else if (code == 0x00 || code == 0xB2 || code == 0xB4 || code == 0xB7 || code == 0xB8) {
    DebugLog("JPG: Got unhandled tag %d - Scanning for next", code);
    ok = ScanForStartCode();
  } else {
    DebugLog("JPG: Got bad tag %d - bailing out", code);
    ok = false;
  }
  if (!ok)
    return false;
  LastCode = code;
  return true;
}

bool TMPEGRecognizer::StartsAnotherStream() {
  uint8_t b[5];
  for (uint64_t i = 0; i < 5; ++i)
    if (!ReadByte(ByteOffset + i, b[i]))
      return false; // the skip after the pack header meets the same end
  uint32_t kind = 0;
  uint64_t scr = 0;
  if ((b[0] >> 6) == 1) { // MPEG-2: '01', then SCR 32..30, 29..15 and 14..0 between markers
    kind = 2;
    scr = (uint64_t{b[0]} >> 3 & 7) << 30 | (uint64_t{b[0]} & 3) << 28 | uint64_t{b[1]} << 20 |
          (uint64_t{b[2]} >> 3) << 15 | (uint64_t{b[2]} & 3) << 13 | uint64_t{b[3]} << 5 |
          uint64_t{b[4]} >> 3;
  } else if ((b[0] >> 4) == 2) { // MPEG-1: '0010', then the SCR in the same three pieces
    kind = 1;
    scr = (uint64_t{b[0]} >> 1 & 7) << 30 | uint64_t{b[1]} << 22 | (uint64_t{b[2]} >> 1) << 15 |
          uint64_t{b[3]} << 7 | uint64_t{b[4]} >> 1;
  }
  if (kind == 0)
    return false;
  // Streams stored one after another (clips recorded in turn, as a card holds them)
  // form one valid walk; the clock that restarts, or packs of the other MPEG version,
  // mark where the next one begins.
  const bool another = FPackKind != 0 && (kind != FPackKind || scr < FLastScr);
  FPackKind = kind;
  FLastScr = scr;
  return another;
}

bool TMPEGRecognizer::ParseExtension() {
  uint32_t id, v;
  if (!ReadBits(4, id))
    return false;
  switch (id) {
  case 1: // sequence extension
    return Skip(0, 44);
  case 2: // sequence display extension
    return Skip(0, 3) && ReadBits(1, v) && (v ? Skip(0, 53) : Skip(0, 29));
  case 3: // quantisation matrix extension
    for (int i = 0; i < 4; ++i)
      if (!ReadBits(1, v) || (v && !Skip(64, 0)))
        return false;
    return true;
  case 4:
    return ReadBits(2, v) && Skip(0, 4) && (v != 1 || Skip(0, 48));
  case 5:
    return true;
  case 7:
    DebugLog("MPG: Got a Picture Display Extension - Not supported");
    return false;
  case 8: // picture coding extension
    return Skip(2, 13) && ReadBits(1, v) && (v == 0 || Skip(0, 20));
  case 9: // picture spatial scalable extension
    return Skip(0, 46);
  case 10:
    DebugLog("MPG: Got a Temporal Scalable Extension - Not supported");
    return false;
  default:
    return false;
  }
}

bool TMPEGRecognizer::ScanForStartCode() {
  Align();
  uint64_t at = 0;
  if (FindPrefix(ByteOffset, Unlimited, at) != TSearch::Found)
    return false;
  ByteOffset = at + 3; // on the code byte of the prefix found
  BitCount = 0;
  CurrentByte = 0x01;
  return true;
}

bool TMPEGRecognizer::Start(TMedium& M) {
  static constexpr uint8_t pack[4] = {0x00, 0x00, 0x01, 0xBA};
  uint8_t scratch[4];
  // Nearly every sector fails here, before anything else is set up.
  if (const uint8_t* h = HeaderBytes(M, 4, scratch); !h || std::memcmp(h, pack, 4) != 0)
    return false;
  Medium = &M;
  StartSector = M.GetPosition();
  ByteOffset = 0;
  BitCount = 0;
  LastCode = 0;
  FPackKind = 0;
  FLastScr = 0;
  FPackVisited = 0;
  FReader.emplace(M, StartSector);
  return true;
}

bool TMPEGRecognizer::Check(TMedium& M) {
  FWalking = false;
  if (!Start(M))
    return false;
  for (int i = 0; i < 6; ++i) {
    if (!NextStartCode())
      return false;
    if (LastCode == CodeEnd)
      return true;
  }
  return true;
}

bool TMPEGRecognizer::Extract(TMedium& M, TStream& Stream) {
  FWalking = false;
  if (!Start(M))
    return false;
  if (FFailedCount > 0 &&
      (&M != FMemoMedium || M.SectorSize() != FMemoSectorSize || StartSector <= FLastExtract))
    BeginScan(); // another medium, or the scan began again
  FMemoMedium = &M;
  FMemoSectorSize = M.SectorSize();
  FLastExtract = StartSector;

  FWalking = true;
  FMerged = false;
  FVisited.clear();
  while (NextStartCode() && LastCode != CodeEnd) {
  }
  FWalking = false;
  if (FMerged || LastCode != CodeEnd) {
    RememberFailed(FVisited, uint64_t{StartSector} * M.SectorSize());
    FVisited.clear();
    return false;
  }
  FVisited.clear();
  Align();
  M.SetPosition(StartSector);
  // Everything up to and including the end code, at most MaxSize. A copy that meets
  // an unreadable sector has not measured the file: the scanner carves it instead.
  const uint32_t count = ByteOffset > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ByteOffset);
  return CopyToStream(M, Stream, count);
}

bool TMPEGRecognizer::Failed(uint64_t Position) const {
  if (FFailedCount == 0)
    return false;
  const uint64_t key = Position + 1;
  const std::size_t mask = FFailed.size() - 1;
  for (std::size_t i = Slot(key, mask);; i = (i + 1) & mask) {
    if (FFailed[i] == key)
      return true;
    if (FFailed[i] == 0)
      return false;
  }
}

void TMPEGRecognizer::RememberFailed(const std::vector<uint64_t>& Positions, uint64_t Below) {
  const std::size_t bound = std::max<std::size_t>(8, std::bit_floor(WalkMemoSlots));
  for (uint64_t pos : Positions) {
    if ((FFailedCount + 1) * 2 > FFailed.size()) {
      std::vector<uint64_t> old;
      old.swap(FFailed);
      const bool grow = old.size() < bound;
      FFailed.assign(old.empty() ? std::min<std::size_t>(1024, bound)
                     : grow      ? old.size() * 2
                                 : old.size(),
                     0);
      FFailedCount = 0;
      // Later walks start further on: positions before this one's start are of no use.
      for (uint64_t key : old)
        if (key != 0 && key - 1 >= Below) {
          Insert(FFailed, key);
          ++FFailedCount;
        }
      // At its bound, a set that stays more than a quarter full is dropped whole, so
      // that every rebuild is paid for by as many insertions as it moves.
      if (!grow && FFailedCount * 4 > FFailed.size()) {
        std::fill(FFailed.begin(), FFailed.end(), 0);
        FFailedCount = 0;
      }
    }
    if (!Failed(pos)) {
      Insert(FFailed, pos + 1);
      ++FFailedCount;
    }
  }
}

} // namespace gf
