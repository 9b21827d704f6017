#include "ByteOrder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

using namespace gf;

TEST(ByteOrder, FieldsInBothOrders) {
  const uint8_t b[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(Le16(b), 0x3412);
  EXPECT_EQ(Be16(b), 0x1234);
  EXPECT_EQ(Le32(b), 0x78563412u);
  EXPECT_EQ(Be32(b), 0x12345678u);
  EXPECT_EQ(Get16(b, true), Be16(b));
  EXPECT_EQ(Get32(b, false), Le32(b));
  const uint8_t b8[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  EXPECT_EQ(Get64(b8, true), 0x0102030405060708u);
  EXPECT_EQ(Get64(b8, false), 0x0807060504030201u);

  // A 16-bit writer stores the low half only and leaves the next byte alone.
  uint8_t out[3] = {0, 0, 0xEE};
  PutLe16(out, 0xABCD1234);
  EXPECT_EQ(out[0], 0x34);
  EXPECT_EQ(out[1], 0x12);
  EXPECT_EQ(out[2], 0xEE);
  PutBe16(out, 0xABCD1234);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0x34);
  uint8_t out32[4];
  PutBe32(out32, 0x12345678);
  EXPECT_EQ(Be32(out32), 0x12345678u);
  PutLe32(out32, 0x12345678);
  EXPECT_EQ(Le32(out32), 0x12345678u);

  std::vector<uint8_t> v;
  AppendLe16(v, 0x0102);
  AppendLe32(v, 0x03040506);
  EXPECT_EQ(v, (std::vector<uint8_t>{0x02, 0x01, 0x06, 0x05, 0x04, 0x03}));
}

// Offsets and lengths as hostile headers give them: a check that adds them wraps
// around near SIZE_MAX and lets them through.
TEST(ByteOrder, BoundsCannotWrap) {
  struct {
    std::size_t Size, Offset, Length;
    bool Inside;
  } cases[] = {
      {8, 0, 4, true},
      {8, 4, 4, true},  // ends at the last byte
      {8, 5, 4, false}, // one byte past
      {8, 8, 0, true},  // empty, at the end
      {8, 9, 0, false}, // empty, past the end
      {0, 0, 0, true},
      {0, 0, 2, false},
      {8, SIZE_MAX, 4, false},     // Offset + Length wraps to 3
      {8, SIZE_MAX - 1, 2, false}, // wraps to 0
      {8, SIZE_MAX - 2, 4, false}, // wraps to 1
      {8, 2, SIZE_MAX, false},     // wraps to 1
      {8, 1, SIZE_MAX - 3, false}, // no wrap, far too long
      {SIZE_MAX, SIZE_MAX - 4, 4, true},
      {SIZE_MAX, SIZE_MAX - 3, 4, false},
      {SIZE_MAX, SIZE_MAX, 0, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(InBounds(c.Size, c.Offset, c.Length), c.Inside)
        << c.Size << " " << c.Offset << " " << c.Length;
}

// The checked reads and writes refuse what does not fit and touch nothing then.
TEST(ByteOrder, CheckedFieldsRefuseWhatDoesNotFit) {
  struct {
    std::size_t Offset;
    int Width;
    bool Fits;
  } cases[] = {
      {0, 2, true},
      {6, 2, true},
      {7, 2, false},
      {4, 4, true},
      {5, 4, false},
      {8, 2, false},
      {SIZE_MAX, 2, false},
      {SIZE_MAX - 1, 4, false},
      {SIZE_MAX - 3, 4, false},
  };
  for (const bool big : {false, true})
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << c.Offset << " " << c.Width << (big ? " big" : " little"));
      std::array<uint8_t, 8> bytes{};
      const std::array<uint8_t, 8> before = bytes;
      const bool put = c.Width == 2 ? TryPut16(bytes, c.Offset, big, 0xA1B2)
                                    : TryPut32(bytes, c.Offset, big, 0xA1B2C3D4);
      EXPECT_EQ(put, c.Fits);
      if (!c.Fits) {
        EXPECT_EQ(bytes, before);
      }
      uint16_t v16 = 7;
      uint32_t v32 = 7;
      const bool got =
          c.Width == 2 ? TryGet16(bytes, c.Offset, big, v16) : TryGet32(bytes, c.Offset, big, v32);
      EXPECT_EQ(got, c.Fits);
      if (c.Fits) {
        EXPECT_EQ(c.Width == 2 ? uint32_t{v16} : v32, c.Width == 2 ? 0xA1B2u : 0xA1B2C3D4u);
        const uint8_t first = big ? 0xA1 : c.Width == 2 ? 0xB2 : 0xD4;
        EXPECT_EQ(bytes[c.Offset], first);
      } else {
        EXPECT_EQ(v16, 7);
        EXPECT_EQ(v32, 7u);
      }
    }
}
