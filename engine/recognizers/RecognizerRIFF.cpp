#include "RecognizerRIFF.h"

#include <cstring>

namespace gf {

namespace {

// The first Count bytes from the start of the current sector: a pointer into the
// cached sector when it is long enough, else a copy in Buffer. Null when unreadable.
const uint8_t* Head(TMedium& M, uint32_t Count, uint8_t* Buffer) {
  const uint8_t* data = M.GetData();
  if (!data)
    return nullptr;
  if (M.SectorSize() >= Count)
    return data;
  return TRecognizer::ReadBytes(M, M.GetPosition(), 0, Count, Buffer) ? Buffer : nullptr;
}

} // namespace

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
  const uint8_t* h = Head(M, 4, buf);
  return h && IsRiff(h);
}

bool TRIFFRecognizer::HasForm(TMedium& M, const char (&Form)[5]) {
  const uint8_t* data = M.GetData();
  if (data && M.SectorSize() >= 12) // the usual case: one look at the cached sector
    return IsRiff(data) && std::memcmp(data + 8, Form, 4) == 0;
  const uint32_t at = M.GetPosition();
  uint8_t buf[12];
  if (const uint8_t* id = Head(M, 4, buf); !id || !IsRiff(id))
    return false;
  M.SetPosition(at);
  const uint8_t* h = Head(M, 12, buf);
  return h && std::memcmp(h + 8, Form, 4) == 0;
}

bool TAVIRecognizer::Check(TMedium& M) {
  return HasForm(M, "AVI ");
}

bool TWAVRecognizer::Check(TMedium& M) {
  return HasForm(M, "WAVE");
}

bool TRIFFRecognizer::Extract(TMedium& M, TStream& Stream) {
  const uint32_t at = M.GetPosition();
  if (!Check(M))
    return false;
  M.SetPosition(at);
  uint8_t buf[8];
  const uint8_t* h = Head(M, 8, buf);
  if (!h)
    return false;
  uint32_t size = (uint32_t{h[7]} << 24) | (uint32_t{h[6]} << 16) | (uint32_t{h[5]} << 8) | h[4];
  if (h[3] == 'X')
    size = SwapBytes32(size);
  // Counted in 64 bits: for the top sizes the sum with the header passes 32 bits,
  // and a wrapped count would write nothing and hold the scan at this sector.
  const uint64_t count = uint64_t{size} + 8;
  M.SetPosition(at);
  return CopyToStream(M, Stream, count < MaxSize ? static_cast<uint32_t>(count) : MaxSize);
}

} // namespace gf
