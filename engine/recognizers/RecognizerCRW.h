// Canon raw pictures in the CIFF container. Measured without parsing the heap: the
// camera's make and model strings anchor a search for the heap's last directory
// entry and trailer, and the file ends 8 bytes after that entry's offset field.
#pragma once

#include "Recognizer.h"

namespace gf {

class TCRWRecognizer : public TRecognizer {
public:
  static constexpr uint32_t AnchorStep = 4;
  static constexpr uint32_t AnchorRead = 1025;
  static constexpr uint32_t MinModelEnd = 12; // index of the model's NUL, at the earliest
  static constexpr uint32_t MakeBase = 524;   // the entry sought points this far before the anchor
  static constexpr uint32_t TrailerWindow = 102400;
  static constexpr uint32_t TrailerRead = 22;
  // Anchors whose trailer window is searched in one Extract; past it the file is
  // carved. Real files hold a handful of make-and-model strings; damaged data
  // full of them would otherwise cost a window search per 16 bytes: minutes for
  // one header instead of a twentieth of a second.
  static constexpr uint32_t MaxAnchors = 256;

  TCRWRecognizer();
  std::string GetName() const override { return "CRW"; }
  // "II", 0x1A 0x00, then "HEAPCCD" at offset 6.
  bool Check(TMedium& Medium) override;
  bool Extract(TMedium& Medium, TStream& Stream) override;

  uint32_t StartSector = 0;

private:
  bool IsAnchor(TMedium& Medium, uint32_t Off, bool& Ok);
  bool FindTrailer(TMedium& Medium, uint32_t Off, uint32_t& End, bool& Ok);
};

} // namespace gf
