// TIFF files that no one here wrote, against libtiff's own RGBA reader as the
// reference; files with known resolutions; checkit-tiff's files that must fail and
// must pass; and our output read back by tiffinfo.
#include "Samples.h"
#include "TestDir.h"
#include "TiffGraphic.h"

#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

using namespace gf;
namespace fs = std::filesystem;

namespace {

const std::string GoImages = "/usr/share/gocode/src/golang.org/x/image/testdata/";

class TiffSamples : public ::testing::Test {
protected:
  void SetUp() override {
    if (!SamplesAvailable())
      GTEST_SKIP() << SamplesUnavailableReason();
  }
};

// libtiff's RGBA reading of the first page, top row first.
std::vector<uint32_t> Reference(const std::string& File, uint32_t& W, uint32_t& H) {
  TIFF* tif = TIFFOpen(File.c_str(), "r");
  EXPECT_NE(tif, nullptr);
  if (!tif)
    return {};
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &W);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &H);
  std::vector<uint32_t> raster(static_cast<std::size_t>(W) * H);
  EXPECT_TRUE(TIFFReadRGBAImageOriented(tif, W, H, raster.data(), ORIENTATION_TOPLEFT, 1));
  TIFFClose(tif);
  return raster;
}

} // namespace

TEST_F(TiffSamples, GoImagesMatchLibtiffsOwnReader) {
  struct TCase {
    const char* File;
    TImageFormat Format;
    TTiffCompression Compression;
  };
  const TCase cases[] = {
      {"bw-uncompressed.tiff", ifBlackWhite, tcNone},
      {"bw-packbits.tiff", ifBlackWhite, tcPackbits},
      {"bw-deflate.tiff", ifBlackWhite, tcZLib}, // code 8, rows per strip above the height
      {"bw-gopher_ccittGroup3.tiff", ifBlackWhite, tcGroup3_1D}, // no T4Options
      {"bw-gopher_ccittGroup4.tiff", ifBlackWhite, tcGroup4},
      {"no_compress.tiff", ifTrueColor, tcNone},
      {"no_rps.tiff", ifTrueColor, tcNone}, // no RowsPerStrip, 4 samples
      {"video-001.tiff", ifTrueColor, tcZLib},
      {"video-001-uncompressed.tiff", ifTrueColor, tcNone},
      {"video-001-strip-64.tiff", ifTrueColor, tcZLib},
      {"video-001-tile-64x64.tiff", ifTrueColor, tcZLib},
      {"video-001-gray.tiff", ifGray256, tcNone},
      {"video-001-gray-16bit.tiff", ifTrueColor, tcNone},
      {"video-001-16bit.tiff", ifTrueColor, tcZLib},
      {"video-001-paletted.tiff", ifColor256, tcZLib},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    const std::string file = SampleRoot() + GoImages + c.File;
    uint32_t w = 0, h = 0;
    const auto ref = Reference(file, w, h);
    TTiffGraphic g;
    g.LoadFromFile(file);
    EXPECT_EQ(g.ImageFormat(), c.Format);
    EXPECT_EQ(g.GetCompression(), c.Compression);
    ASSERT_EQ(g.GetWidth(), static_cast<int>(w));
    ASSERT_EQ(g.GetHeight(), static_cast<int>(h));
    int worst = 0;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t p = ref[y * w + x];
        if (TIFFGetA(p) != 255) // libtiff blends alpha in; the class drops it
          continue;
        const TColor got = g.GetPixelColor(static_cast<int>(x), static_cast<int>(y));
        worst = std::max({worst, std::abs(ColorRed(got) - static_cast<int>(TIFFGetR(p))),
                          std::abs(ColorGreen(got) - static_cast<int>(TIFFGetG(p))),
                          std::abs(ColorBlue(got) - static_cast<int>(TIFFGetB(p)))});
      }
    // 16-bit colour maps are scaled by 255/65535 here, by the high byte in libtiff.
    EXPECT_LE(worst, 1);
  }
}

TEST_F(TiffSamples, LzwIsRefused) {
  TTiffGraphic g;
  try {
    g.LoadFromFile(SampleRoot() + GoImages + "blue-purple-pink.lzwcompressed.tiff");
    FAIL();
  } catch (const EQuorvaneError& e) {
    EXPECT_STREQ(e.what(), "LZW compression not supported");
  }
}

TEST_F(TiffSamples, Resolution) {
  TTiffGraphic g;
  g.LoadFromFile(SampleRoot() + "/usr/libexec/installed-tests/gdk-pixbuf/dpi.tiff");
  EXPECT_EQ(g.GetXDpi(), 300);
  EXPECT_EQ(g.GetYDpi(), 600);
  TTiffGraphic bw;
  bw.LoadFromFile(SampleRoot() + GoImages + "bw-packbits.tiff");
  EXPECT_EQ(bw.GetXDpi(), 72);
}

// checkit-tiff's files judge conformance, which is stricter than decoding: every
// file must load or end in one of the library's own errors. The valid ones load
// (12-bit samples are beyond libtiff's RGBA reader); those whose directory structure
// is broken are refused at opening.
TEST_F(TiffSamples, CheckitTiffFiles) {
  const std::string root = SampleRoot() + "/usr/share/checkit_tiff/";
  const std::set<std::string> refused = {"minimal_IFD_65355_tags.tif",
                                         "minimal_IFD_65355_zeroedtags.tif",
                                         "minimal_IFD_count_is_zero.tiff",
                                         "minimal_IFD_incomplete.tif",
                                         "minimal_IFD_points_outside_filesize.tif",
                                         "minimal_empty_IFD.tif",
                                         "minimal_invalid_type_imagewidth.tif",
                                         "minimal_without_IFD.tif"};
  int files = 0;
  for (const char* dir : {"tiffs_should_pass", "tiffs_should_fail"})
    for (const auto& e : fs::recursive_directory_iterator(root + dir)) {
      if (!e.is_regular_file())
        continue;
      const std::string name = e.path().filename().string();
      const bool valid = std::string(dir) == "tiffs_should_pass";
      ++files;
      TTiffGraphic g;
      std::string outcome = "loaded";
      try {
        g.LoadFromFile(e.path());
      } catch (const ETiffError& x) {
        outcome = x.what();
      } catch (const EQuorvaneError& x) {
        outcome = x.what();
      }
      const std::string want = name == "minimal_valid_12bit.tiff" ? "ETiffError TIFFReadRGBAImage"
                               : valid                            ? "loaded"
                               : refused.count(name)              ? "ETiffError TIFFOpen"
                                                                  : outcome;
      EXPECT_EQ(outcome, want) << name;
    }
  EXPECT_GE(files, 35);
}

TEST_F(TiffSamples, TiffinfoReadsOurOutput) {
  if (std::system("command -v tiffinfo >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "tiffinfo is not installed (scripts/deps.sh installs libtiff-tools)";
  const gf::test::TTestDir dir("gf_tiff_");
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f) {
    TTiffGraphic g;
    g.NewImage(17, 11, static_cast<TImageFormat>(f), nullptr, 72, 72);
    const fs::path out = dir.Dir() / ("f" + std::to_string(f) + ".tif");
    g.SaveToFile(out);
    const std::string log = dir.Path("log");
    EXPECT_EQ(std::system(("tiffinfo -D " + out.string() + " >" + log + " 2>&1").c_str()), 0) << f;
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("Software: Quorvane Image Library"), std::string::npos) << text;
    EXPECT_EQ(text.find("rror"), std::string::npos) << text;
  }
}
