// GIF pictures: measured by walking their blocks up to the trailer.
#pragma once

#include "Recognizer.h"

namespace gf {

class TGIFRecognizer : public TRecognizer {
public:
  // A walk that has not met the trailer this far into the file gives up and leaves
  // the file to be carved; copies are cut at MaxSize long before it.
  static constexpr uint32_t WalkLimit = 16777216;

  TGIFRecognizer();
  std::string GetName() const override { return "GIF"; }
  // "GIF87a" or "GIF89a".
  bool Check(TMedium& Medium) override;
  // Walks the blocks to the trailer and copies up to it, cut at MaxSize.
  bool Extract(TMedium& Medium, TStream& Stream) override;

private:
  bool SkipSubBlocks(TMedium& Medium, uint32_t Start, uint32_t& Offset);
};

} // namespace gf
