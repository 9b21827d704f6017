#include "RecognizerRIFF.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace gf {

TRIFFRecognizer::TRIFFRecognizer() {
  MaxSize = 134217728;
}

namespace {

bool IsRiff(const uint8_t* H) {
  return std::memcmp(H, "RIFF", 4) == 0 || std::memcmp(H, "RIFX", 4) == 0;
}

} // namespace

bool TRIFFRecognizer::Check(TMedium& M) {
  uint8_t buf[4];
  const uint8_t* h = HeaderBytes(M, 4, buf);
  return h && IsRiff(h);
}

bool TRIFFRecognizer::HasForm(TMedium& M, const char (&Form)[5]) {
  // The identifier first, so that a short sector that is no RIFF file is not read on.
  uint8_t buf[12];
  if (const uint8_t* id = HeaderBytes(M, 4, buf); !id || !IsRiff(id))
    return false;
  const uint8_t* h = HeaderBytes(M, 12, buf);
  return h && std::memcmp(h + 8, Form, 4) == 0;
}

bool TAVIRecognizer::Check(TMedium& M) {
  return HasForm(M, "AVI ");
}

bool TWAVRecognizer::Check(TMedium& M) {
  return HasForm(M, "WAVE");
}

namespace {

bool Printable(const uint8_t* Id) {
  for (int i = 0; i < 4; ++i)
    if (Id[i] < 0x20 || Id[i] > 0x7E)
      return false;
  return true;
}

// LISTs nest a few levels in practice (AVI: hdrl, strl); deeper ones are passed over
// whole by their size.
constexpr std::size_t MaxListDepth = 16;

} // namespace

TRIFFRecognizer::TChain TRIFFRecognizer::WalkChunks(TMediumReader& R, bool BigEndian,
                                                    uint64_t Length, uint64_t Limit) const {
  struct TParent {
    uint64_t End;  // of its contents
    uint64_t Next; // where the walk goes on after it
  };
  std::vector<TParent> parents{{Length, Length}};
  uint64_t at = 12;
  for (uint32_t steps = 0; steps < ChunkWalkLimit; ++steps) {
    while (at >= parents.back().End) {
      if (parents.size() == 1)
        return TChain::Holds;
      at = parents.back().Next;
      parents.pop_back();
    }
    if (at >= Limit) // past what is saved: the rest does not decide where the scan goes on
      return TChain::Holds;
    const uint64_t end = parents.back().End;
    if (end - at < 8)
      return TChain::Broken;
    uint8_t h[12];
    if (!R.Read(at, 8, h))
      return TChain::Unreadable;
    const uint64_t size = Get32(h + 4, BigEndian);
    if (!Printable(h) || size > end - at - 8)
      return TChain::Broken;
    // An odd size is followed by a pad byte, which the last chunk of a parent may lack.
    const uint64_t next = std::min(at + 8 + size + (size & 1), end);
    if (std::memcmp(h, "LIST", 4) == 0 && parents.size() < MaxListDepth) {
      if (size < 4)
        return TChain::Broken;
      if (!R.Read(at + 8, 4, h + 8))
        return TChain::Unreadable;
      if (!Printable(h + 8))
        return TChain::Broken;
      parents.push_back({at + 8 + size, next});
      at += 12;
      continue;
    }
    at = next;
  }
  return TChain::Holds;
}

bool TRIFFRecognizer::Extract(TMedium& M, TStream& Stream) {
  const uint32_t at = M.GetPosition();
  if (!Check(M))
    return false;
  M.SetPosition(at);
  uint8_t buf[8];
  const uint8_t* h = HeaderBytes(M, 8, buf);
  if (!h)
    return false;
  const bool bigEndian = h[3] == 'X';
  // Counted in 64 bits: for the top sizes the sum with the header passes 32 bits,
  // and a wrapped count would write nothing and hold the scan at this sector.
  const uint64_t count = uint64_t{Get32(h + 4, bigEndian)} + 8;
  const uint64_t saved = std::min<uint64_t>(count, MaxSize);
  // A header that survived while newer files were written over the rest still
  // declares the old size; measured by it, the scan would pass over those files. Its
  // chunks show the damage, and the file is carved instead. A walk that meets an
  // unreadable sector leaves the answer to the copy, which meets it too.
  TMediumReader reader(M, at);
  if (WalkChunks(reader, bigEndian, count, saved) == TChain::Broken)
    return false;
  M.SetPosition(at);
  return CopyToStream(M, Stream, static_cast<uint32_t>(saved));
}

} // namespace gf
