#include "Transforms.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace gf;

namespace {
std::vector<uint8_t> Pixels(const TDibGraphic& G) {
  return std::vector<uint8_t>(G.Bits(), G.Bits() + G.ImageSize());
}
} // namespace

TEST(NegativeTransform, EachFormat) {
  {
    TDibGraphic g; // 2 x 1 at 256 greys: (0, 200) and two fill bytes
    g.NewImage(2, 1, ifGray256, nullptr, 0, 0);
    g.ScanLine(0)[0] = 0;
    g.ScanLine(0)[1] = 200;
    TNegativeTransform().Apply(g);
    EXPECT_EQ(g.ScanLine(0)[0], 255);
    EXPECT_EQ(g.ScanLine(0)[1], 55);
    EXPECT_EQ(g.ScanLine(0)[2], 255);
    EXPECT_EQ(g.ScanLine(0)[3], 255);
  }
  {
    TDibGraphic g;
    g.NewImage(3, 1, ifGray16, nullptr, 0, 0);
    g.SetPixelIndex(0, 0, 0);
    g.SetPixelIndex(1, 0, 4);
    g.SetPixelIndex(2, 0, 15);
    TNegativeTransform().Apply(g);
    EXPECT_EQ(g.GetPixelIndex(0, 0), 15);
    EXPECT_EQ(g.GetPixelIndex(1, 0), 11);
    EXPECT_EQ(g.GetPixelIndex(2, 0), 0);
  }
  {
    TDibGraphic g;
    g.NewImage(9, 1, ifBlackWhite, nullptr, 0, 0);
    g.SetPixelIndex(8, 0, 1);
    TNegativeTransform().Apply(g);
    EXPECT_EQ(g.GetPixelIndex(8, 0), 0);
    EXPECT_EQ(g.GetPixelIndex(0, 0), 1);
  }
  for (TImageFormat f : {ifColor16, ifColor256}) {
    TDibGraphic g;
    g.NewImage(3, 2, f, nullptr, 72, 72);
    g.SetPixelIndex(1, 1, 4);
    const auto before = Pixels(g);
    TNegativeTransform().Apply(g);
    EXPECT_EQ(Pixels(g), before); // indices kept
    EXPECT_EQ(g.ImagePalette().palNumEntries, f == ifColor16 ? 16 : 256);
    EXPECT_EQ(g.GetPixelColor(1, 1), RGBToColor(85, 255, 255)); // 255 - (170, 0, 0)
    EXPECT_EQ(g.GetPixelColor(0, 0), RGBToColor(255, 255, 255));
    EXPECT_EQ(g.GetXDpi(), 72);
  }
  {
    TDibGraphic g;
    g.NewImage(1, 1, ifTrueColor, nullptr, 0, 0);
    g.SetPixelColor(0, 0, RGBToColor(10, 20, 30));
    TNegativeTransform().Apply(g);
    EXPECT_EQ(g.GetPixelColor(0, 0), RGBToColor(245, 235, 225));
    EXPECT_EQ(g.ScanLine(0)[3], 0); // the fill byte stays
  }
}

TEST(NegativeTransform, TwiceGivesTheImageBack) {
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f) {
    TDibGraphic g;
    g.NewImage(7, 5, static_cast<TImageFormat>(f), nullptr, 0, 0);
    for (std::size_t i = 0; i < g.ImageSize(); ++i)
      g.Bits()[i] = static_cast<uint8_t>(i * 37 + 11);
    const auto pixels = Pixels(g);
    const TMaxLogPalette palette = g.ImagePalette();
    TNegativeTransform t;
    t.Apply(g);
    EXPECT_TRUE(Pixels(g) != pixels ||
                std::memcmp(&palette, &g.ImagePalette(), sizeof palette) != 0);
    t.Apply(g);
    EXPECT_EQ(Pixels(g), pixels) << "format " << f;
    EXPECT_EQ(std::memcmp(&palette, &g.ImagePalette(), sizeof palette), 0);
  }
}

TEST(NegativeTransform, ProgressAndDest) {
  TDibGraphic g;
  g.NewImage(2, 3, ifGray256, nullptr, 0, 0);
  TNegativeTransform t;
  std::vector<int> seen;
  t.OnProgress = [&](TImageTransform& s, int p) {
    EXPECT_EQ(&s, &t);
    seen.push_back(p);
  };
  t.Apply(g);
  EXPECT_EQ(seen, (std::vector<int>{0, 50, 100}));
  EXPECT_EQ(t.LastPercent, 100);

  TDibGraphic one; // one row high: reports 0 then 100, no division by zero
  one.NewImage(4, 1, ifTrueColor, nullptr, 0, 0);
  seen.clear();
  t.Apply(one);
  EXPECT_EQ(seen, (std::vector<int>{0, 100}));

  TDibGraphic dest;
  g.ScanLine(0)[0] = 7;
  t.ApplyOnDest(g, dest);
  EXPECT_EQ(dest.ScanLine(0)[0], 248);
  EXPECT_EQ(g.ScanLine(0)[0], 7);

  TImageTransform base;
  try {
    base.Apply(g);
    FAIL();
  } catch (const EQuorvaneError& e) {
    EXPECT_STREQ(e.what(), "Method \"ApplyOnDest\" not implemented for TImageTransform class");
  }
}
