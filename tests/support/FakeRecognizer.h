// A recognizer for tests: a file starts where a sector begins with its magic text;
// with a length it measures the file, without one the scanner carves.
#pragma once

#include "Recognizer.h"

#include <cstring>
#include <string>

namespace gf::test {

class TFakeRecognizer : public TRecognizer {
public:
  TFakeRecognizer(std::string Name, std::string Magic, uint32_t Length = 0, uint32_t Max = 102400)
      : FName(std::move(Name)), FMagic(std::move(Magic)), FLength(Length) {
    MaxSize = Max;
  }
  std::string GetName() const override { return FName; }
  bool Check(TMedium& M) override {
    ++Checks;
    std::string head(FMagic.size(), '\0');
    return ReadBytes(M, M.GetPosition(), 0, static_cast<uint32_t>(head.size()), head.data()) &&
           head == FMagic;
  }
  bool Extract(TMedium& M, TStream& S) override {
    if (!Measure)
      return false;
    return CopyToStream(M, S, FLength);
  }
  bool Measure = false;
  int Checks = 0;

private:
  std::string FName, FMagic;
  uint32_t FLength;
};

// Writes Text at the start of sector Sector of a 512-byte-sector image.
inline void Put(std::vector<uint8_t>& Image, uint32_t Sector, const std::string& Text,
                uint32_t SectorSize = 512) {
  std::memcpy(Image.data() + static_cast<std::size_t>(Sector) * SectorSize, Text.data(),
              Text.size());
}

} // namespace gf::test
