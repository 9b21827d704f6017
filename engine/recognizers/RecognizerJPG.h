// JPEG pictures: found by the start of their header at a sector start, always carved.
#pragma once

#include "Recognizer.h"

#include <array>
#include <cstdint>

namespace gf {

struct TMarkerInfo {
  bool Known = false;
  bool HasLength = false;  // a segment length follows the marker
  int32_t FixedLength = 0; // 0: read the 2-byte big-endian length after the marker
  bool ScanData = false;   // data bytes follow up to the next 0xFF not followed by 0x00
  int32_t ScanSkip = 0;    // bytes passed over before that data scan
};

using TMarkerTable = std::array<TMarkerInfo, 256>;

// The marker table, filled on first use and read-only afterwards.
const TMarkerTable& MarkerTable();

class TJPGRecognizer : public TRecognizer {
public:
  TJPGRecognizer();
  std::string GetName() const override { return "JPG"; }
  bool Check(TMedium& Medium) override;
  bool Extract(TMedium& Medium, TStream& Stream) override;

  // One step of the segment walker, from Offset bytes after StartSector. Not used
  // by Check or Extract: every JPEG is carved.
  bool ParseSegment();

  TMedium* Medium = nullptr; // of the last Check; not owned
  int32_t Depth = 0;
  uint32_t StartSector = 0;
  uint32_t Offset = 0;
  uint8_t LastMarker = 0;

private:
  bool SkipScanData(uint32_t& Pos);
  bool ReadByte(uint32_t Pos, uint8_t& B);
};

} // namespace gf
