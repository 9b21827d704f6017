// MPEG program streams (MPEG-1 system and MPEG-2 program streams) that begin with a
// pack header, measured by walking from start code to start code to the end code.
#pragma once

#include "Recognizer.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace gf {

class TMPEGRecognizer : public TRecognizer {
public:
  TMPEGRecognizer();
  std::string GetName() const override { return "MPG"; }
  bool Check(TMedium& Medium) override;
  bool Extract(TMedium& Medium, TStream& Stream) override;
  void BeginScan() override;

  // Bit cursor over the bytes after StartSector, most significant bit first.
  void Align();
  bool GetBit(uint32_t& Bit);
  bool ReadBits(uint32_t N, uint32_t& Value);
  bool Skip(uint64_t Bytes, uint32_t Bits);

  // The walk: one start code per call.
  bool NextStartCode();
  bool ParseExtension();
  bool ScanForStartCode();

  TMedium* Medium = nullptr; // not owned
  uint32_t StartSector = 0;
  // 64 bits, so that a walk over a medium above 4 GiB never wraps back and loops.
  uint64_t ByteOffset = 0;
  uint32_t BitCount = 0; // bits of the cursor's byte already consumed, 0 to 8
  uint8_t CurrentByte = 0;
  uint32_t LastCode = 0;

  // Bound of the remembered walks below: slots of 8 bytes, a power of two, at most
  // half of them used; 2^21 slots are 16 MiB. A stream of 2 KiB packs needs about
  // one entry per KiB.
  std::size_t WalkMemoSlots = std::size_t{1} << 21;

private:
  enum class TSearch { Found, Missing, Unreadable };

  bool Start(TMedium& M);
  bool ReadByte(uint64_t Offset, uint8_t& B);
  // The first 00 00 01 that starts at From + t for t < Tries, reading bytes in order.
  TSearch FindPrefix(uint64_t From, uint64_t Tries, uint64_t& At);

  // Remembered walks. The walk after a start code found at a position depends on
  // nothing but that position and the bytes after it, so a walk that reaches a
  // prefix where an earlier walk of this scan also stood, and that earlier walk
  // failed, fails too. Without this, a stream without an end code (common: many
  // muxers leave it out) is walked again from every pack header that starts a
  // sector, which is quadratic in its length.
  bool Failed(uint64_t Position) const;
  void RememberFailed(const std::vector<uint64_t>& Positions, uint64_t Below);

  std::optional<TMediumReader> FReader;
  bool FWalking = false;          // Extract's walk, which records and consults
  bool FMerged = false;           // the walk met a failed one
  std::vector<uint64_t> FVisited; // prefixes of the walk in progress, absolute
  std::vector<uint64_t> FFailed;  // open-addressing set of absolute positions + 1
  std::size_t FFailedCount = 0;
  const TMedium* FMemoMedium = nullptr;
  uint32_t FMemoSectorSize = 0;
  uint32_t FLastExtract = 0;
};

} // namespace gf
