// Writing fields into byte fixtures built in tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace gf::test {

// Little-endian fields.
inline void Put16(std::vector<uint8_t>& B, std::size_t At, uint32_t V) {
  B.at(At) = static_cast<uint8_t>(V);
  B.at(At + 1) = static_cast<uint8_t>(V >> 8);
}
inline void Put32(std::vector<uint8_t>& B, std::size_t At, uint32_t V) {
  Put16(B, At, V & 0xFFFF);
  Put16(B, At + 2, V >> 16);
}
// A big-endian field.
inline void PutBe32(std::vector<uint8_t>& B, std::size_t At, uint32_t V) {
  for (std::size_t i = 0; i < 4; ++i)
    B.at(At + i) = static_cast<uint8_t>(V >> (24 - 8 * i));
}
inline void PutText(std::vector<uint8_t>& B, std::size_t At, std::string_view S) {
  std::memcpy(B.data() + At, S.data(), S.size());
}

} // namespace gf::test
