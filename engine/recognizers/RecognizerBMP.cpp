#include "RecognizerBMP.h"

#include "Debug.h"

namespace gf {

namespace {
constexpr uint32_t HeaderLength = 34; // through the compression field of the Windows header
} // namespace

TBMPRecognizer::TBMPRecognizer() {
  MaxSize = 8388608;
}

bool TBMPRecognizer::Check(TMedium& M) {
  uint8_t scratch[HeaderLength];
  const uint8_t* h = HeaderBytes(M, 2, scratch);
  if (!h || h[0] != 'B' || h[1] != 'M')
    return false;
  if (h = HeaderBytes(M, HeaderLength, scratch); !h)
    return false;
  const uint32_t at = M.GetPosition();
  if (Le32(h + 14) == 12) { // OS/2 core header
    if (uint32_t planes = Le16(h + 22); planes != 1) {
      DebugLog("BMP: OS2 Bitmap at %d failing Planes (%d) sanity check", at, planes);
      return false;
    }
    return true;
  }
  if (uint32_t compression = Le32(h + 30); compression > 3) {
    DebugLog("BMP: WIN Bitmap at %d failing Compression (%d) sanity check", at, compression);
    return false;
  }
  if (uint32_t planes = Le16(h + 26); planes != 1) {
    DebugLog("BMP: WIN Bitmap at %d failing Planes (%d) sanity check", at, planes);
    return false;
  }
  return true;
}

bool TBMPRecognizer::Extract(TMedium& M, TStream& Stream) {
  if (!Check(M))
    return false;
  uint8_t scratch[6];
  const uint8_t* h = HeaderBytes(M, 6, scratch);
  return h && CopyToStream(M, Stream, Le32(h + 2));
}

} // namespace gf
