#include "PngGraphic.h"
#include "ByteOrder.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace gf;
using namespace gf::test;

namespace {

// The data of the first chunk of a type; empty when there is none.
std::vector<uint8_t> Chunk(const std::vector<uint8_t>& Png, const char* Type) {
  for (std::size_t p = 8; p + 12 <= Png.size();) {
    const uint32_t n = Be32(&Png[p]);
    if (std::memcmp(&Png[p + 4], Type, 4) == 0)
      return std::vector<uint8_t>(Png.begin() + static_cast<long>(p + 8),
                                  Png.begin() + static_cast<long>(p + 8 + n));
    p += 12 + n;
  }
  return {};
}

// A PNG written by libpng's simplified writer, independent of the class.
std::vector<uint8_t> SimplePng(int W, int H, png_uint_32 Format, const std::vector<uint8_t>& Px) {
  png_image im{};
  im.version = PNG_IMAGE_VERSION;
  im.width = static_cast<png_uint_32>(W);
  im.height = static_cast<png_uint_32>(H);
  im.format = Format;
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_to_memory(&im, nullptr, &size, 0, Px.data(), 0, nullptr));
  std::vector<uint8_t> out(size);
  EXPECT_TRUE(png_image_write_to_memory(&im, out.data(), &size, 0, Px.data(), 0, nullptr));
  out.resize(size);
  return out;
}

// Png without the chunks of one type (for example no gAMA and no sRGB).
std::vector<uint8_t> WithoutChunk(const std::vector<uint8_t>& Png, const char* Type) {
  std::vector<uint8_t> out(Png.begin(), Png.begin() + 8);
  for (std::size_t p = 8; p + 12 <= Png.size();) {
    const uint32_t n = Be32(&Png[p]);
    if (std::memcmp(&Png[p + 4], Type, 4) != 0)
      out.insert(out.end(), Png.begin() + static_cast<long>(p),
                 Png.begin() + static_cast<long>(p + 12 + n));
    p += 12 + n;
  }
  return out;
}

} // namespace

TEST(PngGraphic, SaveThenLoadEveryFormat) {
  // A file gamma that cancels the screen gamma leaves the pixels as saved.
  const double screen = ScreenGamma;
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f)
    for (bool interlaced : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "format " << f << " interlaced " << interlaced);
      TMaxLogPalette custom{};
      custom.palVersion = 0x300;
      custom.palNumEntries = 7;
      for (int i = 0; i < 7; ++i)
        custom.palPalEntry[i] = {static_cast<uint8_t>(i * 30), static_cast<uint8_t>(255 - i),
                                 static_cast<uint8_t>(i * i), 0};
      const bool colour = f == ifColor16 || f == ifColor256;
      TPngGraphic g;
      g.NewImage(13, 9, static_cast<TImageFormat>(f), colour ? &custom : nullptr, 72, 300);
      FillPattern(g);
      g.Gamma = 1 / screen;
      g.Interlaced = interlaced;
      TMemoryStream s;
      g.SaveToStream(s);
      const auto png = BytesOf(s);
      const auto ihdr = Chunk(png, "IHDR");
      ASSERT_EQ(ihdr.size(), 13u);
      EXPECT_EQ(ihdr[8], std::min(BitsPerPixel(static_cast<TImageFormat>(f)), 8));
      EXPECT_EQ(ihdr[9], PngColorType(static_cast<TImageFormat>(f)));
      EXPECT_EQ(ihdr[12], interlaced ? 1 : 0);
      const auto phys = Chunk(png, "pHYs");
      ASSERT_EQ(phys.size(), 9u);
      EXPECT_EQ(Be32(&phys[0]), 2835u);
      EXPECT_EQ(Be32(&phys[4]), 11811u);
      if (colour) {
        EXPECT_EQ(Chunk(png, "PLTE").size(), 7u * 3);
      }

      s.SetPosition(0);
      TPngGraphic back;
      back.LoadFromStream(s);
      ASSERT_EQ(back.ImageFormat(), f);
      ASSERT_EQ(back.GetWidth(), 13);
      EXPECT_EQ(back.GetXDpi(), 72);
      EXPECT_EQ(back.GetYDpi(), 300);
      // 1- and 2-bit images have no gamma handling and keep the default.
      EXPECT_NEAR(back.Gamma, f == ifBlackWhite ? 0.5 : 1 / screen, 1e-5);
      for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x)
          ASSERT_EQ(back.GetPixelColor(x, y), g.GetPixelColor(x, y)) << x << "," << y;
      if (colour) {
        EXPECT_EQ(back.ImagePalette().palNumEntries, 7);
        EXPECT_EQ(std::memcmp(back.ImagePalette().palPalEntry, custom.palPalEntry, 7 * 4), 0);
      }
    }
}

TEST(PngGraphic, DefaultSaveAndGamma) {
  TPngGraphic g;
  g.NewImage(4, 4, ifTrueColor, nullptr, 0, 0);
  TMemoryStream s;
  g.SaveToStream(s);
  const auto png = BytesOf(s);
  EXPECT_EQ(Be32(Chunk(png, "gAMA").data()), 50000u); // 0.5
  EXPECT_EQ(Chunk(png, "IHDR")[12], 1);               // Adam7
  EXPECT_EQ(Be32(Chunk(png, "pHYs").data()), 3780u);  // 96 dpi
  EXPECT_TRUE(Chunk(png, "bKGD").empty());
  EXPECT_TRUE(Chunk(png, "tRNS").empty());

  // Without gAMA the file gamma is taken as 0.5.
  const std::vector<uint8_t> grey = {0, 64, 128, 255};
  auto plain =
      StreamOf(WithoutChunk(WithoutChunk(SimplePng(4, 1, PNG_FORMAT_GRAY, grey), "gAMA"), "sRGB"));
  TPngGraphic a;
  a.Gamma = 0.3;
  a.LoadFromStream(*plain);
  EXPECT_EQ(a.ImageFormat(), ifGray256);
  EXPECT_DOUBLE_EQ(a.Gamma, 0.5);
}

TEST(PngGraphic, TransparencyAndBackgroundChunks) {
  TPngGraphic g;
  g.NewImage(4, 2, ifColor16, nullptr, 0, 0);
  g.SaveTransparency = true;
  g.TransparentColor = RGBToColor(255, 85, 85); // entry 12
  g.SaveBackground = true;
  g.BackgroundColor = RGBToColor(0, 0, 170); // entry 1
  TMemoryStream s;
  g.SaveToStream(s);
  const auto png = BytesOf(s);
  const auto trns = Chunk(png, "tRNS");
  ASSERT_EQ(trns.size(), 16u); // one per palette entry
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(trns[static_cast<std::size_t>(i)], i == 12 ? 0 : 255);
  EXPECT_EQ(Chunk(png, "bKGD"), std::vector<uint8_t>{1});

  // A 256-colour image with a short palette: tRNS is as long as the palette.
  TMaxLogPalette four{};
  four.palNumEntries = 4;
  four.palPalEntry[3] = {9, 9, 9, 0};
  TPngGraphic p;
  p.NewImage(2, 2, ifColor256, &four, 0, 0);
  p.SaveTransparency = true;
  p.TransparentColor = RGBToColor(9, 9, 9);
  TMemoryStream s2;
  p.SaveToStream(s2);
  EXPECT_EQ(Chunk(BytesOf(s2), "tRNS"), (std::vector<uint8_t>{255, 255, 255, 0}));

  TPngGraphic t;
  t.NewImage(2, 2, ifTrueColor, nullptr, 0, 0);
  t.SaveTransparency = true;
  t.TransparentColor = RGBToColor(1, 2, 3);
  TMemoryStream s3;
  t.SaveToStream(s3);
  EXPECT_EQ(Chunk(BytesOf(s3), "tRNS"), (std::vector<uint8_t>{0, 1, 0, 2, 0, 3}));

  for (TImageFormat f : {ifBlackWhite, ifGray16, ifGray256}) {
    TPngGraphic grey;
    grey.NewImage(2, 2, f, nullptr, 0, 0);
    grey.SaveTransparency = true;
    TMemoryStream out;
    EXPECT_EQ(ErrorOf([&] { grey.SaveToStream(out); }),
              "Gray scale transparent PNG images are not supported.\r"
              "Use the ifColor16 or ifColor256 image format instead.");
    EXPECT_EQ(out.GetSize(), 0);
  }
}

TEST(PngGraphic, AnEmptyImageIsNotSaved) {
  struct TCase {
    bool Background, Transparency;
  };
  for (const TCase& c : {TCase{false, false}, TCase{true, false}, TCase{false, true}}) {
    SCOPED_TRACE(::testing::Message()
                 << "background " << c.Background << " transparency " << c.Transparency);
    // Empty from the start, and emptied after holding a palette image.
    for (bool emptied : {false, true}) {
      TPngGraphic g;
      if (emptied) {
        g.NewImage(3, 3, ifColor256, nullptr, 0, 0);
        g.FreeImage();
      }
      g.SaveBackground = c.Background;
      g.SaveTransparency = c.Transparency;
      TMemoryStream out;
      EXPECT_EQ(ErrorOf([&] { g.SaveToStream(out); }), "Image is empty");
      EXPECT_EQ(out.GetSize(), 0);
    }
  }
}

TEST(PngGraphic, AlphaCompositesAgainstTheBackground) {
  const double screen = ScreenGamma;
  ScreenGamma = 1.0 / 0.45455; // the simplified writer's sRGB gamma: no correction
  // Grey with alpha: opaque 200, fully transparent, half transparent 100.
  auto ga = SimplePng(3, 1, PNG_FORMAT_GA, {200, 255, 77, 0, 100, 128});
  TPngGraphic g;
  g.BackgroundColor = RGBToColor(128, 128, 128);
  auto s = StreamOf(ga);
  g.LoadFromStream(*s);
  EXPECT_EQ(g.ImageFormat(), ifGray256);
  EXPECT_EQ(g.GetPixelIndex(0, 0), 200);
  EXPECT_EQ(g.GetPixelIndex(1, 0), 128); // the grey field of the background
  EXPECT_NEAR(g.GetPixelIndex(2, 0), 114, 2);

  auto rgba = SimplePng(2, 1, PNG_FORMAT_RGBA, {10, 20, 30, 255, 99, 99, 99, 0});
  TPngGraphic c;
  c.BackgroundColor = RGBToColor(1, 2, 250);
  auto s2 = StreamOf(rgba);
  c.LoadFromStream(*s2);
  EXPECT_EQ(c.ImageFormat(), ifTrueColor);
  EXPECT_EQ(c.GetPixelColor(0, 0), RGBToColor(10, 20, 30));
  EXPECT_EQ(c.GetPixelColor(1, 0), RGBToColor(1, 2, 250));
  ScreenGamma = screen;
}

TEST(PngGraphic, ResolutionAboveTheRangeIsDropped) {
  TPngGraphic g;
  g.NewImage(2, 2, ifGray256, nullptr, 600, 600);
  g.Interlaced = false;
  TMemoryStream s;
  g.SaveToStream(s);
  auto png = BytesOf(s);
  // Rewrite pHYs to 3 000 000 pixels per metre (76 200 dpi) with its CRC.
  for (std::size_t p = 8; p + 12 <= png.size();) {
    const uint32_t n = Be32(&png[p]);
    if (std::memcmp(&png[p + 4], "pHYs", 4) == 0) {
      const uint8_t v[4] = {0x00, 0x2D, 0xC6, 0xC0};
      std::memcpy(&png[p + 8], v, 4);
      std::memcpy(&png[p + 12], v, 4);
      const uint32_t crc = static_cast<uint32_t>(crc32(0, &png[p + 4], 4 + n));
      PutBe32(&png[p + 8 + n], crc);
    }
    p += 12 + n;
  }
  auto in = StreamOf(png);
  TPngGraphic back;
  back.LoadFromStream(*in);
  EXPECT_EQ(back.GetXDpi(), 96); // 0, so the screen's
}

TEST(PngGraphic, DamagedStreams) {
  TPngGraphic g;
  g.NewImage(40, 30, ifTrueColor, nullptr, 0, 0);
  FillPattern(g);
  g.Interlaced = false;
  g.Gamma = 1 / ScreenGamma; // loads back unchanged
  TMemoryStream s;
  g.SaveToStream(s);
  const auto good = BytesOf(s);

  for (const auto& head : {std::vector<uint8_t>{}, std::vector<uint8_t>{0x89, 'P', 'N'},
                           std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0}}) {
    auto in = StreamOf(head);
    TPngGraphic b;
    EXPECT_EQ(ErrorOf([&] { b.LoadFromStream(*in); }), "PNG file is not valid or corrupted");
  }
  // Cut anywhere before the end chunk (which is never read): the stream's read
  // error or libpng's message, never a crash.
  for (std::size_t cut = 9; cut < good.size() - 12; cut += 7) {
    auto in = StreamOf(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(cut)));
    TPngGraphic b;
    try {
      b.LoadFromStream(*in);
      ADD_FAILURE() << "cut at " << cut << " loaded";
    } catch (const EStreamError&) {
    } catch (const EPNGError&) {
    }
  }
  // A damaged IHDR is libpng's own error.
  auto bad = good;
  bad[8 + 8] = 0xFF; // width's top byte: the CRC no longer matches
  auto in = StreamOf(bad);
  TPngGraphic b;
  EXPECT_THROW(b.LoadFromStream(*in), EPNGError);

  // A damaged ancillary chunk is a warning; the image still loads.
  auto warn = good;
  for (std::size_t p = 8; p + 12 <= warn.size();) {
    const uint32_t n = Be32(&warn[p]);
    if (std::memcmp(&warn[p + 4], "pHYs", 4) == 0)
      warn[p + 8 + n] ^= 0xFF;
    p += 12 + n;
  }
  auto win = StreamOf(warn);
  TPngGraphic w;
  w.LoadFromStream(*win);
  EXPECT_FALSE(w.Warnings().empty());
  EXPECT_EQ(w.GetPixelColor(5, 5), g.GetPixelColor(5, 5));
}

namespace {
// A stream that accepts only Limit bytes, like a full disk.
class TFullStream : public TMemoryStream {
public:
  explicit TFullStream(std::size_t Limit) : FLimit(Limit) {}
  std::size_t Write(const void* Buffer, std::size_t Count) override {
    const std::size_t n =
        std::min<std::size_t>(Count, FLimit - std::min<std::size_t>(FLimit, GetSize()));
    return n ? TMemoryStream::Write(Buffer, n) : 0;
  }

private:
  std::size_t FLimit;
};
} // namespace

// The size comes from the header chunks, without decoding the rows; what is no PNG
// raises as a load would.
TEST(PngGraphic, SizeIsReadWithoutDecoding) {
  TPngGraphic g;
  g.NewImage(37, 11, ifTrueColor, nullptr, 0, 0);
  TMemoryStream s;
  g.SaveToStream(s);
  s.SetPosition(0);
  TPngGraphic reader;
  std::optional<TImageSize> size = reader.ReadImageSize(s, 1);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(size->Width, 37);
  EXPECT_EQ(size->Height, 11);
  EXPECT_TRUE(reader.GetEmpty());
  auto other = StreamOf(std::vector<uint8_t>(64, 'x'));
  EXPECT_EQ(ErrorOf([&] { reader.ReadImageSize(*other, 1); }),
            "PNG file is not valid or corrupted");
}

TEST(PngGraphic, ShortWriteIsAnError) {
  TPngGraphic g;
  g.NewImage(64, 64, ifTrueColor, nullptr, 0, 0);
  FillPattern(g);
  TFullStream s(100);
  EXPECT_THROW(g.SaveToStream(s), EStreamError);
}

TEST(PngGraphic, ThroughTheRegistryIntoABitmap) {
  RegisterPngGraphic();
  const TGraphicClass* cls = TPicture::FileFormatClass("png");
  ASSERT_EQ(cls, &TPngGraphic::Class);
  auto in = StreamOf(SimplePng(2, 2, PNG_FORMAT_RGB, {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9}));
  std::unique_ptr<TGraphic> graphic = cls->Create();
  graphic->LoadFromStream(*in);
  TBitmap bmp;
  bmp.Assign(graphic.get());
  ASSERT_EQ(bmp.GetWidth(), 2);
  EXPECT_EQ(bmp.GetPixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(bmp.Canvas().GetPixel(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(bmp.Canvas().GetPixel(1, 1), RGB(9, 9, 9));
  // The rows a window copies: top row first, blue, green, red.
  EXPECT_EQ(bmp.ScanLine(0)[3 + 1], 255);
}
