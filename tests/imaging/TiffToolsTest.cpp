// TIFFs that libtiff's and netpbm's tools write, read by the TIFF class from files and
// compared with netpbm's reading of the same files.
#include "TiffGraphic.h"

#include "Pnm.h"
#include "TestDir.h"
#include "TiffEntries.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

using namespace gf;
using namespace gf::test;

namespace {

class TiffTools : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* tool : {"tiffcp", "tifftopnm", "pamtotiff", "tiff2rgba"})
      if (!HaveTool(tool))
        GTEST_SKIP() << tool << " is missing (Debian packages libtiff-tools and netpbm)";
    FDir.emplace("gf_tiff_tools_");
  }
  std::string Path(const std::string& Name) const { return FDir->Path(Name); }

  std::optional<TTestDir> FDir;
};

// Every pixel as netpbm reads it.
void ExpectSame(TDibGraphic& G, const TPnm& Reference) {
  ASSERT_EQ(G.GetWidth(), Reference.Width);
  ASSERT_EQ(G.GetHeight(), Reference.Height);
  for (int y = 0; y < Reference.Height; ++y)
    for (int x = 0; x < Reference.Width; ++x) {
      const TColor got = G.GetPixelColor(x, y);
      const uint32_t want = Reference.At(x, y);
      if (got != want) {
        ADD_FAILURE() << "pixel " << x << "," << y << std::hex << ": " << got << " != reference "
                      << want;
        return;
      }
    }
}

} // namespace

TEST_F(TiffTools, FilesOtherProgramsWroteReadAsNetpbmReadsThem) {
  // A photograph-like true-colour image of odd size, saved by the class.
  TTiffGraphic source;
  source.NewImage(61, 45, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 61; ++x)
      source.SetPixelColor(x, y, RGBToColor(uint8_t(x * 4), uint8_t(y * 5), uint8_t(180 - x - y)));
  source.SetCompression(tcNone);
  source.SaveToFile(Path("source.tif"));
  // Two colours in a 1-bit palette, from netpbm.
  {
    std::ofstream ppm(Path("two.ppm"), std::ios::binary);
    ppm << "P6\n13 7\n255\n";
    for (int i = 0; i < 13 * 7; ++i)
      ppm << (i % 3 ? std::string("\xC8\x1E\x0A", 3) : std::string("\x14\x28\xF0", 3));
  }

  struct TCase {
    const char* Name;
    std::string Command; // makes out.tif
    TImageFormat Format;
    TTiffCompression Compression;
  };
  const std::string src = "'" + Path("source.tif") + "'";
  const TCase cases[] = {
      {"JPEG, YCbCr 2x2, strips", "tiffcp -c jpeg " + src, ifTrueColor, tcJpeg},
      {"JPEG, YCbCr 2x2, tiles", "tiffcp -c jpeg -t -w 16 -l 16 " + src, ifTrueColor, tcJpeg},
      {"uncompressed tiles", "tiffcp -c none -t -w 16 -l 16 " + src, ifTrueColor, tcNone},
      {"Deflate tiles", "tiffcp -c zip -t -w 32 -l 16 " + src, ifTrueColor, tcZLib},
      {"1-bit palette", "pamtotiff -indexbits=1 '" + Path("two.ppm") + "' >", ifColor16, tcNone},
  };
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = Path("out" + std::to_string(n++) + ".tif");
    ASSERT_TRUE(RunQuietly(c.Command + " '" + out + "'"));
    // netpbm reads no YCbCr: libjpeg's colour conversion (in tiffcp) makes RGB strips first.
    ASSERT_TRUE(RunQuietly("tiffcp -c none -s '" + out + "' '" + out + ".rgb.tif'"));
    ASSERT_TRUE(RunQuietly("tifftopnm '" + out + ".rgb.tif' >'" + out + ".pnm'"));
    const auto reference = ReadPnm(out + ".pnm");
    ASSERT_TRUE(reference);
    TTiffGraphic g;
    g.LoadFromFile(out);
    EXPECT_EQ(g.ImageFormat(), c.Format);
    EXPECT_EQ(g.GetCompression(), c.Compression);
    ExpectSame(g, *reference);
  }
}

// Fax-coded black and white as netpbm writes it, min-is-black and min-is-white, in
// strips and (through tiffcp) in tiles: the same picture as the one coded, and as
// netpbm and libtiff's RGBA conversion read it.
TEST_F(TiffTools, FaxCodedFilesReadAsTheToolsReadThem) {
  const int w = 37, h = 23;
  {
    std::ofstream pbm(Path("fax.pbm"), std::ios::binary);
    pbm << "P4\n" << w << " " << h << "\n";
    for (int y = 0; y < h; ++y)
      for (int x0 = 0; x0 < w; x0 += 8) {
        unsigned byte = 0;
        for (int x = x0; x < x0 + 8; ++x)
          byte = byte << 1 | (x < w && ((x / 3 + y / 2) % 3 == 0 || x == y)); // 1 is black
        pbm.put(static_cast<char>(byte));
      }
  }
  const auto coded = ReadPnm(Path("fax.pbm"));
  ASSERT_TRUE(coded);
  struct TCase {
    const char* Coding; // pamtotiff's options
    TTiffCompression Compression;
  };
  const TCase codings[] = {{"-g3", tcGroup3_1D}, {"-g3 -2d", tcGroup3_2D}, {"-g4", tcGroup4}};
  int n = 0;
  for (const TCase& c : codings)
    for (const char* photometric : {"-minisblack", "-miniswhite"})
      for (bool tiled : {false, true}) {
        SCOPED_TRACE(::testing::Message()
                     << c.Coding << " " << photometric << (tiled ? " tiles" : " strips"));
        std::string out = Path("fax" + std::to_string(n++) + ".tif");
        ASSERT_TRUE(RunQuietly(std::string("pamtotiff ") + c.Coding + " " + photometric + " '" +
                               Path("fax.pbm") + "' >'" + out + "'"));
        if (tiled) {
          const std::string g3 = std::string(c.Coding) == "-g3 -2d" ? "g3:2d" : "g3";
          const std::string codec = c.Compression == tcGroup4 ? "g4" : g3;
          ASSERT_TRUE(RunQuietly("tiffcp -c " + codec + " -t -w 16 -l 16 '" + out + "' '" + out +
                                 ".tiled.tif'"));
          out += ".tiled.tif";
        }
        ASSERT_TRUE(RunQuietly("tiffcp -c none -s '" + out + "' '" + out + ".plain.tif'"));
        ASSERT_TRUE(RunQuietly("tifftopnm '" + out + ".plain.tif' >'" + out + ".pnm'"));
        ASSERT_TRUE(RunQuietly("tiff2rgba '" + out + "' '" + out + ".rgba.tif'"));
        ASSERT_TRUE(RunQuietly("tifftopnm '" + out + ".rgba.tif' >'" + out + ".rgba.pnm'"));
        TTiffGraphic g;
        g.LoadFromFile(out);
        EXPECT_EQ(g.ImageFormat(), ifBlackWhite);
        EXPECT_EQ(g.GetCompression(), c.Compression);
        for (const std::string& reference : {out + ".pnm", out + ".rgba.pnm"}) {
          SCOPED_TRACE(reference);
          const auto picture = ReadPnm(reference);
          ASSERT_TRUE(picture);
          ExpectSame(g, *picture);
        }
        ExpectSame(g, *coded);
      }
}

// A file cut within a value that nothing decoded reads, here the Software text, in
// either byte order and in BigTIFF: netpbm reads the page with libtiff's warning, and
// the class gives every pixel that netpbm gives, which are the pixels saved.
TEST_F(TiffTools, ACutTextReadsAsNetpbmReadsIt) {
  TTiffGraphic source;
  source.NewImage(23, 17, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 23; ++x)
      source.SetPixelColor(x, y, RGBToColor(uint8_t(x * 11), uint8_t(y * 15), uint8_t(x * y)));
  source.SaveToFile(Path("source.tif"));
  struct TCase {
    const char* Name;
    const char* Option; // tiffcp's
  };
  for (const TCase& c :
       {TCase{"little-endian", "-L"}, TCase{"big-endian", "-B"}, TCase{"BigTIFF", "-8"}}) {
    SCOPED_TRACE(c.Name);
    const std::string whole = Path(std::string("whole") + c.Option + ".tif");
    ASSERT_TRUE(RunQuietly(std::string("tiffcp ") + c.Option + " '" + Path("source.tif") + "' '" +
                           whole + "'"));
    std::ifstream in(whole, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    TTiffEntry software(bytes, 305);
    ASSERT_TRUE(software.OutOfLine());
    software.SetOffset(bytes.size() - 3); // "Quorvane Image Library" runs past the end
    const std::string cut = Path(std::string("cut") + c.Option + ".tif");
    {
      std::ofstream out(cut, std::ios::binary);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
    ASSERT_TRUE(RunQuietly("tifftopnm '" + cut + "' >'" + cut + ".pnm'"));
    const auto reference = ReadPnm(cut + ".pnm");
    ASSERT_TRUE(reference);
    TTiffGraphic g;
    g.LoadFromFile(cut);
    ExpectSame(g, *reference);
    ExpectSame(source, *reference);
  }
}
