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
  // Copies chunk size + 8 bytes, at most MaxSize, once the chunks inside hold
  // together; shared by the two forms below.
  bool Extract(TMedium& Medium, TStream& Stream) override;

  // Bound of the chunk walk, in chunk headers read. A file with more chunks than
  // this (hours of video in 128 MiB) is taken by its header's size unwalked.
  uint32_t ChunkWalkLimit = 1u << 20;

protected:
  // The RIFF test, and bytes 8-11 of the current sector are Form.
  static bool HasForm(TMedium& Medium, const char (&Form)[5]);

private:
  enum class TChain { Holds, Broken, Unreadable };
  // Walks the chunks after the form type, LIST contents included, up to Limit bytes
  // of a file of Length bytes: each needs an identifier of printable ASCII and a size
  // that keeps it inside its parent.
  TChain WalkChunks(TMediumReader& Reader, bool BigEndian, uint64_t Length, uint64_t Limit) const;
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
