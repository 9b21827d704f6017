#include "DibGraphic.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace gf;

namespace {
struct TRgb {
  int R, G, B;
};
TRgb Entry(const TMaxLogPalette& P, int I) {
  return {P.palPalEntry[I].peRed, P.palPalEntry[I].peGreen, P.palPalEntry[I].peBlue};
}
} // namespace

// Values taken from the published CGA/EGA and VGA default palettes (and the three
// entries this library is known to hold differently), not from the code's tables.
TEST(DefaultPalettes, SpotChecks) {
  struct TCase {
    TImageFormat Format;
    int Count, Index;
    TRgb Rgb;
  };
  const TCase cases[] = {
      {ifBlackWhite, 2, 0, {0, 0, 0}},        {ifBlackWhite, 2, 1, {255, 255, 255}},
      {ifGray16, 16, 1, {17, 17, 17}},        {ifGray16, 16, 15, {255, 255, 255}},
      {ifGray256, 256, 200, {200, 200, 200}}, {ifColor16, 16, 1, {0, 0, 170}},
      {ifColor16, 16, 4, {170, 0, 0}},        {ifColor16, 16, 6, {170, 85, 0}},
      {ifColor16, 16, 7, {170, 170, 170}},    {ifColor16, 16, 8, {85, 85, 85}},
      {ifColor16, 16, 12, {255, 85, 85}},     {ifColor16, 16, 14, {255, 255, 85}},
      {ifColor256, 256, 6, {170, 85, 0}},     {ifColor256, 256, 17, {20, 20, 20}},
      {ifColor256, 256, 23, {97, 97, 97}},    {ifColor256, 256, 29, {203, 203, 203}},
      {ifColor256, 256, 30, {227, 179, 179}}, {ifColor256, 256, 31, {255, 255, 255}},
      {ifColor256, 256, 32, {0, 0, 255}},     {ifColor256, 256, 36, {255, 0, 255}},
      {ifColor256, 256, 40, {255, 0, 0}},     {ifColor256, 256, 44, {255, 255, 0}},
      {ifColor256, 256, 48, {0, 255, 0}},     {ifColor256, 256, 52, {0, 255, 255}},
      {ifColor256, 256, 56, {125, 125, 255}}, {ifColor256, 256, 85, {223, 182, 235}},
      {ifColor256, 256, 84, {255, 182, 255}}, {ifColor256, 256, 96, {182, 223, 182}},
      {ifColor256, 256, 104, {0, 0, 113}},    {ifColor256, 256, 176, {0, 0, 65}},
      {ifColor256, 256, 247, {44, 48, 65}},   {ifColor256, 256, 248, {0, 0, 0}},
      {ifColor256, 256, 255, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << int(c.Format) << " entry " << c.Index);
    const TMaxLogPalette& p = DefaultPalette(c.Format);
    EXPECT_EQ(p.palVersion, 0x300);
    EXPECT_EQ(p.palNumEntries, c.Count);
    const TRgb e = Entry(p, c.Index);
    EXPECT_EQ(e.R, c.Rgb.R);
    EXPECT_EQ(e.G, c.Rgb.G);
    EXPECT_EQ(e.B, c.Rgb.B);
    EXPECT_EQ(p.palPalEntry[c.Index].peFlags, 0);
  }
  EXPECT_THROW(DefaultPalette(ifTrueColor), EQuorvaneError);
  EXPECT_EQ(LogPaletteSize(16), 68);
}

TEST(Converter, NearestExactTieAndCache) {
  TRgbToPaletteConverter conv(DefaultPalette(ifColor16));
  EXPECT_EQ(conv.NearestIndex(0x00AA0000), 4); // exact dark red
  EXPECT_EQ(conv.NearestIndex(0x00FF0000), 4); // 7225 from dark red, 14450 from light red
  EXPECT_EQ(conv.Misses, 2u);
  EXPECT_EQ(conv.Hits, 0u);
  EXPECT_EQ(conv.NearestIndex(0x00FF0000), 4);
  EXPECT_EQ(conv.Hits, 1u);

  // Keys 1020 apart share a slot: A, B, A are three misses.
  TRgbToPaletteConverter shared(DefaultPalette(ifGray256));
  const TColor a = 0x00101010, b = a + 1020;
  shared.NearestIndex(a);
  shared.NearestIndex(b);
  shared.NearestIndex(a);
  EXPECT_EQ(shared.Misses, 3u);
  EXPECT_EQ(shared.Hits, 0u);

  TMaxLogPalette twice{};
  twice.palNumEntries = 3;
  twice.palPalEntry[0] = {0, 0, 0, 0};
  twice.palPalEntry[1] = {85, 85, 85, 0};
  twice.palPalEntry[2] = {85, 85, 85, 0};
  TRgbToPaletteConverter tie(twice);
  EXPECT_EQ(tie.NearestIndex(RGBToColor(85, 85, 85)), 1);
  // Equal distance to two different entries: the lower index wins.
  twice.palPalEntry[2] = {20, 20, 20, 0};
  TRgbToPaletteConverter tie2(twice);
  EXPECT_EQ(tie2.NearestIndex(RGBToColor(10, 10, 10)), 0);

  TMaxLogPalette empty{};
  TRgbToPaletteConverter none(empty);
  EXPECT_EQ(none.NearestIndex(0x00123456), 0);
}

TEST(PixelRoutines, BitNibbleAndByteOrder) {
  uint8_t row[8] = {};
  SetPixel1(row, 9, 1);
  EXPECT_EQ(row[1], 0x40); // bit 6 of byte 1
  EXPECT_EQ(GetPixel1(row, 9), 1u);
  SetPixel1(row, 9, 0);
  EXPECT_EQ(row[1], 0);
  SetPixel1(row, 0, 7);
  EXPECT_EQ(row[0], 0x80);

  std::memset(row, 0, sizeof row);
  SetPixel4(row, 3, 0xA);
  EXPECT_EQ(row[1], 0x0A); // low nibble of byte 1
  SetPixel4(row, 2, 0x5);
  EXPECT_EQ(row[1], 0x5A);
  EXPECT_EQ(GetPixel4(row, 2), 5u);
  EXPECT_EQ(GetPixel4(row, 3), 10u);
  SetPixel4(row, 3, 0xFF); // out of range: the neighbour stays
  EXPECT_EQ(row[1], 0x5F);

  std::memset(row, 0, sizeof row);
  SetPixel24(row, 0, RGBToColor(0x11, 0x22, 0x33));
  EXPECT_EQ(row[0], 0x33);
  EXPECT_EQ(row[1], 0x22);
  EXPECT_EQ(row[2], 0x11);
  EXPECT_EQ(GetPixel24(row, 0), 0x00112233u);
  SetPixel8(row, 5, 0x1FE);
  EXPECT_EQ(GetPixel8(row, 5), 0xFEu);

  const TPixelSetter setters[6] = {SetPixel1, SetPixel4, SetPixel8,
                                   SetPixel4, SetPixel8, SetPixel24};
  const TPixelGetter getters[6] = {GetPixel1, GetPixel4, GetPixel8,
                                   GetPixel4, GetPixel8, GetPixel24};
  for (int f = 0; f < 6; ++f) {
    EXPECT_EQ(PixelSetters[f], setters[f]);
    EXPECT_EQ(PixelGetters[f], getters[f]);
  }
}

TEST(SwapRedBlue, WholeGroupsOnly) {
  uint8_t b[7] = {1, 2, 3, 4, 5, 6, 7};
  SwapRedBlue(b, 7);
  const uint8_t want[7] = {3, 2, 1, 6, 5, 4, 7};
  EXPECT_EQ(0, std::memcmp(b, want, 7));
  EXPECT_DOUBLE_EQ(ScreenGamma, 2.2);
}
