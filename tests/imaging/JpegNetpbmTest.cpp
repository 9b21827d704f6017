// Cross-checks of the JPEG image class with netpbm's converters, both directions.
#include "JpegGraphic.h"

#include "Pnm.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <optional>

using namespace gf;
using namespace gf::test;

namespace {

class JpegNetpbm : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* tool : {"jpegtopnm", "pnmtojpeg"})
      if (!HaveTool(tool))
        GTEST_SKIP() << tool << " is missing (Debian package netpbm, see scripts/deps.sh)";
    FDir.emplace("gf_jpeg_netpbm_");
  }
  std::string Path(const std::string& Name) const { return FDir->Path(Name); }

  std::optional<TTestDir> FDir;
};

void Paint(TJpegGraphic& G, TImageFormat Format) {
  G.NewImage(61, 35, Format, nullptr, 0, 0);
  for (int y = 0; y < 35; ++y)
    for (int x = 0; x < 61; ++x) {
      if (Format == ifGray256)
        G.ScanLine(y)[x] = static_cast<uint8_t>(x * 4 + y);
      else
        G.SetPixelColor(x, y, RGBToColor(uint8_t(x * 4), uint8_t(y * 7), uint8_t(200 - x)));
    }
}

TPnm PnmOf(TJpegGraphic& G) {
  TPnm p;
  p.Width = G.GetWidth();
  p.Height = G.GetHeight();
  for (int y = 0; y < p.Height; ++y)
    for (int x = 0; x < p.Width; ++x)
      p.Pixels.push_back(G.GetPixelColor(x, y));
  return p;
}

TEST_F(JpegNetpbm, WhatTheClassWritesNetpbmReads) {
  struct Case {
    TImageFormat Format;
    bool Progressive, Optimize;
  };
  const std::vector<Case> cases = {
      {ifTrueColor, false, false}, {ifTrueColor, true, false}, {ifTrueColor, false, true},
      {ifGray256, false, false},   {ifGray256, true, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    TJpegGraphic g;
    Paint(g, c.Format);
    g.Quality = 75;
    g.Progressive = c.Progressive;
    g.Optimize = c.Optimize;
    const std::string file = Path("o" + std::to_string(n++) + ".jpg");
    g.SaveToFile(file);
    ASSERT_TRUE(RunQuietly("jpegtopnm " + file + " >" + file + ".pnm"));
    const auto ref = ReadPnm(file + ".pnm");
    ASSERT_TRUE(ref);
    TJpegGraphic back;
    back.LoadFromFile(file);
    EXPECT_EQ(back.ImageFormat(), c.Format);
    // One library decodes in both: the same pixels.
    EXPECT_EQ(PnmOf(back).Pixels, ref->Pixels);
  }
}

TEST_F(JpegNetpbm, WhatNetpbmWritesTheClassReads) {
  const std::vector<std::string> options = {
      "",           "-progressive",        "-optimize",           "-quality=95",
      "-greyscale", "-sample=1x1,1x1,1x1", "-sample=2x1,1x1,1x1", "-dct=float",
  };
  TJpegGraphic src;
  Paint(src, ifTrueColor);
  int n = 0;
  for (const std::string& o : options) {
    SCOPED_TRACE(o);
    const std::string ppm = Path("s.ppm"), file = Path("n" + std::to_string(n++) + ".jpg");
    {
      std::ofstream out(ppm, std::ios::binary);
      out << "P6\n61 35\n255\n";
      for (uint32_t c : PnmOf(src).Pixels)
        out << char(c >> 16) << char(c >> 8) << char(c);
    }
    ASSERT_TRUE(RunQuietly("pnmtojpeg " + o + " " + ppm + " >" + file));
    ASSERT_TRUE(RunQuietly("jpegtopnm " + file + " >" + file + ".pnm"));
    const auto ref = ReadPnm(file + ".pnm");
    ASSERT_TRUE(ref);
    TJpegGraphic g;
    g.LoadFromFile(file);
    EXPECT_EQ(g.ImageFormat(), o == "-greyscale" ? ifGray256 : ifTrueColor);
    EXPECT_EQ(PnmOf(g).Pixels, ref->Pixels);
  }
}

} // namespace
