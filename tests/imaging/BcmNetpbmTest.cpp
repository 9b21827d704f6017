// Cross-checks with netpbm's converters, in both directions: what the module writes,
// netpbm reads to the same pixels, and what netpbm writes, the module reads to the
// pixels it was given.
#include "Bcm.h"
#include "BcmFixture.h"
#include "Pnm.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>

using namespace gf;
using namespace gf::test;

namespace {

class NetpbmCrossCheck : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* tool :
         {"bmptopnm", "ppmtobmp", "pcxtoppm", "ppmtopcx", "tgatoppm", "pamtotga"})
      if (!HaveTool(tool))
        GTEST_SKIP() << tool << " is missing (Debian package netpbm, see scripts/deps.sh)";
    FDir.emplace("gf_bcm_netpbm_");
  }
  std::string Path(const std::string& Name) const { return FDir->Path(Name); }

  std::optional<TTestDir> FDir;
};

// A picture in a given number of colours (2, 16, 256) or true colour (0), 31 x 9 so that
// rows need padding in every depth.
TImage Picture(int Colours) {
  if (Colours == 0) { // every pixel a colour of its own: more than 256
    TImage im = MakeImage(31, 9, 24);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 31; ++x) {
        uint8_t* p = im.Row(y) + 3 * x;
        p[0] = static_cast<uint8_t>(x * 8 + 3);
        p[1] = static_cast<uint8_t>(y * 28 + 1);
        p[2] = static_cast<uint8_t>((x + y) * 5);
      }
    return im;
  }
  const int bits = Colours == 2 ? 1 : Colours == 16 ? 4 : 8;
  TImage im = MakePattern(31, 9, bits);
  for (int i = 0; i < 256; ++i) // distinct colours, so netpbm keeps every index apart
    im.Palette[static_cast<std::size_t>(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
  if (Colours == 2) {
    im.Palette[0] = {0, 0, 0};
    im.Palette[1] = {255, 255, 255};
  }
  return im;
}

TImage Inverted(TImage Im) {
  for (uint8_t& b : Im.Data)
    b = static_cast<uint8_t>(~b);
  return Im;
}

TPnm ToPnm(const TImage& Im) {
  TPnm p;
  p.Width = Im.Bitmap.Width;
  p.Height = Im.Bitmap.Height;
  for (int y = 0; y < p.Height; ++y)
    for (int x = 0; x < p.Width; ++x)
      p.Pixels.push_back(Im.Rgb(x, y));
  return p;
}

TEST_F(NetpbmCrossCheck, WhatTheModuleWritesNetpbmReads) {
  struct Case {
    const char* Name;
    int Format;
    int Colours;
    const char* Options;
    const char* Tool;
    bool Inverted; // 1 bit: the colours the file shows are the other two
    uint32_t Mask = 0xFFFFFF;
  };
  const std::vector<Case> cases = {
      {"a.bmp", BcmFormatBmp, 2, "", "bmptopnm", false},
      {"b.bmp", BcmFormatBmp, 2, "inv", "bmptopnm", true},
      {"c.bmp", BcmFormatBmp, 2, "invb", "bmptopnm", true},
      {"d.bmp", BcmFormatBmp, 2, "inv invb", "bmptopnm", false},
      {"e.bmp", BcmFormatBmp, 2, "darkfg", "bmptopnm", true},
      {"f.bmp", BcmFormatBmp, 2, "lightfg", "bmptopnm", false},
      {"g.bmp", BcmFormatBmp, 2, "1.1", "bmptopnm", false},
      {"h.bmp", BcmFormatBmp, 16, "", "bmptopnm", false},
      {"i.bmp", BcmFormatBmp, 16, "1.1", "bmptopnm", false},
      {"j.bmp", BcmFormatBmp, 256, "win", "bmptopnm", false},
      {"k.bmp", BcmFormatBmp, 256, "1.1", "bmptopnm", false},
      {"l.bmp", BcmFormatBmp, 0, "2.0", "bmptopnm", false},
      {"m.bmp", BcmFormatBmp, 0, "1.1", "bmptopnm", false},
      {"n.bmp", BcmFormatBmp, 16, "invb", "bmptopnm", true},
      {"a.pcx", BcmFormatPcx, 2, "", "pcxtoppm", false},
      {"b.pcx", BcmFormatPcx, 16, "", "pcxtoppm", false},
      {"c.pcx", BcmFormatPcx, 256, "", "pcxtoppm", false},
      {"d.pcx", BcmFormatPcx, 0, "", "pcxtoppm", false},
      {"a.tga", BcmFormatTga, 256, "", "tgatoppm", false},
      {"b.tga", BcmFormatTga, 256, "ydown", "tgatoppm", false},
      {"c.tga", BcmFormatTga, 0, "", "tgatoppm", false},
      {"d.tga", BcmFormatTga, 0, "ydown 24", "tgatoppm", false},
      {"e.tga", BcmFormatTga, 0, "16", "tgatoppm", false, 0xF8F8F8},
      {"f.tga", BcmFormatTga, 0, "32 yup", "tgatoppm", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " " + c.Options);
    const TImage im = Picture(c.Colours);
    ASSERT_EQ(WriteFile(Path(c.Name), im, c.Format, c.Options), BcmOk);
    const std::string out = Path(std::string(c.Name) + ".pnm");
    ASSERT_TRUE(RunQuietly(std::string(c.Tool) + " " + Path(c.Name) + " >" + out));
    const auto ref = ReadPnm(out);
    ASSERT_TRUE(ref);
    ExpectPixels(c.Inverted ? Inverted(im) : im, *ref, c.Mask);
  }
}

TEST_F(NetpbmCrossCheck, WhatNetpbmWritesTheModuleReads) {
  struct Case {
    const char* Name;
    int Colours;
    const char* Command; // makes Name from src.ppm
    int Format;
    int Bits;
    const char* Options;
    bool Netpbm = false; // compared with netpbm's reading of the file, not with the source
  };
  const std::vector<Case> cases = {
      {"a.bmp", 2, "ppmtobmp -bpp=1", BcmFormatBmp, 1, "inv"},
      {"b.bmp", 16, "ppmtobmp -bpp=4", BcmFormatBmp, 4, ""},
      {"c.bmp", 16, "ppmtobmp -os2 -bpp=4", BcmFormatBmp, 4, ""},
      {"d.bmp", 256, "ppmtobmp -bpp=8", BcmFormatBmp, 8, ""},
      {"e.bmp", 256, "ppmtobmp -os2 -bpp=8", BcmFormatBmp, 8, ""},
      {"f.bmp", 0, "ppmtobmp -bpp=24", BcmFormatBmp, 24, ""},
      {"g.bmp", 0, "ppmtobmp -os2 -bpp=24", BcmFormatBmp, 24, ""},
      {"h.bmp", 2, "ppmtobmp -os2 -bpp=1", BcmFormatBmp, 1, "inv"},
      {"a.pcx", 2, "ppmtopcx", BcmFormatPcx, 1, ""},
      {"b.pcx", 16, "ppmtopcx", BcmFormatPcx, 4, ""}, // four planes of one bit
      {"c.pcx", 16, "ppmtopcx -packed", BcmFormatPcx, 4, ""},
      {"d.pcx", 256, "ppmtopcx", BcmFormatPcx, 8, ""},
      {"e.pcx", 16, "ppmtopcx -8bit", BcmFormatPcx, 8, ""},
      {"f.pcx", 0, "ppmtopcx -24bit", BcmFormatPcx, 24, ""},
      {"g.pcx", 0, "ppmtopcx", BcmFormatPcx, 24, "trunc"},
      {"a.tga", 256, "pamtotga", BcmFormatTga, 8, ""},
      {"b.tga", 256, "pamtotga -norle", BcmFormatTga, 8, ""},
      {"c.tga", 0, "pamtotga -rgb", BcmFormatTga, 24, ""},
      {"d.tga", 0, "pamtotga -rgb -norle", BcmFormatTga, 24, ""},
      // Black and white in grey pictures.
      {"e.tga", 0, "pamtotga -mono", BcmFormatTga, 8, "", true},
      {"f.tga", 16, "pamtotga -mono -norle", BcmFormatTga, 8, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + ": " + c.Command);
    const TImage im = Picture(c.Colours);
    const std::string src = Path(std::string(c.Name) + ".src.ppm");
    WritePpm(src, im);
    ASSERT_TRUE(RunQuietly(std::string(c.Command) + " " + src + " >" + Path(c.Name)));
    TReadResult r = ReadFile(Path(c.Name), c.Format, c.Options);
    ASSERT_EQ(r.Rc(), BcmOk) << BcmErrorText(r.Rc());
    EXPECT_EQ(r.Image.Bitmap.BitsPerPixel, c.Bits);
    if (c.Netpbm) {
      const std::string back = src + ".back.pnm";
      ASSERT_TRUE(RunQuietly("tgatoppm " + Path(c.Name) + " >" + back));
      const auto ref = ReadPnm(back);
      ASSERT_TRUE(ref);
      ExpectPixels(r.Image, *ref);
    } else {
      ExpectPixels(r.Image, ToPnm(im));
    }
  }
}

TEST_F(NetpbmCrossCheck, TopDownBmpsReadAsNetpbmReadsThem) {
  // The module's own file turned top down: rows in the other order, height negated.
  for (int colours : {256, 0}) {
    SCOPED_TRACE(colours);
    const TImage im = Picture(colours);
    const std::string name = Path("up" + std::to_string(colours) + ".bmp");
    ASSERT_EQ(WriteFile(name, im, BcmFormatBmp, ""), BcmOk);
    std::vector<uint8_t> file;
    {
      std::ifstream in(name, std::ios::binary);
      file.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t dataAt = file[10] | std::size_t{file[11]} << 8;
    const std::size_t row = im.RowBytes();
    std::vector<uint8_t> flipped(file.begin(), file.begin() + static_cast<long>(dataAt));
    for (int y = 0; y < im.Bitmap.Height; ++y) { // the top row, stored last, first
      const auto at = file.begin() + static_cast<long>(dataAt + row * (im.Bitmap.Height - 1 - y));
      flipped.insert(flipped.end(), at, at + static_cast<long>(row));
    }
    Put(flipped, 22, static_cast<uint32_t>(-im.Bitmap.Height), 4);
    const std::string down = Path("down" + std::to_string(colours) + ".bmp");
    std::ofstream(down, std::ios::binary)
        .write(reinterpret_cast<const char*>(flipped.data()),
               static_cast<std::streamsize>(flipped.size()));
    ASSERT_TRUE(RunQuietly("bmptopnm " + down + " >" + down + ".pnm"));
    const auto ref = ReadPnm(down + ".pnm");
    ASSERT_TRUE(ref);
    ExpectPixels(im, *ref); // netpbm sees the picture the module wrote
    TReadResult r = ReadFile(down, BcmFormatBmp);
    ASSERT_EQ(r.Rc(), BcmOk) << BcmErrorText(r.Rc());
    ExpectPixels(r.Image, *ref);
  }
}

TEST_F(NetpbmCrossCheck, OneBitBmpReadWithoutInvShowsTheOtherColours) {
  const TImage im = Picture(2);
  const std::string src = Path("src.ppm");
  WritePpm(src, im);
  ASSERT_TRUE(RunQuietly("ppmtobmp -bpp=1 " + src + " >" + Path("a.bmp")));
  TReadResult r = ReadFile(Path("a.bmp"), BcmFormatBmp);
  ASSERT_EQ(r.Rc(), BcmOk);
  ExpectPixels(r.Image, ToPnm(Inverted(im)));
}

} // namespace
