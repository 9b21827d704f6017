// Fixed-width fields of file formats and device records in either byte order.
//
// The plain forms read and write at a pointer whose range the caller has already
// checked. The Try forms check the range themselves, for offsets and sizes that come
// from the bytes being read: Offset <= Size, then Length <= Size - Offset, so no sum
// is formed that could wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gf {

// True when Length bytes starting at Offset lie inside Size bytes.
constexpr bool InBounds(std::size_t Size, std::size_t Offset, std::size_t Length) {
  return Offset <= Size && Length <= Size - Offset;
}

constexpr uint16_t Le16(const uint8_t* B) {
  return static_cast<uint16_t>(B[0] | B[1] << 8);
}
constexpr uint32_t Le32(const uint8_t* B) {
  return uint32_t{B[0]} | uint32_t{B[1]} << 8 | uint32_t{B[2]} << 16 | uint32_t{B[3]} << 24;
}
constexpr uint16_t Be16(const uint8_t* B) {
  return static_cast<uint16_t>(B[0] << 8 | B[1]);
}
constexpr uint32_t Be32(const uint8_t* B) {
  return uint32_t{B[0]} << 24 | uint32_t{B[1]} << 16 | uint32_t{B[2]} << 8 | B[3];
}
// In the byte order a file names for itself (TIFF's "II"/"MM", RIFF's "RIFF"/"RIFX").
constexpr uint16_t Get16(const uint8_t* B, bool BigEndian) {
  return BigEndian ? Be16(B) : Le16(B);
}
constexpr uint32_t Get32(const uint8_t* B, bool BigEndian) {
  return BigEndian ? Be32(B) : Le32(B);
}
constexpr uint64_t Get64(const uint8_t* B, bool BigEndian) {
  return BigEndian ? uint64_t{Be32(B)} << 32 | Be32(B + 4) : uint64_t{Le32(B + 4)} << 32 | Le32(B);
}

// The writers store the low 16 or all 32 bits of V.
constexpr void PutLe16(uint8_t* B, uint32_t V) {
  B[0] = static_cast<uint8_t>(V);
  B[1] = static_cast<uint8_t>(V >> 8);
}
constexpr void PutLe32(uint8_t* B, uint32_t V) {
  PutLe16(B, V);
  PutLe16(B + 2, V >> 16);
}
constexpr void PutBe16(uint8_t* B, uint32_t V) {
  B[0] = static_cast<uint8_t>(V >> 8);
  B[1] = static_cast<uint8_t>(V);
}
constexpr void PutBe32(uint8_t* B, uint32_t V) {
  PutBe16(B, V >> 16);
  PutBe16(B + 2, V);
}

// Adds a little-endian field at the end of Out.
inline void AppendLe16(std::vector<uint8_t>& Out, uint32_t V) {
  const uint8_t b[2] = {static_cast<uint8_t>(V), static_cast<uint8_t>(V >> 8)};
  Out.insert(Out.end(), b, b + 2);
}
inline void AppendLe32(std::vector<uint8_t>& Out, uint32_t V) {
  AppendLe16(Out, V);
  AppendLe16(Out, V >> 16);
}

// False, with Value or Bytes left as they were, when the field does not lie inside Bytes.
[[nodiscard]] constexpr bool TryGet16(std::span<const uint8_t> Bytes, std::size_t Offset,
                                      bool BigEndian, uint16_t& Value) {
  if (!InBounds(Bytes.size(), Offset, 2))
    return false;
  Value = Get16(Bytes.data() + Offset, BigEndian);
  return true;
}
[[nodiscard]] constexpr bool TryGet32(std::span<const uint8_t> Bytes, std::size_t Offset,
                                      bool BigEndian, uint32_t& Value) {
  if (!InBounds(Bytes.size(), Offset, 4))
    return false;
  Value = Get32(Bytes.data() + Offset, BigEndian);
  return true;
}
[[nodiscard]] constexpr bool TryPut16(std::span<uint8_t> Bytes, std::size_t Offset, bool BigEndian,
                                      uint32_t Value) {
  if (!InBounds(Bytes.size(), Offset, 2))
    return false;
  BigEndian ? PutBe16(Bytes.data() + Offset, Value) : PutLe16(Bytes.data() + Offset, Value);
  return true;
}
[[nodiscard]] constexpr bool TryPut32(std::span<uint8_t> Bytes, std::size_t Offset, bool BigEndian,
                                      uint32_t Value) {
  if (!InBounds(Bytes.size(), Offset, 4))
    return false;
  BigEndian ? PutBe32(Bytes.data() + Offset, Value) : PutLe32(Bytes.data() + Offset, Value);
  return true;
}

} // namespace gf
