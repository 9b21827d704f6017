#include "RecognizerGIF.h"

#include "Debug.h"

namespace gf {

namespace {
uint32_t ColourTableSize(uint8_t Flags) {
  return Flags & 0x80 ? 3u << ((Flags & 7) + 1) : 0;
}
} // namespace

TGIFRecognizer::TGIFRecognizer() {
  MaxSize = 1048576;
}

bool TGIFRecognizer::Check(TMedium& M) {
  uint8_t scratch[6];
  const uint8_t* h = HeaderBytes(M, 6, scratch);
  return h && h[0] == 'G' && h[1] == 'I' && h[2] == 'F' && h[3] == '8' &&
         (h[4] == '7' || h[4] == '9') && h[5] == 'a';
}

// Offset stands on a sub-block's length byte; passes the chain up to and including
// its zero-length terminator.
bool TGIFRecognizer::SkipSubBlocks(TMedium& M, uint32_t Start, uint32_t& Offset) {
  for (;;) {
    uint8_t length;
    if (Offset > WalkLimit || !ReadBytes(M, Start, Offset, 1, &length))
      return false;
    Offset += uint32_t{length} + 1;
    if (length == 0)
      return true;
  }
}

bool TGIFRecognizer::Extract(TMedium& M, TStream& Stream) {
  if (!Check(M))
    return false;
  const uint32_t start = M.GetPosition();
  uint8_t screen[7];
  if (!ReadBytes(M, start, 6, sizeof screen, screen))
    return false;
  uint32_t offset = 13 + ColourTableSize(screen[4]);
  for (;;) {
    if (offset > WalkLimit)
      return false;
    uint8_t tag;
    if (!ReadBytes(M, start, offset, 1, &tag))
      return false;
    if (tag == 0x3B) { // trailer
      ++offset;
      break;
    }
    if (tag == 0x21) { // extension: introducer, label, then its sub-blocks
      offset += 2;
    } else if (tag == 0x2C) { // image descriptor, local colour table, code size, sub-blocks
      uint8_t flags;
      if (!ReadBytes(M, start, offset + 9, 1, &flags))
        return false;
      offset += 11 + ColourTableSize(flags);
    } else {
      // 0x01 (a plain-text block without the extension introducer) has no length
      // to pass over, so it ends the walk like any other unknown byte.
      DebugLog("GIF: Unexpected tag %d at offset %d", tag, offset);
      return false;
    }
    if (!SkipSubBlocks(M, start, offset))
      return false;
  }
  M.SetPosition(start);
  CopyToStream(M, Stream, offset); // the end is known: a failed copy keeps what it wrote
  return true;
}

} // namespace gf
