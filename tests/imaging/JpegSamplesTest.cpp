// Real JPEG files that no one here wrote, from Debian packages fetched at test time:
// the JPEG set of golang-1.19-src (baseline, progressive, cut short, CMYK, every
// subsampling, grey) and libsdl2-image-tests' sample picture, whose BMP, PCX and
// Targa forms the codec module reads. References: libjpeg called directly, the PNGs
// beside the Go files, and the lossless forms of the SDL picture.
#include "JpegGraphic.h"

#include "Bcm.h"
#include "BcmFixture.h"
#include "Libjpeg.h"
#include "Pnm.h"
#include "Streams.h"
#include "TestDir.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

namespace {

const fs::path GoImages =
    fs::path(GF_IMAGING_SAMPLES) / "root/usr/share/go-1.19/src/image/testdata";
const fs::path Sdl = fs::path(GF_BCM_SAMPLES) / "root/usr/libexec/installed-tests/SDL2_image";

class JpegSamples : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* dir : {GF_IMAGING_SAMPLES, GF_BCM_SAMPLES})
      if (fs::exists(fs::path(dir) / "UNAVAILABLE") || !fs::exists(fs::path(dir) / "root"))
        GTEST_SKIP() << "sample packages could not be fetched";
  }
};

std::vector<uint8_t> FileBytes(const fs::path& Path) {
  TMemoryStream m;
  m.LoadFromFile(Path.string());
  return std::vector<uint8_t>(m.Memory(), m.Memory() + m.GetSize());
}

// Mean and largest difference of every channel of every pixel.
struct TDifference {
  double Mean = 0;
  int Max = 0;
};
TDifference Compare(TJpegGraphic& G, const TPnm& Ref) {
  TDifference d;
  if (G.GetWidth() != Ref.Width || G.GetHeight() != Ref.Height)
    return {999, 999};
  long sum = 0;
  for (int y = 0; y < Ref.Height; ++y)
    for (int x = 0; x < Ref.Width; ++x) {
      const uint32_t a = G.GetPixelColor(x, y), b = Ref.At(x, y);
      for (int s = 0; s < 24; s += 8) {
        const int diff = std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF));
        sum += diff;
        d.Max = std::max(d.Max, diff);
      }
    }
  d.Mean = double(sum) / (3.0 * Ref.Width * Ref.Height);
  return d;
}

TEST_F(JpegSamples, GoSetDecodesAsLibjpegDoes) {
  struct Case {
    const char* File;
    const char* Png; // Go's decoding beside it
    TImageFormat Format;
  };
  const std::vector<Case> cases = {
      {"video-001.jpeg", "video-001.png", ifTrueColor},
      {"video-001.progressive.jpeg", "video-001.png", ifTrueColor},
      {"video-001.q50.410.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.411.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.420.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.422.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.440.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.444.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.410.progressive.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.411.progressive.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.420.progressive.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.422.progressive.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.440.progressive.jpeg", nullptr, ifTrueColor},
      {"video-001.q50.444.progressive.jpeg", nullptr, ifTrueColor},
      {"video-001.221212.jpeg", "video-001.221212.png", ifTrueColor},
      {"video-001.rgb.jpeg", nullptr, ifTrueColor}, // Go upsamples its chroma otherwise
      {"video-001.separate.dc.progression.jpeg", nullptr, ifTrueColor},
      {"video-001.separate.dc.progression.progressive.jpeg", nullptr, ifTrueColor},
      {"video-005.gray.jpeg", "video-005.gray.png", ifGray256},
      {"video-005.gray.q50.jpeg", nullptr, ifGray256},
      {"video-005.gray.q50.2x2.jpeg", nullptr, ifGray256},
      {"video-005.gray.q50.progressive.jpeg", nullptr, ifGray256},
      {"video-005.gray.q50.2x2.progressive.jpeg", nullptr, ifGray256},
  };
  const TTestDir dir("gf_jpeg_samples_"); // netpbm's readings of the PNGs
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    TJpegGraphic g;
    ASSERT_NO_THROW(g.LoadFromFile((GoImages / c.File).string()));
    EXPECT_EQ(g.ImageFormat(), c.Format);
    EXPECT_EQ(g.WarningCount(), 0);
    const TDirectPicture direct = DirectDecode(FileBytes(GoImages / c.File));
    EXPECT_EQ(PixelsOf(g), direct.Pixels);
    if (c.Png) {
      auto png = NetpbmReference("pngtopnm", GoImages / c.Png, dir.Dir());
      if (png) { // two decoders: close, not equal
        const TDifference d = Compare(g, *png);
        EXPECT_LT(d.Mean, 1.5);
        EXPECT_LE(d.Max, 48);
      }
    }
  }
}

TEST_F(JpegSamples, CutShortFilesLoad) {
  // Go's truncated file lacks its last scans but ends with its end marker: it loads
  // as libjpeg gives it, without a warning.
  const fs::path truncated = GoImages / "video-001.progressive.truncated.jpeg";
  TJpegGraphic g;
  ASSERT_NO_THROW(g.LoadFromFile(truncated.string()));
  EXPECT_EQ(g.GetWidth(), 150);
  EXPECT_EQ(g.GetHeight(), 103);
  EXPECT_EQ(PixelsOf(g), DirectDecode(FileBytes(truncated)).Pixels);

  // Cut inside a scan, the data ends early: a counted warning, and the file loads.
  for (const char* name : {"video-001.jpeg", "video-001.progressive.jpeg"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes = FileBytes(GoImages / name);
    bytes.resize(bytes.size() * 2 / 3);
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), bytes.size());
    s.SetPosition(0);
    TJpegGraphic h;
    ASSERT_NO_THROW(h.LoadFromStream(s));
    EXPECT_GT(h.WarningCount(), 0);
    const TDirectPicture direct = DirectDecode(bytes);
    EXPECT_EQ(h.WarningCount(), direct.Warnings);
    EXPECT_EQ(PixelsOf(h), direct.Pixels);
  }
}

TEST_F(JpegSamples, CmykIsRefused) {
  TJpegGraphic g;
  try {
    g.LoadFromFile((GoImages / "video-001.cmyk.jpeg").string());
    ADD_FAILURE() << "loaded";
  } catch (const EJpegError& e) { // libjpeg's own refusal, in the class's exception
    EXPECT_STREQ(e.what(), "Unsupported color conversion request");
  }
}

TEST_F(JpegSamples, SdlPictureMatchesItsLosslessForms) {
  TJpegGraphic g;
  g.LoadFromFile((Sdl / "sample.jpg").string());
  EXPECT_EQ(g.GetWidth(), 23);
  EXPECT_EQ(g.GetHeight(), 42);
  EXPECT_EQ(g.GetXDpi(), 100); // JFIF density 100 x 100 per inch
  EXPECT_EQ(PixelsOf(g), DirectDecode(FileBytes(Sdl / "sample.jpg")).Pixels);
  // The same picture as the Targa the codec module reads, within JPEG's loss.
  TReadResult tga = ReadFile((Sdl / "sample.tga").string(), BcmFormatTga);
  ASSERT_EQ(tga.Rc(), BcmOk);
  TPnm ref;
  ref.Width = tga.Image.Bitmap.Width;
  ref.Height = tga.Image.Bitmap.Height;
  for (int y = 0; y < ref.Height; ++y)
    for (int x = 0; x < ref.Width; ++x)
      ref.Pixels.push_back(tga.Image.Rgb(x, y));
  const TDifference d = Compare(g, ref);
  EXPECT_LT(d.Mean, 4.0);
  EXPECT_LE(d.Max, 64);
}

} // namespace
