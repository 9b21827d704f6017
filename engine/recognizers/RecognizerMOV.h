// QuickTime movies whose first atom is "moov" or "pnot", measured by walking the run
// of top-level atoms.
#pragma once

#include "Recognizer.h"

#include <array>

namespace gf {

// The accepted types of the first atom, in the order tried.
extern const std::array<const char*, 2> MovAtomTypes;

class TMOVRecognizer : public TRecognizer {
public:
  TMOVRecognizer();
  std::string GetName() const override { return "MOV"; }
  // Bytes 4-7 of the current sector are one of MovAtomTypes.
  bool Check(TMedium& Medium) override;
  // At least 3 atoms and 8,192 bytes measure the file; otherwise the scanner carves.
  bool Extract(TMedium& Medium, TStream& Stream) override;

  uint32_t StartSector = 0; // of the Extract in progress
};

} // namespace gf
