// TIFF pictures of either byte order: measured by walking the chain of image file
// directories; the file ends after the highest byte any directory, entry,
// out-of-line value or image strip occupies.
#pragma once

#include "Recognizer.h"

#include <cstdint>
#include <vector>

namespace gf {

struct TStripSlot {
  uint32_t Offset = 0;   // 0 when not given
  int32_t ByteCount = 0; // 0 when not given, or when the file's value is 2^31 or more
};

class TTIFFRecognizer : public TRecognizer {
public:
  TTIFFRecognizer();
  std::string GetName() const override { return "TIF"; }
  // "II" or "MM", then 42 in that byte order.
  bool Check(TMedium& Medium) override;
  // Copies the measured length; false, to be carved, when it cannot be measured.
  bool Extract(TMedium& Medium, TStream& Stream) override;

  // The measured length, or 0. The medium is back at the header sector afterwards.
  uint32_t GetFileSize(TMedium& Medium);

  // Bounds against damaged directories, derived from MaxSize: no file shorter
  // than MaxSize can hold more 12-byte entries, more 2-byte strip values stored
  // out of line, or more strips with both their offset and byte-count tables.
  // Reaching one fails the measurement.
  uint32_t MaxEntries() const { return MaxSize / 12; }
  uint32_t MaxStripValues() const { return MaxSize / 2; }
  uint32_t MaxStrips() const { return MaxSize / 4; }

  std::vector<TStripSlot> Strips; // of the directory being walked
  bool LittleEndian = false;
  TMedium* Medium = nullptr; // of the current call; not owned
  uint32_t MaxExtent = 0;    // highest byte offset known to belong to the file
  uint32_t StartSector = 0;

private:
  struct TEntry {
    uint16_t Tag, Type;
    uint32_t Count, Value;
    uint8_t Raw[4]; // the value field as stored
  };

  uint16_t ToHost16(const uint8_t* P) const;
  uint32_t ToHost32(const uint8_t* P) const;
  bool ParseIFD(uint32_t Offset);
  bool ParseEntry(uint32_t EntryOffset);
  bool CollectStrips(const TEntry& Entry, bool Offsets);
  uint32_t ValueSize(const TEntry& Entry);
  void Extend(uint32_t X) {
    if (X > MaxExtent)
      MaxExtent = X;
  }
  // Once the extent reaches MaxSize the measurement has failed, whatever follows.
  bool Exceeded() const { return MaxExtent >= MaxSize; }
  bool Visit(uint32_t Offset);
  void ForgetVisits();

  uint32_t FEntries = 0;        // entries parsed in this measurement
  uint32_t FStripValues = 0;    // strip values read out of line in this measurement
  std::vector<uint32_t> FChain; // directories walked in this measurement
  std::vector<uint64_t> FSeen;  // bit per directory offset below MaxSize, for long chains
};

} // namespace gf
