// PNG pictures: measured by walking their chunks up to IEND.
#pragma once

#include "Recognizer.h"

namespace gf {

class TPNGRecognizer : public TRecognizer {
public:
  // A file that has not ended this far in gives up and is carved: it bounds the
  // memory one found PNG may take. Smaller PNGs are written whole, beyond MaxSize.
  static constexpr uint32_t WalkLimit = 134217728;
  // The format's own limit on a chunk's data length.
  static constexpr uint32_t MaxChunkLength = 0x7FFFFFFF;

  TPNGRecognizer();
  std::string GetName() const override { return "PNG"; }
  // The eight signature bytes.
  bool Check(TMedium& Medium) override;
  // Copies the signature and every chunk up to and including IEND.
  bool Extract(TMedium& Medium, TStream& Stream) override;

private:
  bool Walk(TMedium& Medium, TStream& Stream, uint32_t Start);
};

} // namespace gf
