#include "RecognizerMP3.h"

#include <cstring>

namespace gf {

namespace {

// [V][SampleRateIndex], V: 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5.
constexpr uint32_t Mp3SampleRates[3][4] = {
    {44100, 48000, 32000, 0}, {22050, 24000, 16000, 0}, {11025, 12000, 8000, 0}};

// [V][L][BitrateIndex] in kbit/s, L: 0 Layer I, 1 Layer II, 2 Layer III.
constexpr uint32_t Mp3Bitrates[3][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};

// [V][L] for Layers II and III.
constexpr uint32_t Mp3Coefficients[3][3] = {
    {0, 144000, 144000}, {0, 144000, 72000}, {0, 144000, 72000}};

constexpr int VersionIndex(uint32_t Version) {
  return Version == 3 ? 0 : Version == 2 ? 1 : 2;
}
constexpr int LayerIndex(uint32_t Layer) {
  return 3 - static_cast<int>(Layer);
}

// IsValidHeader on the raw value, for the search that runs at every sector.
bool ValidRaw(uint32_t H) {
  return (H >> 21) == 0x7FF && ((H >> 19) & 3) != 1 && ((H >> 17) & 3) != 0 &&
         ((H >> 12) & 15) != 0 && ((H >> 12) & 15) != 15 && ((H >> 10) & 3) != 3 && (H & 3) != 2;
}

bool IsTag(const uint8_t* B) {
  return B[0] == 'T' && B[1] == 'A' && B[2] == 'G';
}
bool IsId3(const uint8_t* B) {
  return B[0] == 'I' && B[1] == 'D' && B[2] == '3';
}

} // namespace

TMp3FrameHeader ParseHeader(const uint8_t* B) {
  const uint32_t v = Be32(B);
  TMp3FrameHeader h;
  h.Sync = v >> 21;
  h.Version = (v >> 19) & 3;
  h.Layer = (v >> 17) & 3;
  h.Protection = (v >> 16) & 1;
  h.BitrateIndex = (v >> 12) & 15;
  h.SampleRateIndex = (v >> 10) & 3;
  h.Padding = (v >> 9) & 1;
  h.Private = (v >> 8) & 1;
  h.ChannelMode = (v >> 6) & 3;
  h.ModeExtension = (v >> 4) & 3;
  h.RightsFlag = (v >> 3) & 1;
  h.HomeFlag = (v >> 2) & 1;
  h.Emphasis = v & 3;
  return h;
}

bool IsValidHeader(const TMp3FrameHeader& H) {
  return H.Sync == 0x7FF && H.Version != 1 && H.Layer != 0 && H.BitrateIndex != 0 &&
         H.BitrateIndex != 15 && H.SampleRateIndex != 3 && H.Emphasis != 2;
}

uint32_t PaddingLength(const TMp3FrameHeader& H) {
  return H.Layer == 3 ? 4 : 1;
}

uint32_t FrameLength(const TMp3FrameHeader& H) {
  if (H.Version == 1 || H.Version > 3 || H.Layer == 0 || H.Layer > 3 || H.BitrateIndex == 0 ||
      H.BitrateIndex >= 15 || H.SampleRateIndex >= 3)
    return 0;
  const int v = VersionIndex(H.Version);
  const int l = LayerIndex(H.Layer);
  const uint64_t kbits = Mp3Bitrates[v][l][H.BitrateIndex];
  const uint64_t rate = Mp3SampleRates[v][H.SampleRateIndex];
  if (l == 0) // Layer I: slots of 4 bytes, 12 x bit/s / rate of them, one more with padding
    return static_cast<uint32_t>((12 * kbits * 1000 / rate + H.Padding) * 4);
  return static_cast<uint32_t>(Mp3Coefficients[v][l] * kbits / rate + H.Padding);
}

TMP3Recognizer::TMP3Recognizer() {
  MaxSize = 20971520;
}

bool TMP3Recognizer::ReadHeader(TMediumReader& R, uint64_t At, uint8_t (&B)[4]) {
  uint32_t avail;
  const uint8_t* p = R.Peek(At, avail);
  if (!p)
    return false;
  if (avail >= 4) {
    std::memcpy(B, p, 4);
    return true;
  }
  return R.Read(At, 4, B);
}

bool TMP3Recognizer::TagLength(TMediumReader& R, uint64_t At, uint64_t& Length) {
  uint8_t size[4], flags;
  if (!R.Read(At + 6, 4, size) || !R.Byte(At + 5, flags))
    return false;
  Length = (uint64_t{size[0]} << 21) + (uint64_t{size[1]} << 14) + (uint64_t{size[2]} << 7) +
           size[3] + 10 + ((flags & 0x10) ? 10 : 0);
  return true;
}

bool TMP3Recognizer::FindFirstFrame(TMediumReader& R, uint64_t& Offset) {
  uint8_t b[4];
  if (!ReadHeader(R, Total, b))
    return false;
  uint64_t start = 0;
  if (IsId3(b) && !TagLength(R, Total, start))
    return false;
  // A header begins with 0xFF, so only offsets holding that byte need their four
  // bytes read; the others are passed over inside the cached sector. The outcome
  // is that of reading all 512 offsets in turn.
  uint64_t off = Total + start;
  const uint64_t end = off + 512;
  while (off < end) {
    uint32_t avail;
    const uint8_t* p = R.Peek(off, avail);
    if (!p)
      return false;
    const uint32_t n = end - off < avail ? static_cast<uint32_t>(end - off) : avail;
    const uint8_t* q = p;
    uint64_t next = off + n;
    while (q < p + n) {
      q = static_cast<const uint8_t*>(std::memchr(q, 0xFF, static_cast<std::size_t>(p + n - q)));
      if (!q)
        break;
      const uint64_t at = off + static_cast<uint64_t>(q - p);
      if (q + 4 <= p + avail) {
        if (ValidRaw(Be32(q))) {
          Offset = at - Total;
          return true;
        }
        ++q;
        continue;
      }
      // The header runs into the next sector; reading it may replace the cached
      // block, so the search goes on from a fresh look at this sector.
      if (!R.Read(at, 4, b))
        return false;
      if (ValidRaw(Be32(b))) {
        Offset = at - Total;
        return true;
      }
      next = at + 1;
      break;
    }
    off = next;
  }
  return false;
}

uint32_t TMP3Recognizer::NextFrame(TMediumReader& R) {
  uint8_t b[4];
  if (!ReadHeader(R, Total, b))
    return 0;
  const TMp3FrameHeader h = ParseHeader(b);
  if (IsValidHeader(h)) {
    uint32_t len = FrameLength(h);
    if (len == 0)
      return 0;
    const uint32_t pad = h.Padding ? PaddingLength(h) : 0;
    uint8_t s[4];
    if (!ReadHeader(R, Total + len, s))
      return 0;
    if (IsTag(s) || IsValidHeader(ParseHeader(s))) {
      LastLength = len - pad;
      return len;
    }
    if (LastLength == 0)
      return 0;
    // A frame whose computed length is off may still follow a constant frame size.
    len = LastLength + pad;
    if (!ReadHeader(R, Total + len, s))
      return 0;
    if (IsTag(s) || IsValidHeader(ParseHeader(s))) {
      LastLength = len - pad;
      return len;
    }
    return 0;
  }
  if (IsId3(b)) {
    uint64_t length;
    if (!TagLength(R, Total, length))
      return 0;
    return static_cast<uint32_t>(length); // at most 2^29 + 20
  }
  return 0;
}

uint32_t TMP3Recognizer::FinalFrame(TMediumReader& R) {
  uint8_t b[4];
  if (!ReadHeader(R, Total, b))
    return 0;
  const TMp3FrameHeader h = ParseHeader(b);
  const uint32_t len = IsValidHeader(h) ? FrameLength(h) : 0;
  uint8_t end;
  return len > 0 && R.Byte(Total + len - 1, end) ? len : 0;
}

bool TMP3Recognizer::Check(TMedium& M) {
  Medium = &M;
  StartSector = M.GetPosition();
  Total = 0;
  LastLength = 0;
  TMediumReader reader(M, StartSector);
  uint64_t first;
  if (!FindFirstFrame(reader, first))
    return false;
  Total = first;
  int blocks = 0;
  while (blocks < 20) {
    uint32_t n = NextFrame(reader);
    if (n == 0)
      break;
    Total += n;
    ++blocks;
  }
  M.SetPosition(StartSector);
  return blocks == 20;
}

bool TMP3Recognizer::Extract(TMedium& M, TStream& Stream) {
  Medium = &M;
  StartSector = M.GetPosition();
  Total = 0;
  LastLength = 0;
  TMediumReader reader(M, StartSector);
  uint64_t first;
  if (!FindFirstFrame(reader, first))
    return false;
  const int64_t base = Stream.GetPosition();
  // Copies one block, or ends the file before it: when it would pass ChainLimit or
  // when it meets an unreadable sector (the file then ends at the last whole block).
  auto copyBytes = [&](uint64_t count) {
    const int64_t before = Stream.GetPosition();
    if (static_cast<uint64_t>(before - base) + count > ChainLimit)
      return false;
    if (!reader.CopyTo(Stream, Total, count)) {
      Stream.SetSize(before);
      return false;
    }
    Total += count;
    return true;
  };
  bool whole = copyBytes(first);
  while (whole) {
    uint32_t n = NextFrame(reader);
    if (n == 0)
      break;
    whole = copyBytes(n);
  }
  if (whole) {
    uint8_t t[3];
    if (reader.Read(Total, 3, t) && IsTag(t))
      copyBytes(128);
    else if (uint32_t last = FinalFrame(reader))
      copyBytes(last);
  }
  M.SetPosition(StartSector);
  // Nothing copied (the bytes before the first frame could not be read) is no
  // measured file: the scanner carves what there is instead.
  return Stream.GetPosition() > base;
}

} // namespace gf
