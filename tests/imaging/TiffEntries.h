// One entry of a TIFF's directory, in either byte order, classic or BigTIFF, for
// tests that move a tag's value or change its count.
#pragma once

#include "ByteFixture.h"

#include <tiffio.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace gf::test {

class TTiffEntry {
public:
  // The entry of Tag in directory Page (0 the first); throws when it has none.
  TTiffEntry(std::vector<uint8_t>& Tiff, uint16_t Tag, int Page = 0) : FTiff(Tiff) {
    if (Tiff.size() < 16 || (Tiff[0] != 'I' && Tiff[0] != 'M'))
      throw std::invalid_argument("not a TIFF");
    FBigEndian = Tiff[0] == 'M';
    FBig = Get(2, 2) == 43;
    const int countBytes = FBig ? 8 : 2, offsetBytes = FBig ? 8 : 4;
    const std::size_t entryBytes = FBig ? 20 : 12;
    uint64_t dir = Get(FBig ? 8 : 4, offsetBytes);
    for (int p = 0; p < Page; ++p)
      dir = Get(dir + countBytes + Get(dir, countBytes) * entryBytes, offsetBytes);
    const uint64_t n = Get(dir, countBytes);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t at = dir + countBytes + i * entryBytes;
      if (Get(at, 2) == Tag) {
        FAt = at;
        return;
      }
    }
    throw std::invalid_argument("no such tag in the directory");
  }

  uint64_t Count() const { return Get(FAt + 4, FBig ? 8 : 4); }
  void SetCount(uint64_t V) { Put(FAt + 4, FBig ? 8 : 4, V); }
  // True when the value does not fit in the entry and lies at Offset().
  bool OutOfLine() const {
    const auto width =
        static_cast<uint64_t>(TIFFDataWidth(static_cast<TIFFDataType>(Get(FAt + 2, 2))));
    return Count() * width > (FBig ? 8u : 4u);
  }
  uint64_t Offset() const { return Get(FAt + (FBig ? 12 : 8), FBig ? 8 : 4); }
  void SetOffset(uint64_t V) { Put(FAt + (FBig ? 12 : 8), FBig ? 8 : 4, V); }

private:
  uint64_t Get(std::size_t At, int Bytes) const {
    if (!InBounds(FTiff.size(), At, static_cast<std::size_t>(Bytes)))
      throw std::out_of_range("field past the end of the TIFF");
    const uint8_t* p = FTiff.data() + At;
    return Bytes == 2   ? Get16(p, FBigEndian)
           : Bytes == 4 ? Get32(p, FBigEndian)
                        : Get64(p, FBigEndian);
  }
  void Put(std::size_t At, int Bytes, uint64_t V) {
    if (Bytes == 4)
      Put32(FTiff, At, static_cast<uint32_t>(V), FBigEndian);
    else
      Put64(FTiff, At, V, FBigEndian);
  }

  std::vector<uint8_t>& FTiff;
  bool FBigEndian = false, FBig = false;
  std::size_t FAt = 0;
};

} // namespace gf::test
