// PNG files that no one here wrote: PngSuite's basic images against their .sng pixel
// texts, the invalid files beside them, libpng's own test picture, and a file with a
// known resolution; and our own output checked by pngcheck.
#include "PngGraphic.h"
#include "Samples.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

using namespace gf;
namespace fs = std::filesystem;

namespace {

const std::string Suite = "/usr/share/go-1.19/src/image/png/testdata/";

class PngSamples : public ::testing::Test {
protected:
  void SetUp() override {
    if (!SamplesAvailable())
      GTEST_SKIP() << SamplesUnavailableReason();
    FScreen = ScreenGamma;
  }
  void TearDown() override { ScreenGamma = FScreen; }
  double FScreen = 2.2;
};

// The pixels of an .sng text as colours and alphas, top row first.
struct TSng {
  int Width = 0, Height = 0, Depth = 0;
  std::string Using;
  std::vector<uint32_t> Palette;
  std::vector<uint32_t> Color;
  std::vector<int> Alpha;
};

int FieldOf(const std::string& Text, const std::string& Name) {
  const auto at = Text.find(Name + ":");
  return at == std::string::npos ? -1 : std::atoi(Text.c_str() + at + Name.size() + 1);
}

TSng ReadSng(const std::string& Path) {
  std::ifstream in(Path);
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  TSng s;
  s.Width = FieldOf(text, "width");
  s.Height = FieldOf(text, "height");
  s.Depth = FieldOf(text, "bitdepth");
  const auto u = text.find("using ");
  s.Using = text.substr(u + 6, text.find(';', u) - u - 6);
  const auto plte = text.find("PLTE {");
  if (plte != std::string::npos) {
    std::istringstream lines(text.substr(plte, text.find('}', plte) - plte));
    std::string line;
    while (std::getline(lines, line)) {
      int r, g, b;
      if (std::sscanf(line.c_str(), " (%d,%d,%d)", &r, &g, &b) == 3)
        s.Palette.push_back(
            RGBToColor(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)));
    }
  }
  std::istringstream lines(text.substr(text.find("pixels hex") + 10));
  const int channels = s.Using == "grayscale"         ? 1
                       : s.Using == "grayscale alpha" ? 2
                       : s.Using == "color"           ? 3
                       : s.Using == "color alpha"     ? 4
                                                      : 1;
  std::string line;
  while (static_cast<int>(s.Color.size()) < s.Width * s.Height && std::getline(lines, line)) {
    std::vector<int> bytes;
    std::string hex;
    for (char c : line)
      if (std::isxdigit(static_cast<unsigned char>(c)))
        hex += c;
    if (hex.empty())
      continue;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      bytes.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
    for (int x = 0; x < s.Width; ++x) {
      if (s.Using == "color palette") {
        int index = 0;
        if (s.Depth < 8) {
          const int bit = x * s.Depth;
          index = (bytes[static_cast<std::size_t>(bit / 8)] >> (8 - s.Depth - bit % 8)) &
                  ((1 << s.Depth) - 1);
        } else {
          index = bytes[static_cast<std::size_t>(x)];
        }
        s.Color.push_back(s.Palette[static_cast<std::size_t>(index)]);
        s.Alpha.push_back(255);
        continue;
      }
      const int step = s.Depth == 16 ? 2 : 1;
      auto sample = [&](int c) {
        return bytes[static_cast<std::size_t>((x * channels + c) * step)]; // high byte
      };
      const int grey = channels <= 2;
      const int r = sample(0), g = grey ? r : sample(1), b = grey ? r : sample(2);
      s.Color.push_back(
          RGBToColor(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)));
      s.Alpha.push_back(channels == 2 ? sample(1) : channels == 4 ? sample(3) : 255);
    }
  }
  return s;
}

uint8_t OverBlack(int V, int A) {
  return static_cast<uint8_t>((V * A + 127) / 255);
}

} // namespace

TEST_F(PngSamples, PngSuiteBasicImagesMatchTheirPixelTexts) {
  // The suite's gamma is 1.0: with a screen gamma of 1.0 no correction applies.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(SampleRoot() + Suite + "pngsuite")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("basn", 0) != 0 || entry.path().extension() != ".png" ||
        name.find("trns") != std::string::npos)
      continue;
    SCOPED_TRACE(name);
    const TSng sng = ReadSng(entry.path().parent_path() / (entry.path().stem().string() + ".sng"));
    ASSERT_EQ(static_cast<int>(sng.Color.size()), sng.Width * sng.Height);
    TPngGraphic g;
    ScreenGamma = 1.0;
    g.LoadFromFile(entry.path());
    if (g.Gamma == 0.5) { // no gAMA (the cut-down copies): 2.0 x 0.5 cancels out
      ScreenGamma = 2.0;
      g.LoadFromFile(entry.path());
    }
    ASSERT_EQ(g.GetWidth(), sng.Width);
    ASSERT_EQ(g.GetHeight(), sng.Height);
    for (int y = 0; y < sng.Height; ++y)
      for (int x = 0; x < sng.Width; ++x) {
        const std::size_t i = static_cast<std::size_t>(y * sng.Width + x);
        const TColor want = sng.Color[i];
        const int a = sng.Alpha[i];
        const TColor got = g.GetPixelColor(x, y);
        if (a == 255) {
          ASSERT_EQ(got, want) << x << "," << y;
        } else { // composited on the default black background
          ASSERT_NEAR(ColorRed(got), OverBlack(ColorRed(want), a), 1) << x << "," << y;
          ASSERT_NEAR(ColorGreen(got), OverBlack(ColorGreen(want), a), 1) << x << "," << y;
          ASSERT_NEAR(ColorBlue(got), OverBlack(ColorBlue(want), a), 1) << x << "," << y;
        }
      }
    ++files;
  }
  EXPECT_GE(files, 15);
}

TEST_F(PngSamples, FormatsOfTheSuite) {
  struct TCase {
    const char* File;
    TImageFormat Format;
    int Colours;
  };
  const TCase cases[] = {{"basn0g01.png", ifBlackWhite, 2}, {"basn0g02.png", ifGray16, 16},
                         {"basn0g04.png", ifGray16, 16},    {"basn0g16.png", ifGray256, 256},
                         {"basn2c16.png", ifTrueColor, 0},  {"basn3p01.png", ifBlackWhite, 2},
                         {"basn3p02.png", ifColor16, 4},    {"basn3p08.png", ifColor256, 256},
                         {"basn4a16.png", ifGray256, 256},  {"basn6a08.png", ifTrueColor, 0}};
  for (const auto& c : cases) {
    TPngGraphic g;
    g.LoadFromFile(SampleRoot() + Suite + "pngsuite/" + c.File);
    EXPECT_EQ(g.ImageFormat(), c.Format) << c.File;
    EXPECT_EQ(g.ImagePalette().palNumEntries, c.Colours) << c.File;
  }
}

TEST_F(PngSamples, InvalidFilesEndInTheirErrors) {
  struct TCase {
    const char* File;
    const char* Outcome; // "png", "stream" or "loads"
  };
  const TCase cases[] = {
      {"invalid-crc32.png", "png"},
      {"invalid-zlib.png", "png"},
      // Chunks after the image data are never read, so a missing or cut end chunk
      // and a palette index that only the end checks go unnoticed.
      {"invalid-trunc.png", "loads"},
      {"invalid-noend.png", "loads"},
      {"invalid-palette.png", "loads"},
  };
  for (const auto& c : cases) {
    TPngGraphic g;
    std::string outcome = "loads";
    try {
      g.LoadFromFile(SampleRoot() + Suite + c.File);
    } catch (const EPNGError&) {
      outcome = "png";
    } catch (const EStreamError&) {
      outcome = "stream";
    }
    EXPECT_EQ(outcome, c.Outcome) << c.File;
  }
}

TEST_F(PngSamples, InterlacedLoadsAsItsTwin) {
  // One file is sRGB (no correction), the other has no gAMA (0.5): a screen gamma
  // of 2.0 leaves both as stored.
  ScreenGamma = 2.0;
  TPngGraphic a, b;
  a.LoadFromFile(SampleRoot() + Suite + "benchRGB.png");
  b.LoadFromFile(SampleRoot() + Suite + "benchRGB-interlace.png");
  ASSERT_EQ(a.GetWidth(), 256);
  ASSERT_EQ(a.GetHeight(), b.GetHeight());
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x)
      EXPECT_EQ(a.GetPixelColor(x, y), b.GetPixelColor(x, y));
}

// libpng's own test picture (RGBA, interlaced, sRGB, bKGD) against libpng's
// simplified reader, which composites on the same background in linear light.
TEST_F(PngSamples, LibpngTestPicture) {
  const std::string file = SampleRoot() + "/usr/share/doc/libpng-dev/examples/pngtest.png";
  TPngGraphic g;
  g.LoadFromFile(file);
  // The file's bKGD (16-bit samples at depth 8).
  std::ifstream in(file, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), {});
  const auto at = all.find("bKGD");
  ASSERT_NE(at, std::string::npos);
  const png_color bg{static_cast<png_byte>(all[at + 5]), static_cast<png_byte>(all[at + 7]),
                     static_cast<png_byte>(all[at + 9])};
  png_image ref{};
  ref.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&ref, file.c_str()));
  ref.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> px(PNG_IMAGE_SIZE(ref));
  ASSERT_TRUE(png_image_finish_read(&ref, &bg, px.data(), 0, nullptr));
  ASSERT_EQ(g.GetWidth(), static_cast<int>(ref.width));
  ASSERT_EQ(g.GetHeight(), static_cast<int>(ref.height));
  int worst = 0;
  for (int y = 0; y < g.GetHeight(); ++y)
    for (int x = 0; x < g.GetWidth(); ++x) {
      const uint8_t* p =
          &px[(static_cast<std::size_t>(y) * ref.width + static_cast<std::size_t>(x)) * 3];
      const TColor got = g.GetPixelColor(x, y);
      worst = std::max({worst, std::abs(ColorRed(got) - p[0]), std::abs(ColorGreen(got) - p[1]),
                        std::abs(ColorBlue(got) - p[2])});
    }
  EXPECT_LE(worst, 3);
}

TEST_F(PngSamples, ResolutionOfAKnownFile) {
  TPngGraphic g;
  g.LoadFromFile(SampleRoot() + "/usr/libexec/installed-tests/gdk-pixbuf/dpi.png");
  EXPECT_EQ(g.GetXDpi(), 300);
  EXPECT_EQ(g.GetYDpi(), 600);
}

TEST_F(PngSamples, PngcheckAcceptsOurOutput) {
  if (std::system("command -v pngcheck >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "pngcheck is not installed (scripts/deps.sh installs it)";
  const gf::test::TTestDir dir("gf_png_");
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f) {
    TPngGraphic g;
    g.NewImage(17, 11, static_cast<TImageFormat>(f), nullptr, 72, 72);
    g.SaveBackground = true;
    g.SaveTransparency = f == ifColor16 || f == ifColor256 || f == ifTrueColor;
    const fs::path out = dir.Dir() / ("f" + std::to_string(f) + ".png");
    g.SaveToFile(out);
    EXPECT_EQ(std::system(("pngcheck -q " + out.string() + " >/dev/null").c_str()), 0) << f;
  }
}
