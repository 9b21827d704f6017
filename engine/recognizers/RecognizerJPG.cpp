#include "RecognizerJPG.h"

#include "Debug.h"

namespace gf {

namespace {

void SetMarker(TMarkerTable& t, int first, int last, bool hasLength, bool scanData) {
  for (int code = first; code <= last; ++code)
    t[static_cast<std::size_t>(code)] = TMarkerInfo{true, hasLength, 0, scanData, 0};
}

TMarkerTable InitMarkerTable() {
  TMarkerTable t{};
  SetMarker(t, 0x00, 0x00, false, false);
  SetMarker(t, 0x01, 0x01, false, true);
  SetMarker(t, 0x1F, 0x1F, false, true);
  SetMarker(t, 0x61, 0x61, false, true);
  SetMarker(t, 0xC0, 0xCF, true, false);
  SetMarker(t, 0xD0, 0xD9, false, false);
  SetMarker(t, 0xDA, 0xDA, false, true);
  SetMarker(t, 0xDB, 0xDF, true, false);
  SetMarker(t, 0xE0, 0xEF, false, true);
  SetMarker(t, 0xF0, 0xF0, false, true);
  SetMarker(t, 0xFD, 0xFE, true, false);
  return t;
}

} // namespace

const TMarkerTable& MarkerTable() {
  static const TMarkerTable table = InitMarkerTable();
  return table;
}

TJPGRecognizer::TJPGRecognizer() {
  MarkerTable();
  MaxSize = 3145728;
}

bool TJPGRecognizer::Check(TMedium& M) {
  Medium = &M;
  StartSector = M.GetPosition();
  Offset = 0;
  static constexpr uint8_t head[3] = {0xFF, 0xD8, 0xFF};
  uint8_t scratch[4];
  const uint8_t* h = HeaderBytes(M, 4, scratch);
  return h && h[0] == head[0] && h[1] == head[1] && h[2] == head[2] &&
         (h[3] == 0xE0 || h[3] == 0xE1);
}

bool TJPGRecognizer::Extract(TMedium& /*Medium*/, TStream& /*Stream*/) {
  Offset = 0;
  Depth = 1;
  return false;
}

bool TJPGRecognizer::ReadByte(uint32_t Pos, uint8_t& B) {
  return Medium && ReadBytes(*Medium, StartSector, Pos, 1, &B);
}

bool TJPGRecognizer::ParseSegment() {
  if (!Medium)
    return false;
  uint8_t tag[2];
  if (!ReadBytes(*Medium, StartSector, Offset, 2, tag))
    return false;
  if (tag[0] != 0xFF) {
    DebugLog("JPG: SegmentTag not 0xFF but %d at Offset %d", tag[0], Offset);
    return false;
  }
  uint32_t pos = Offset + 2;
  uint32_t markerAt = Offset;
  uint8_t marker = tag[1];
  while (marker == 0xFF) {
    markerAt = pos - 1;
    if (!ReadByte(pos, marker))
      return false;
    ++pos;
  }
  DebugLog("[%.8x] JPG: Tag %.2x", markerAt, marker);
  const TMarkerInfo& info = MarkerTable()[marker];
  if (!info.Known) {
    DebugLog("JPG: SegmentType %x at Offset %x is invalid", marker, pos);
    return false;
  }
  if (marker == 0xDA) {
    if (!SkipScanData(pos))
      return false;
  } else {
    if (info.HasLength) {
      uint32_t len = static_cast<uint32_t>(info.FixedLength);
      if (len == 0) {
        uint8_t l[2];
        if (!ReadBytes(*Medium, StartSector, pos, 2, l))
          return false;
        len = Be16(l);
      }
      pos += len;
    }
    if (info.ScanData) {
      pos += static_cast<uint32_t>(info.ScanSkip);
      for (;;) {
        uint8_t b;
        if (!ReadByte(pos, b))
          return false;
        if (b != 0xFF) {
          ++pos;
          continue;
        }
        uint8_t n;
        if (!ReadByte(pos + 1, n))
          return false;
        if (n == 0x00) {
          pos += 2;
          continue;
        }
        break; // stop at this 0xFF
      }
    }
  }
  uint8_t b;
  if (!ReadByte(pos, b))
    return false;
  if (marker != 0xD9 && b != 0xFF) {
    DebugLog("[%.8x] No marker found here after processing of %.2x", pos, marker);
    return false;
  }
  if (marker == 0xD8 || marker == 0xFE)
    ++Depth;
  else if (marker == 0xD9)
    --Depth;
  Offset = pos;
  LastMarker = marker;
  return true;
}

bool TJPGRecognizer::SkipScanData(uint32_t& Pos) {
  Pos += 2; // segment length
  uint8_t n;
  if (!ReadByte(Pos, n))
    return false;
  Pos += 2 * uint32_t{n} + 3;
  for (;;) {
    uint8_t b;
    if (!ReadByte(Pos, b))
      return false;
    if (b != 0xFF) {
      ++Pos;
      continue;
    }
    uint32_t ff = Pos;
    ++Pos;
    do {
      if (!ReadByte(Pos, b))
        return false;
      ++Pos;
    } while (b == 0xFF);
    if (b <= 0xD7)
      continue; // stuffed zero or a restart marker: still data
    Pos = ff;
    DebugLog("[%.8x] End of SOS Data, found %.2x", Pos, b);
    return true;
  }
}

} // namespace gf
