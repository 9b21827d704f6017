// Fields written into seed files that the seed makers build byte by byte; a field
// past the end grows the file with zero bytes.
#pragma once

#include "ByteFixture.h"

#include <cstdint>
#include <vector>

namespace gf::test {

using Bytes = std::vector<uint8_t>;

// The N low bytes of V at At (N is 1, 2 or 4), least significant first.
inline void Le(Bytes& B, std::size_t At, uint32_t V, int N) {
  PutGrowing(B, At, V, N);
}

// The N low bytes of V at At (N is 1, 2 or 4), most significant first.
inline void Be(Bytes& B, std::size_t At, uint32_t V, int N) {
  PutGrowing(B, At, V, N, true);
}

} // namespace gf::test
