// Real BMP, PCX and Targa files that no one here wrote, from Debian packages fetched at
// test time: libsdl2-image-tests' sample picture and gdk-pixbuf-tests' Targa reference
// set with its failing and damaged files. References: the packages' own PNGs and
// netpbm's readers.
#include "Bcm.h"
#include "BcmFixture.h"
#include "Pnm.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

namespace {

const fs::path Root = fs::path(GF_BCM_SAMPLES) / "root";
const fs::path Sdl = Root / "usr/libexec/installed-tests/SDL2_image";
const fs::path Pixbuf = Root / "usr/libexec/installed-tests/gdk-pixbuf";
const fs::path PixbufImages = Pixbuf / "test-images";

class Samples : public ::testing::Test {
protected:
  void SetUp() override {
    if (fs::exists(fs::path(GF_BCM_SAMPLES) / "UNAVAILABLE"))
      GTEST_SKIP() << "sample packages could not be fetched";
    FDir.emplace("gf_bcm_samples_");
  }
  std::optional<TPnm> Reference(const std::string& Command, const fs::path& File) {
    return NetpbmReference(Command, File, FDir->Dir());
  }

  std::optional<TTestDir> FDir;
};

TEST_F(Samples, SdlPictureReadsTheSameInEveryFormat) {
  TReadResult tga = ReadFile((Sdl / "sample.tga").string(), BcmFormatTga);
  TReadResult pcx = ReadFile((Sdl / "sample.pcx").string(), BcmFormatPcx);
  ASSERT_EQ(tga.Rc(), BcmOk) << BcmErrorText(tga.Rc());
  ASSERT_EQ(pcx.Rc(), BcmOk) << BcmErrorText(pcx.Rc());
  EXPECT_EQ(tga.Image.Bitmap.Width, 23);
  EXPECT_EQ(tga.Image.Bitmap.Height, 42);
  ExpectSamePixels(tga.Image, pcx.Image);
  if (auto png = Reference("pngtopnm", Sdl / "sample.png"))
    ExpectPixels(tga.Image, *png);

  // The BMPs carry 124-byte information headers: true colour, the same pixels; and
  // the picture in 24 colours of a palette, as netpbm reads it.
  TReadResult bmp = ReadFile((Sdl / "sample.bmp").string(), BcmFormatBmp);
  ASSERT_EQ(bmp.Rc(), BcmOk) << BcmErrorText(bmp.Rc());
  ExpectSamePixels(bmp.Image, tga.Image);
  TReadResult palette = ReadFile((Sdl / "palette.bmp").string(), BcmFormatBmp);
  ASSERT_EQ(palette.Rc(), BcmOk) << BcmErrorText(palette.Rc());
  EXPECT_EQ(palette.Image.Bitmap.BitsPerPixel, 8);
  if (auto viaNetpbm = Reference("bmptopnm", Sdl / "palette.bmp"))
    ExpectPixels(palette.Image, *viaNetpbm);
  if (auto viaNetpbm = Reference("bmptopnm", Sdl / "sample.bmp")) {
    ExpectPixels(tga.Image, *viaNetpbm);
    const std::string rewritten = FDir->Path("sample40.bmp");
    ASSERT_TRUE(RunQuietly("bmptopnm '" + (Sdl / "sample.bmp").string() +
                           "' 2>/dev/null | ppmtobmp -bpp=24 >'" + rewritten + "'"));
    TReadResult again = ReadFile(rewritten, BcmFormatBmp);
    ASSERT_EQ(again.Rc(), BcmOk);
    ExpectSamePixels(again.Image, tga.Image);
  }
}

TEST_F(Samples, PixbufTargaReferenceSet) {
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(PixbufImages / "reftests/tga")) {
    const fs::path file = entry.path();
    if (file.extension() != ".tga")
      continue;
    const std::string name = file.filename().string();
    SCOPED_TRACE(name);
    TReadResult r = ReadFile(file.string(), BcmFormatTga);
    // Grey with alpha (16 bits of grey pictures) is not a depth the reader takes.
    if (name.find("gray-16bpp") != std::string::npos ||
        name.find("gray-rle-16bpp") != std::string::npos) {
      EXPECT_EQ(r.Header, BcmErrTgaDepth);
      continue;
    }
    ASSERT_EQ(r.Rc(), BcmOk) << BcmErrorText(r.Rc());
    fs::path ref = file;
    ref += ".ref.png";
    auto png = Reference("pngtopnm", ref);
    if (!png)
      GTEST_SKIP() << "pngtopnm is missing";
    // 5-bit channels: the reference widens them with their top bits, the reader with 0.
    const bool sixteen = name.find("16bpp") != std::string::npos;
    ExpectPixels(r.Image, *png, sixteen ? 0xF8F8F8 : 0xFFFFFF);
    ++compared;
  }
  EXPECT_EQ(compared, 36);
}

TEST_F(Samples, PixbufFailingAndDamagedFiles) {
  struct Case {
    const char* File;
    int Format;
    int Rc; // the first error of header, palette and data; none of them crashes
  };
  const std::vector<Case> cases = {
      {"test-images/fail/DoS.tga", BcmFormatTga, BcmErrTgaMapEntrySize},
      {"test-images/fail/androstanRezeptor.tga", BcmFormatTga, BcmErrRead}, // header only
      {"test-images/fail/colormap-image-without-colormap.tga", BcmFormatTga, BcmErrTgaMapEntrySize},
      {"test-images/fail/empty-file.tga", BcmFormatTga, BcmErrRead},
      {"test-images/fail/overflow.tga", BcmFormatTga, BcmErrBadSize},
      {"test-images/reftests/colormap-too-small.tga", BcmFormatTga, BcmErrTgaMapEntrySize},
      // 131168 x 4096 in RLE4, its stream whole up to the end-of-bitmap code: it reads.
      {"test-images/fail/bug776694.bmp", BcmFormatBmp, BcmOk},
      {"test-images/fail/bug777315.bmp", BcmFormatBmp, BcmErrBadSize},
      {"test-images/fail/invalid.1.bmp", BcmFormatBmp, BcmErrBmpCompression},
      {"cve-2015-4491.bmp", BcmFormatBmp, BcmErrBadSize},
      {"test-images/randomly-modified/bmp-line-overflow.bmp", BcmFormatBmp, BcmErrBmpPlanes},
      {"test-images/randomly-modified/bug775242.bmp", BcmFormatBmp, BcmErrBadSize},
      {"test-images/randomly-modified/decodecolormap.bmp", BcmFormatBmp, BcmErrRead},
      {"test-images/reftests/mandatory-bitmasks.bmp", BcmFormatBmp, BcmErrBmpBitCount},
  };
  for (const Case& c : cases) {
    TReadResult r = ReadFile((Pixbuf / c.File).string(), c.Format);
    EXPECT_EQ(r.Rc(), c.Rc) << c.File << ": " << BcmErrorText(r.Rc());
  }
}

TEST_F(Samples, PixbufFilesThatRead) {
  struct Case {
    const char* File;
    int Format;
    const char* Reference; // a PNG beside the file, or a netpbm reader
  };
  const std::vector<Case> cases = {
      {"reftests/rle-too-many-pixels.tga", BcmFormatTga, "png"},
      {"reftests/rle-too-many-pixels-2.tga", BcmFormatTga, "png"},
      {"randomly-modified/valid.1.tga", BcmFormatTga, "tgatoppm"},
      {"randomly-modified/valid.2.tga", BcmFormatTga, "tgatoppm"},
      {"randomly-modified/valid.1.bmp", BcmFormatBmp, "bmptopnm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    const fs::path file = PixbufImages / c.File;
    TReadResult r = ReadFile(file.string(), c.Format);
    ASSERT_EQ(r.Rc(), BcmOk) << BcmErrorText(r.Rc());
    fs::path png = file;
    png += ".ref.png";
    auto ref = std::string(c.Reference) == "png" ? Reference("pngtopnm", png)
                                                 : Reference(c.Reference, file);
    if (ref)
      ExpectPixels(r.Image, *ref);
  }
}

} // namespace
