// MPEG audio streams (saved as "MP3"): a frame header within the first bytes of the
// sector, after an optional ID3v2 tag, followed by a chain of 20 blocks.
#pragma once

#include "Recognizer.h"

#include <cstdint>

namespace gf {

struct TMp3FrameHeader {
  uint32_t Sync = 0;
  uint32_t Version = 0; // 0 MPEG-2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1
  uint32_t Layer = 0;   // 0 reserved, 1 Layer III, 2 Layer II, 3 Layer I
  uint32_t Protection = 0;
  uint32_t BitrateIndex = 0;
  uint32_t SampleRateIndex = 0;
  uint32_t Padding = 0;
  uint32_t Private = 0;
  uint32_t ChannelMode = 0;
  uint32_t ModeExtension = 0;
  uint32_t RightsFlag = 0;
  uint32_t HomeFlag = 0;
  uint32_t Emphasis = 0;
};

// The four bytes at B, first byte most significant.
TMp3FrameHeader ParseHeader(const uint8_t* B);
bool IsValidHeader(const TMp3FrameHeader& H);
// Bytes from this header to the next one, padding included; 0 when not computable.
uint32_t FrameLength(const TMp3FrameHeader& H);
// Bytes one padding adds to a frame: a 4-byte slot in Layer I, one byte otherwise.
uint32_t PaddingLength(const TMp3FrameHeader& H);

class TMP3Recognizer : public TRecognizer {
public:
  TMP3Recognizer();
  std::string GetName() const override { return "MP3"; }
  bool Check(TMedium& Medium) override;
  bool Extract(TMedium& Medium, TStream& Stream) override;

  // Bound of one extracted file, in bytes, against a chain that never breaks (frames
  // repeated over a whole medium); 1 GiB is more than the longest ID3v2 tag that a
  // tag header can declare. A longer stream ends at the last whole block below it,
  // and the scan finds the rest as a file of its own.
  uint64_t ChainLimit = 1073741824;

  TMedium* Medium = nullptr; // not owned
  uint32_t StartSector = 0;
  uint64_t Total = 0;      // offset from StartSector of the next block
  uint32_t LastLength = 0; // of the last verified frame without its padding; 0: none yet

private:
  bool FindFirstFrame(TMediumReader& R, uint64_t& Offset);
  uint32_t NextFrame(TMediumReader& R);
  // A frame counts in the chain only when a header or an ID3v1 tag follows it, which
  // the last frame of an untagged stream never has: its length when the header at
  // Total is valid and the whole frame can be read, else 0.
  uint32_t FinalFrame(TMediumReader& R);
  bool TagLength(TMediumReader& R, uint64_t At, uint64_t& Length);
  bool ReadHeader(TMediumReader& R, uint64_t At, uint8_t (&B)[4]);
};

} // namespace gf
