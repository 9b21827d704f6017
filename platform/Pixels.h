// Rows of device-independent bitmaps: their padded size and the pixels of 1, 4, 8 and
// 24 bits in them. Within a row, 1 bit per pixel puts the leftmost pixel in bit 7,
// 4 bits in the high nibble, 8 bits take one byte and 24 bits three: blue, green, red.
// No range tests: X is below the row's pixel count.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gf {

// Bytes per row padded to 4 bytes, in 64 bits (file sizes can be hostile).
constexpr int64_t RowBytes(int64_t Width, int64_t BitsPerPixel) {
  return ((Width * BitsPerPixel + 31) & ~int64_t{31}) / 8;
}

inline void SetPixel1(uint8_t* Row, int X, uint32_t Value) {
  const uint8_t bit = static_cast<uint8_t>(0x80 >> (X & 7));
  Row[X >> 3] = Value > 0 ? Row[X >> 3] | bit : Row[X >> 3] & ~bit;
}

// Only the low nibble of Value is stored, so the neighbouring pixel is never touched.
inline void SetPixel4(uint8_t* Row, int X, uint32_t Value) {
  uint8_t& b = Row[X >> 1];
  b = (X & 1) ? static_cast<uint8_t>((b & 0xF0) | (Value & 0x0F))
              : static_cast<uint8_t>((b & 0x0F) | ((Value & 0x0F) << 4));
}

inline void SetPixel8(uint8_t* Row, int X, uint32_t Value) {
  Row[X] = static_cast<uint8_t>(Value);
}

// Value is blue | green << 8 | red << 16.
inline void SetPixel24(uint8_t* Row, int X, uint32_t Value) {
  uint8_t* p = Row + 3 * static_cast<std::size_t>(X);
  p[0] = static_cast<uint8_t>(Value);
  p[1] = static_cast<uint8_t>(Value >> 8);
  p[2] = static_cast<uint8_t>(Value >> 16);
}

inline uint32_t GetPixel1(const uint8_t* Row, int X) {
  return (Row[X >> 3] >> (7 - (X & 7))) & 1;
}

inline uint32_t GetPixel4(const uint8_t* Row, int X) {
  return (X & 1) ? Row[X >> 1] & 0x0F : Row[X >> 1] >> 4;
}

inline uint32_t GetPixel8(const uint8_t* Row, int X) {
  return Row[X];
}

// Blue | green << 8 | red << 16; the top byte is 0.
inline uint32_t GetPixel24(const uint8_t* Row, int X) {
  const uint8_t* p = Row + 3 * static_cast<std::size_t>(X);
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16;
}

// The colour-table index of pixel X in a row of 1, 4 or 8 bits per pixel, and its setter.
inline uint32_t GetIndexPixel(const uint8_t* Row, int X, int BitCount) {
  return BitCount == 1 ? GetPixel1(Row, X) : BitCount == 4 ? GetPixel4(Row, X) : GetPixel8(Row, X);
}
inline void SetIndexPixel(uint8_t* Row, int X, int BitCount, uint32_t Index) {
  if (BitCount == 1)
    SetPixel1(Row, X, Index);
  else if (BitCount == 4)
    SetPixel4(Row, X, Index);
  else
    SetPixel8(Row, X, Index);
}

} // namespace gf
