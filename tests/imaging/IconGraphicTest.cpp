#include "IconGraphic.h"
#include "ByteOrder.h"
#include "DibGraphic.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace gf;
using namespace gf::test;

namespace {

// A 2 x 2 icon file: top left red and opaque, top right masked, bottom row green
// (left) and blue (right). 32-bit icons carry alpha 255, 0, 128, 255 instead.
std::vector<uint8_t> MakeIcon(int Bits) {
  const int w = 2, h = 2;
  std::vector<uint8_t> img;
  AppendLe32(img, 40);
  AppendLe32(img, w);
  AppendLe32(img, 2 * h);
  AppendLe16(img, 1);
  AppendLe16(img, static_cast<unsigned>(Bits));
  for (int i = 0; i < 6; ++i)
    AppendLe32(img, 0);
  // Palette (when any): 0 black, 1 red, 2 green, 3 blue.
  const uint8_t quads[4][4] = {{0, 0, 0, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
  const int colours = Bits <= 8 ? 1 << Bits : 0;
  for (int i = 0; i < colours; ++i)
    for (int k = 0; k < 4; ++k)
      img.push_back(i < 4 ? quads[i][k] : 0);
  // Indices per pixel, top row first; masked pixel is black (index 0).
  const int index[2][2] = {{1, 0}, {2, 3}};
  const uint8_t alpha[2][2] = {{255, 0}, {128, 255}};
  const std::size_t row = static_cast<std::size_t>(RowBytes(w, Bits));
  for (int y = h - 1; y >= 0; --y) { // bottom-up
    std::vector<uint8_t> r(row, 0);
    for (int x = 0; x < w; ++x) {
      int i = index[y][x];
      if (Bits == 1)
        i = i ? 1 : 0; // a 1-bit icon: red stands for "set"
      if (Bits == 1)
        r[0] = static_cast<uint8_t>(r[0] | (i << (7 - x)));
      else if (Bits == 4)
        r[0] = static_cast<uint8_t>(r[0] | (i << (x ? 0 : 4)));
      else if (Bits == 8)
        r[static_cast<std::size_t>(x)] = static_cast<uint8_t>(i);
      else {
        const std::size_t at = static_cast<std::size_t>(x * (Bits / 8));
        std::memcpy(&r[at], quads[i], 3);
        if (Bits == 32)
          r[at + 3] = alpha[y][x];
      }
    }
    img.insert(img.end(), r.begin(), r.end());
  }
  for (int y = h - 1; y >= 0; --y) { // mask: top right transparent
    std::vector<uint8_t> r(4, 0);
    if (y == 0)
      r[0] = 0x40;
    img.insert(img.end(), r.begin(), r.end());
  }
  std::vector<uint8_t> file;
  AppendLe16(file, 0);
  AppendLe16(file, 1);
  AppendLe16(file, 1);
  file.push_back(static_cast<uint8_t>(w));
  file.push_back(static_cast<uint8_t>(h));
  file.push_back(0);
  file.push_back(0);
  AppendLe16(file, 1);
  AppendLe16(file, static_cast<unsigned>(Bits));
  AppendLe32(file, static_cast<uint32_t>(img.size()));
  AppendLe32(file, 22);
  file.insert(file.end(), img.begin(), img.end());
  return file;
}

} // namespace

TEST(IconGraphic, ReadsEachBitDepthWithItsMask) {
  struct TCase {
    int Bits;
    TColor TopLeft, BottomLeft, BottomRight;
  };
  const TCase cases[] = {
      {1, RGBToColor(255, 0, 0), RGBToColor(255, 0, 0), RGBToColor(255, 0, 0)},
      {4, RGBToColor(255, 0, 0), RGBToColor(0, 255, 0), RGBToColor(0, 0, 255)},
      {8, RGBToColor(255, 0, 0), RGBToColor(0, 255, 0), RGBToColor(0, 0, 255)},
      {24, RGBToColor(255, 0, 0), RGBToColor(0, 255, 0), RGBToColor(0, 0, 255)},
      {32, RGBToColor(255, 0, 0), RGBToColor(0, 128, 0), RGBToColor(0, 0, 255)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Bits);
    auto s = StreamOf(MakeIcon(c.Bits));
    TIconGraphic g;
    g.LoadFromStream(*s);
    EXPECT_EQ(g.ImageFormat(), ifTrueColor);
    ASSERT_EQ(g.GetWidth(), 2);
    ASSERT_EQ(g.GetHeight(), 2);
    EXPECT_EQ(g.GetXDpi(), 96);
    EXPECT_EQ(g.GetPixelColor(0, 0), c.TopLeft);
    EXPECT_EQ(g.GetPixelColor(1, 0), 0u); // transparent stays black
    EXPECT_EQ(g.GetPixelColor(0, 1), c.BottomLeft);
    EXPECT_EQ(g.GetPixelColor(1, 1), c.BottomRight);
  }
}

TEST(IconGraphic, TheMaskLetsTheBackgroundThrough) {
  for (int bits : {1, 4, 8, 24, 32}) {
    SCOPED_TRACE(bits);
    auto s = StreamOf(MakeIcon(bits));
    TIcon icon;
    icon.LoadFromStream(*s);
    ASSERT_NE(icon.Handle(), nullptr);
    // Only the top right pixel is masked, rows from the top.
    EXPECT_EQ(icon.Handle()->Mask, (std::vector<uint8_t>{0, 1, 0, 0}));
    TBitmap white;
    white.SetSize(2, 2);
    white.Canvas().BrushColor = RGB(255, 255, 255);
    white.Canvas().FillRect(TRect{0, 0, 2, 2});
    icon.Draw(white.Canvas(), TRect{0, 0, 2, 2});
    EXPECT_EQ(white.Canvas().GetPixel(1, 0), RGB(255, 255, 255)); // masked: the background
    EXPECT_EQ(white.Canvas().GetPixel(0, 0), RGB(255, 0, 0));
  }
}

TEST(IconGraphic, DamagedIconsAreRefused) {
  const auto good = MakeIcon(8);
  std::vector<std::vector<uint8_t>> bad;
  bad.push_back({});
  bad.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 30));
  bad.push_back(std::vector<uint8_t>(good.begin(), good.end() - 1)); // mask cut short
  auto type = good;
  type[2] = 2; // a cursor
  bad.push_back(type);
  auto offset = good;
  offset[18] = 0xFF; // image offset beyond the file
  offset[21] = 0x7F;
  bad.push_back(offset);
  auto size = good;
  size[14] = 0xFF; // resource size beyond the file
  size[17] = 0xFF;
  bad.push_back(size);
  auto huge = good;
  huge[22 + 4 + 3] = 0x7F; // width 2^31
  bad.push_back(huge);
  auto depth = good;
  depth[22 + 14] = 7;
  bad.push_back(depth);
  auto colours = good;
  colours[22 + 32] = 0x01; // 257 colours for 8 bits
  colours[22 + 33] = 0x01;
  bad.push_back(colours);
  for (std::size_t i = 0; i < bad.size(); ++i) {
    auto s = StreamOf(bad[i]);
    TIconGraphic g;
    EXPECT_THROW(g.LoadFromStream(*s), EInvalidGraphic) << "case " << i;
  }
}

TEST(IconGraphic, SavesA32x32TrueColourIcon) {
  TDibGraphic g;
  g.NewImage(40, 20, ifColor16, nullptr, 0, 0);
  g.SetPixelIndex(0, 0, 12);
  g.SetPixelIndex(39, 19, 14); // beyond the icon's right edge: cut
  g.SetPixelIndex(31, 19, 10);
  TIcon icon;
  icon.Assign(&g); // TDibGraphic::AssignTo(TIcon) writes through TIconGraphic
  ASSERT_EQ(icon.GetWidth(), 32);
  ASSERT_EQ(icon.GetHeight(), 32);
  TMemoryStream s;
  icon.SaveToStream(s);
  const uint8_t* m = s.Memory();
  EXPECT_EQ(m[6], 32);
  EXPECT_EQ(m[7], 32);
  EXPECT_EQ(Le16(m + 6 + 6), 24); // bits per pixel
  // After the header and 32 rows of 96 colour bytes, 32 mask rows of 4 bytes: all 0,
  // as every pixel of the image is opaque.
  ASSERT_EQ(s.GetSize(), 22 + 40 + 32 * 96 + 32 * 4);
  const uint8_t* mask = m + 22 + 40 + 32 * 96;
  EXPECT_EQ(std::count(mask, mask + 32 * 4, 0), 32 * 4);
  s.SetPosition(0);
  TIconGraphic back;
  back.LoadFromStream(s);
  EXPECT_EQ(back.GetWidth(), 32);
  EXPECT_EQ(back.GetPixelColor(0, 0), RGBToColor(255, 85, 85));
  EXPECT_EQ(back.GetPixelColor(31, 19), RGBToColor(85, 255, 85));
  EXPECT_EQ(back.GetPixelColor(31, 31), 0u);
}
