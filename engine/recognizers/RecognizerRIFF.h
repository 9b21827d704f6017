// RIFF files: of form "AVI " (video), of form "WAVE" (sound), and any other RIFF or
// RIFX file. All three measure the file by the chunk size in its header.
#pragma once

#include "Recognizer.h"

namespace gf {

class TRIFFRecognizer : public TRecognizer {
public:
  TRIFFRecognizer();
  std::string GetName() const override { return "RIFF"; }
  // The sector starts with "RIFF" (little-endian sizes) or "RIFX" (big-endian).
  bool Check(TMedium& Medium) override;
  // Copies chunk size + 8 bytes, at most MaxSize; shared by the two forms below.
  bool Extract(TMedium& Medium, TStream& Stream) override;

protected:
  // The RIFF test, and bytes 8-11 of the current sector are Form.
  static bool HasForm(TMedium& Medium, const char (&Form)[5]);
};

class TAVIRecognizer : public TRIFFRecognizer {
public:
  std::string GetName() const override { return "AVI"; }
  bool Check(TMedium& Medium) override;
};

class TWAVRecognizer : public TRIFFRecognizer {
public:
  std::string GetName() const override { return "WAV"; }
  bool Check(TMedium& Medium) override;
};

} // namespace gf
