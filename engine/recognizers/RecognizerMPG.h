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
  // A sector that starts at a start code which a failed walk of this scan stood on
  // belongs to that walk's stream, whose carve it continues.
  bool ContinuesCarve(TMedium& Medium) override;

  // Bit cursor over the bytes after StartSector, most significant bit first.
  void Align();
  bool GetBit(uint32_t& Bit);
  bool ReadBits(uint32_t N, uint32_t& Value);
  bool Skip(uint64_t Bytes, uint32_t Bits);

  // The walk: one start code per call.
  bool NextStartCode();
  bool ParseExtension();
  bool ScanForStartCode();
  // At a pack header, cursor after its code: whether its clock and version show the
  // start of another stream than the packs before it in this walk.
  bool StartsAnotherStream();

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

  // Remembered walks: the start codes that the failed walks of this scan stood on.
  // A stream without an end code (common: many muxers leave it out, DVD title files
  // never have one) fails its walk and is carved; every pack header inside it that
  // starts a sector would pass Check, end the carve and start a new file. The pack
  // headers the walk passed over continue the carve instead (ContinuesCarve), so the
  // stream comes out whole. And since the walk after a start code depends on nothing
  // but its position and the bytes after it, a walk that reaches a start code an
  // earlier failed walk stood on fails too, so each stream is walked once and the
  // scan stays linear.
  bool Failed(uint64_t Position) const;
  void RememberFailed(const std::vector<uint64_t>& Positions, uint64_t Below);

  uint32_t FPackKind = 0;       // of the walk's last pack header: 1 MPEG-1, 2 MPEG-2, 0 none yet
  uint64_t FLastScr = 0;        // its system clock reference
  std::size_t FPackVisited = 0; // FVisited's size when the walk accepted that pack
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
