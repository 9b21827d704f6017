#include "RecognizerPNG.h"

#include "Debug.h"

#include <cstring>
#include <string_view>

namespace gf {

namespace {
constexpr uint8_t Signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

bool IsLetter(uint8_t C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z');
}
} // namespace

TPNGRecognizer::TPNGRecognizer() {
  MaxSize = 1048576;
}

bool TPNGRecognizer::Check(TMedium& M) {
  uint8_t scratch[sizeof Signature];
  const uint8_t* h = HeaderBytes(M, sizeof Signature, scratch);
  return h && std::memcmp(h, Signature, sizeof Signature) == 0;
}

bool TPNGRecognizer::Extract(TMedium& M, TStream& Stream) {
  if (!Check(M))
    return false;
  uint8_t scratch[16];
  const uint8_t* h = HeaderBytes(M, 16, scratch);
  if (!h || std::memcmp(h + 12, "IHDR", 4) != 0)
    return false;
  const uint32_t start = M.GetPosition();
  if (Walk(M, Stream, start)) {
    M.Next();
    return true;
  }
  Stream.SetPosition(0); // the carve that follows writes over what was copied
  M.SetPosition(start);
  return false;
}

bool TPNGRecognizer::Walk(TMedium& M, TStream& Stream, uint32_t Start) {
  // Bytes from the header sector's first byte to the end of the medium.
  const uint64_t available = (uint64_t{M.SectorCount()} - Start) * M.SectorSize();
  Stream.WriteBuffer(Signature, sizeof Signature);
  uint32_t offset = sizeof Signature;
  for (;;) {
    uint8_t head[8];
    if (!ReadBytes(M, Start, offset, sizeof head, head))
      return false;
    for (int i = 4; i < 8; ++i)
      if (!IsLetter(head[i])) {
        DebugLog("PNG: Got invalid chunk name %s",
                 std::string_view(reinterpret_cast<const char*>(head + 4), 4));
        return false;
      }
    const uint32_t length = Be32(head);
    // Refused before any of it is copied: a length the format does not allow, a
    // chunk that would run past the medium or past the walk's limit.
    const uint64_t end = uint64_t{offset} + length + 12;
    if (length > MaxChunkLength || end > available || end > WalkLimit)
      return false;
    // Straight from the medium's cache into the stream. What a failed copy wrote
    // stays ahead of the position that the carve rewinds to.
    if (!TMediumReader(M, Start).CopyTo(Stream, offset, end - offset))
      return false;
    offset = static_cast<uint32_t>(end);
    if (std::memcmp(head + 4, "IEND", 4) == 0)
      return true;
  }
}

} // namespace gf
