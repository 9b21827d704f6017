#include "RecognizerCRW.h"

#include <cstring>
#include <memory>

namespace gf {

TCRWRecognizer::TCRWRecognizer() {
  MaxSize = 10485760;
}

bool TCRWRecognizer::Check(TMedium& M) {
  uint8_t scratch[13];
  const uint8_t* h = HeaderBytes(M, 13, scratch);
  return h && h[0] == 0x49 && h[1] == 0x49 && h[2] == 0x1A && h[3] == 0x00 &&
         std::memcmp(h + 6, "HEAPCCD", 7) == 0;
}

// "Canon", NUL, then a model string of at least six printable characters ending in
// a NUL inside the read. Ok goes false when the read fails.
bool TCRWRecognizer::IsAnchor(TMedium& M, uint32_t Off, bool& Ok) {
  uint8_t buf[AnchorRead];
  if (!ReadBytes(M, StartSector, Off, AnchorRead, buf)) {
    Ok = false;
    return false;
  }
  if (std::memcmp(buf, "Canon", 6) != 0) // with its NUL
    return false;
  uint32_t i = 6;
  while (i < AnchorRead && buf[i] >= 0x20 && buf[i] <= 0x7F)
    ++i;
  return i >= MinModelEnd && i < AnchorRead && buf[i] == 0;
}

// Looks after the anchor at Off for the value Off - MakeBase whose neighbours make
// up a heap's last entry and trailer; End is where the file ends.
bool TCRWRecognizer::FindTrailer(TMedium& M, uint32_t Off, uint32_t& End, bool& Ok) {
  const uint32_t target = Off - MakeBase;
  for (uint32_t p = Off + AnchorStep; p < Off + TrailerWindow; p += AnchorStep) {
    uint8_t w[4];
    if (!ReadBytes(M, StartSector, p, 4, w)) {
      Ok = false;
      return false;
    }
    if (Le32(w) != target)
      continue;
    uint8_t t[TrailerRead];
    if (!ReadBytes(M, StartSector, p - 14, TrailerRead, t)) {
      Ok = false;
      return false;
    }
    const uint32_t size0 = Le32(t), offset0 = Le32(t + 4), size1 = Le32(t + 10),
                   offset1 = Le32(t + 14), trailer = Le32(t + 18);
    if (size0 + offset0 == offset1 && offset1 + size1 == trailer) {
      End = p + 8;
      return true;
    }
  }
  return false;
}

bool TCRWRecognizer::Extract(TMedium& M, TStream& Stream) {
  if (!Check(M))
    return false;
  StartSector = M.GetPosition();
  uint32_t anchors = 0;
  for (uint32_t off = 0; off < MaxSize; off += AnchorStep) {
    uint8_t w[4];
    if (!ReadBytes(M, StartSector, off, 4, w))
      return false;
    if (std::memcmp(w, "non", 4) == 0) { // "Canon" two bytes before the step
      off -= 2;
      if (!ReadBytes(M, StartSector, off, 4, w))
        return false;
    }
    if (std::memcmp(w, "Cano", 4) != 0)
      continue;
    bool ok = true;
    const bool anchor = IsAnchor(M, off, ok);
    if (!ok)
      return false;
    if (!anchor)
      continue;
    if (++anchors > MaxAnchors)
      return false;
    uint32_t end = 0;
    const bool found = FindTrailer(M, off, end, ok);
    if (!ok)
      return false;
    if (found) {
      M.SetPosition(StartSector);
      return CopyToStream(M, Stream, end);
    }
  }
  return false;
}

} // namespace gf
