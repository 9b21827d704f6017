#include "RecognizerMOV.h"

#include <cstring>

namespace gf {

const std::array<const char*, 2> MovAtomTypes = {"moov", "pnot"};

namespace {

bool IsLetter(uint8_t C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z');
}

} // namespace

TMOVRecognizer::TMOVRecognizer() {
  MaxSize = 134217728;
}

bool TMOVRecognizer::Check(TMedium& M) {
  uint8_t buf[8];
  const uint8_t* h = HeaderBytes(M, 8, buf);
  if (!h)
    return false;
  for (const char* type : MovAtomTypes)
    if (std::memcmp(h + 4, type, 4) == 0)
      return true;
  return false;
}

bool TMOVRecognizer::Extract(TMedium& M, TStream& Stream) {
  const uint32_t at = M.GetPosition();
  if (!Check(M))
    return false;
  StartSector = at;
  TMediumReader reader(M, StartSector);
  uint32_t atoms = 0;
  uint64_t offset = 0;
  for (;;) {
    // Once the run holds 3 atoms and MaxSize bytes, more atoms cannot change what is
    // copied: the walk need not go on through the rest of a long medium.
    if (atoms >= 3 && offset >= MaxSize)
      break;
    uint8_t h[8];
    if (!reader.Read(offset, 8, h))
      break;
    const uint32_t size = Be32(h);
    if (!IsLetter(h[4]) || !IsLetter(h[5]) || !IsLetter(h[6]) || !IsLetter(h[7]))
      break;
    // An atom that does not cover its own header (size 0: to the end of the file;
    // 1: a 64-bit size follows) cannot be measured here, nor a run past 32 bits of
    // length: the walk ends before such an atom, which is not counted.
    if (size < 8 || offset + size > UINT32_MAX)
      break;
    ++atoms;
    offset += size;
  }
  if (atoms < 3 || offset < 8192)
    return false;
  M.SetPosition(StartSector);
  return CopyToStream(M, Stream, static_cast<uint32_t>(offset));
}

} // namespace gf
