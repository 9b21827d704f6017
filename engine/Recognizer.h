// The recognizer interface and the ordered registry of recognizers.
//
// Contract of a recognizer, as the scanner uses it (worker thread only):
//   GetName  the type key: the upper-case extension files of this format get.
//   Check    does a file of this format start at the medium's current sector? May
//            read anywhere and move the position; FindRecognizer puts it back. May
//            keep what it found for the Extract that follows.
//   Extract  called right after a successful Check, medium at the header sector and
//            a fresh stream at position 0. True: the whole file is in the stream
//            and the stream's position is its length. False: the end is unknown and
//            the scanner carves.
//   ContinuesCarve  while its carve is pending: does the sector at hand belong to it?
#pragma once

#include "ByteOrder.h"
#include "Drives.h"
#include "Streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gf {

class TRecognizer {
public:
  TRecognizer() = default;
  virtual ~TRecognizer() = default;
  TRecognizer(const TRecognizer&) = delete;
  TRecognizer& operator=(const TRecognizer&) = delete;

  virtual std::string GetName() const = 0;
  virtual bool Check(TMedium& Medium) = 0;
  virtual bool Extract(TMedium& Medium, TStream& Stream);
  // Called by the scanner before the first sector of every scan. A recognizer that
  // remembers what it learnt about a medium from one sector to the next forgets it
  // here, so nothing passes from one scan (or one medium) to the next.
  virtual void BeginScan() {}
  // Asked by the scanner at each sector while this recognizer's carve is pending and
  // below MaxSize, before any recognizer is tried there: true when this recognizer
  // already knows the sector to be part of the file being carved, which then goes on
  // through it instead of a new file starting there. Must leave the medium at its
  // sector.
  virtual bool ContinuesCarve(TMedium& Medium) {
    (void)Medium;
    return false;
  }

  // The size limit of this recognizer's files, in bytes.
  uint32_t MaxSize = 102400;

  // Three ways to read the medium:
  //   HeaderBytes    the first bytes of the current sector, for the header test that
  //                  runs at every sector: no copy when the sector holds them.
  //   ReadBytes      a copy of bytes at a 32-bit offset from a base sector: the walks
  //                  whose offsets the format itself keeps in 32 bits (TIFF, PNG,
  //                  JPEG, CRW), where a sum that wraps is part of the measurement.
  //   TMediumReader  bytes at 64-bit offsets, lent from the cache: long walks whose
  //                  sums must never wrap (MPEG, RIFF, MOV, MP3).
  // Copies Count bytes starting ByteOffset bytes after the start of BaseSector
  // (the offset may exceed a sector) into Buffer. False, with a log line, when a
  // sector on the way has no data; what was copied before stays in Buffer.
  static bool ReadBytes(TMedium& Medium, uint32_t BaseSector, uint32_t ByteOffset, uint32_t Count,
                        void* Buffer);
  // Writes Count bytes, at most MaxSize, from the start of the current sector on.
  // True with the medium one sector past the last one copied; False, with a log
  // line and the medium back at its start sector, when a sector has no data.
  bool CopyToStream(TMedium& Medium, TStream& Stream, uint32_t Count) const;
  // The first Count bytes of the current sector, for header tests: a pointer into
  // the medium's cache when the sector holds them, else a copy in Scratch (Count
  // bytes) read across the following sectors. Null, silently, when the current
  // sector has no data. The medium stays at its sector.
  static const uint8_t* HeaderBytes(TMedium& Medium, uint32_t Count, uint8_t* Scratch) {
    const uint8_t* data = Medium.GetData();
    if (!data || Medium.SectorSize() >= Count)
      return data;
    return HeaderBytesAcross(Medium, Count, Scratch);
  }

private:
  // HeaderBytes of more bytes than a sector holds.
  static const uint8_t* HeaderBytesAcross(TMedium& Medium, uint32_t Count, uint8_t* Scratch);
};

// Reads a medium relative to a base sector, as ReadBytes does, but lends pointers
// into the medium's cached sector instead of copying: the fast way for a Check that
// runs at every sector. Offsets are 64-bit, so no sum of sizes wraps around. A lent
// pointer is valid until the medium moves to another block (any call on this
// reader, ReadBytes or CopyToStream may do that).
class TMediumReader {
public:
  TMediumReader(TMedium& Medium, uint32_t BaseSector)
      : FMedium(Medium), FBase(BaseSector), FSectorSize(Medium.SectorSize()) {}

  // The bytes from Offset to the end of their sector, with their count in Avail
  // (at least 1). Null, after ReadBytes' log line, when that sector has no data.
  const uint8_t* Peek(uint64_t Offset, uint32_t& Avail);
  // Count bytes at Offset, across sectors, into Buffer; false, after the log line,
  // when a sector on the way has no data.
  bool Read(uint64_t Offset, uint32_t Count, void* Buffer);
  bool Byte(uint64_t Offset, uint8_t& B) {
    uint32_t avail;
    const uint8_t* p = Peek(Offset, avail);
    if (p)
      B = *p;
    return p != nullptr;
  }
  // Writes Count bytes at Offset to Stream straight from the cached sectors. False,
  // after the log line, when a sector has no data; what came before it is written.
  bool CopyTo(TStream& Stream, uint64_t Offset, uint64_t Count);

  TMedium& Medium() const { return FMedium; }
  uint32_t BaseSector() const { return FBase; }

private:
  TMedium& FMedium;
  uint32_t FBase;
  uint32_t FSectorSize;
  // The sector last looked up, so that a run of reads inside it needs no division.
  uint64_t FSector = UINT64_MAX;
  uint64_t FSectorStart = 0; // its offset from the base
};

class TRecognizers {
public:
  TRecognizers() = default;
  ~TRecognizers();
  TRecognizers(const TRecognizers&) = delete;
  TRecognizers& operator=(const TRecognizers&) = delete;

  // Appends a recognizer; the registry owns it. Refuses (throws) an empty or a duplicate type key.
  void Register(std::unique_ptr<TRecognizer> Recognizer);
  int Count() const { return static_cast<int>(FItems.size()); }
  TRecognizer* GetItem(int Index) const { return FItems.at(static_cast<std::size_t>(Index)).get(); }
  // The first recognizer in registration order whose Check succeeds at the current
  // sector, or null. The medium stands at the same sector before every Check and after.
  TRecognizer* FindRecognizer(TMedium& Medium) const;
  // The same; AtWork names each recognizer while its Check runs, so that a caller
  // that catches an error from a Check knows whose it was. Null once it returns.
  TRecognizer* FindRecognizer(TMedium& Medium, TRecognizer*& AtWork) const;

private:
  std::vector<std::unique_ptr<TRecognizer>> FItems;
};

// The process-wide registry, filled in trial order by RegisterRecognizers.
TRecognizers& Recognizers();

// Registers every built-in recognizer in trial order, once; later calls do nothing.
void RegisterRecognizers();
// Fills Registry with fresh instances of every built-in recognizer in trial order.
void RegisterBuiltinRecognizers(TRecognizers& Registry);

uint32_t SwapBytes32(uint32_t V);

} // namespace gf
