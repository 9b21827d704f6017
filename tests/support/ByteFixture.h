// Writing fields into byte fixtures built in tests.
#pragma once

#include "ByteOrder.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace gf::test {

// A field that does not fit in the fixture is a mistake of the test: it throws.
inline void Put16(std::vector<uint8_t>& B, std::size_t At, uint32_t V, bool BigEndian = false) {
  if (!TryPut16(B, At, BigEndian, V))
    throw std::out_of_range("16-bit field past the end of the fixture");
}
inline void Put32(std::vector<uint8_t>& B, std::size_t At, uint32_t V, bool BigEndian = false) {
  if (!TryPut32(B, At, BigEndian, V))
    throw std::out_of_range("32-bit field past the end of the fixture");
}
inline void Put64(std::vector<uint8_t>& B, std::size_t At, uint64_t V, bool BigEndian = false) {
  Put32(B, At + (BigEndian ? 4 : 0), static_cast<uint32_t>(V), BigEndian);
  Put32(B, At + (BigEndian ? 0 : 4), static_cast<uint32_t>(V >> 32), BigEndian);
}
inline void PutBe32(std::vector<uint8_t>& B, std::size_t At, uint32_t V) {
  Put32(B, At, V, true);
}
// A field of Width bytes (1, 2 or 4) at At; one past the end first grows B with zero bytes.
inline void PutGrowing(std::vector<uint8_t>& B, std::size_t At, uint32_t V, int Width,
                       bool BigEndian = false) {
  const auto width = static_cast<std::size_t>(Width);
  if (!InBounds(B.size(), At, width))
    B.resize(At + width, 0);
  switch (Width) {
  case 1:
    B[At] = static_cast<uint8_t>(V);
    break;
  case 2:
    Put16(B, At, V, BigEndian);
    break;
  case 4:
    Put32(B, At, V, BigEndian);
    break;
  default:
    throw std::invalid_argument("fields are 1, 2 or 4 bytes wide");
  }
}
inline void PutText(std::vector<uint8_t>& B, std::size_t At, std::string_view S) {
  std::memcpy(B.data() + At, S.data(), S.size());
}

} // namespace gf::test
