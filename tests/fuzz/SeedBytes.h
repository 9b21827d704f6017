// Fields written into seed files that the seed makers build byte by byte; a field
// past the end grows the file with zero bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace gf::test {

using Bytes = std::vector<uint8_t>;

// The N low bytes of V at At, least significant first.
inline void Le(Bytes& B, std::size_t At, uint32_t V, int N) {
  if (B.size() < At + static_cast<std::size_t>(N))
    B.resize(At + static_cast<std::size_t>(N), 0);
  for (int i = 0; i < N; ++i)
    B[At + static_cast<std::size_t>(i)] = static_cast<uint8_t>(V >> (8 * i));
}

// The N low bytes of V at At, most significant first.
inline void Be(Bytes& B, std::size_t At, uint32_t V, int N) {
  if (B.size() < At + static_cast<std::size_t>(N))
    B.resize(At + static_cast<std::size_t>(N), 0);
  for (int i = 0; i < N; ++i)
    B[At + static_cast<std::size_t>(i)] = static_cast<uint8_t>(V >> (8 * (N - 1 - i)));
}

} // namespace gf::test
