#include "DibGraphic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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

// The whole VGA default palette, built from its published structure in 6-bit levels:
// the 16 colours, a grey ramp, then nine runs of 24 hues (blue, magenta, red, yellow,
// green, cyan and back) for three intensities at three saturations, then black.
TEST(DefaultPalettes, TheWholeVgaTable) {
  std::vector<TRgb> vga;
  for (int i = 0; i < 16; ++i) {
    const int hi = i >= 8 ? 21 : 0, on = 42;
    TRgb c{(i & 4 ? on : 0) + hi, (i & 2 ? on : 0) + hi, (i & 1 ? on : 0) + hi};
    if (i == 6)
      c.G = 21; // brown, not dark yellow
    vga.push_back(c);
  }
  for (int v : {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63})
    vga.push_back({v, v, v});
  // Per run: the low level, then the three levels between it and the high one.
  struct TRun {
    int Low, Mid1, Mid2, Mid3, High;
  };
  const TRun runs[] = {{0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
                       {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
                       {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16}};
  for (const TRun& r : runs) {
    const int up[5] = {r.Low, r.Mid1, r.Mid2, r.Mid3, r.High};
    for (int k = 0; k < 4; ++k) // red rises under blue
      vga.push_back({up[k], r.Low, r.High});
    for (int k = 4; k > 0; --k) // blue falls under red
      vga.push_back({r.High, r.Low, up[k]});
    for (int k = 0; k < 4; ++k) // green rises under red
      vga.push_back({r.High, up[k], r.Low});
    for (int k = 4; k > 0; --k) // red falls under green
      vga.push_back({up[k], r.High, r.Low});
    for (int k = 0; k < 4; ++k) // blue rises under green
      vga.push_back({r.Low, r.High, up[k]});
    for (int k = 4; k > 0; --k) // green falls under blue
      vga.push_back({r.Low, up[k], r.High});
  }
  while (vga.size() < 256)
    vga.push_back({0, 0, 0});
  ASSERT_EQ(vga.size(), 256u);
  auto widen = [](int V) { return V * 4 + V / 16; };
  for (TRgb& c : vga)
    c = {widen(c.R), widen(c.G), widen(c.B)};
  // The three entries this library holds differently.
  vga[30] = {227, 179, 179};
  vga[85] = {223, 182, 235};
  vga[96] = {182, 223, 182};

  const TMaxLogPalette& p = DefaultPalette(ifColor256);
  ASSERT_EQ(p.palNumEntries, 256);
  for (int i = 0; i < 256; ++i) {
    const TRgb e = Entry(p, i);
    EXPECT_TRUE(e.R == vga[i].R && e.G == vga[i].G && e.B == vga[i].B)
        << "entry " << i << ": " << e.R << "," << e.G << "," << e.B << " != " << vga[i].R << ","
        << vga[i].G << "," << vga[i].B;
    EXPECT_EQ(p.palPalEntry[i].peFlags, 0) << i;
  }
  // The 16-colour palette is the same as the first 16 entries.
  const TMaxLogPalette& p16 = DefaultPalette(ifColor16);
  ASSERT_EQ(p16.palNumEntries, 16);
  EXPECT_EQ(std::memcmp(p16.palPalEntry, p.palPalEntry, 16 * sizeof(TPaletteEntry)), 0);
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
