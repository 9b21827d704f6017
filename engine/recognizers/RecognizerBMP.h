// BMP pictures: measured by the file size in their header.
#pragma once

#include "Recognizer.h"

namespace gf {

class TBMPRecognizer : public TRecognizer {
public:
  TBMPRecognizer();
  std::string GetName() const override { return "BMP"; }
  // "BM", then a plausible plane count and, for the Windows header, compression.
  bool Check(TMedium& Medium) override;
  // Copies the declared file size, cut at MaxSize.
  bool Extract(TMedium& Medium, TStream& Stream) override;
};

} // namespace gf
