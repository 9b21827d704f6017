#include "DibGraphic.h"
#include "Clipboard.h"
#include "IconGraphic.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace gf;
using namespace gf::test;

namespace {

TMaxLogPalette MakePalette(std::initializer_list<TPaletteEntry> Entries) {
  TMaxLogPalette p{};
  p.palVersion = 0x300;
  for (const auto& e : Entries)
    p.palPalEntry[p.palNumEntries++] = e;
  return p;
}

} // namespace

TEST(DibGraphic, GeometryPerFormatAndWidth) {
  struct TCase {
    int Width, Height;
    TImageFormat Format;
    uint32_t RowSize, ImageSize;
    int Colours;
    const char* Name;
  };
  const TCase cases[] = {
      {3, 2, ifBlackWhite, 4, 8, 2, "Black and white"},
      {33, 1, ifBlackWhite, 8, 8, 2, "Black and white"},
      {7, 3, ifGray16, 4, 12, 16, "16 shades of gray"},
      {9, 2, ifColor16, 8, 16, 16, "16 color"},
      {5, 2, ifGray256, 8, 16, 256, "256 shades of gray"},
      {4, 1, ifColor256, 4, 4, 256, "256 color"},
      {1, 1, ifTrueColor, 4, 4, 0, "True color"},
      {5, 3, ifTrueColor, 16, 48, 0, "True color"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TDibGraphic g;
    g.NewImage(c.Width, c.Height, c.Format, nullptr, 0, 0);
    EXPECT_EQ(g.RowSize(), c.RowSize);
    EXPECT_EQ(g.ImageSize(), c.ImageSize);
    EXPECT_EQ(g.BitmapInfo().bmiHeader.biClrUsed, static_cast<uint32_t>(c.Colours));
    EXPECT_EQ(g.ImagePalette().palNumEntries, c.Colours);
    EXPECT_EQ(g.BitmapInfo().bmiHeader.biBitCount, BitsPerPixel(c.Format));
    EXPECT_EQ(g.GetWidth(), c.Width);
    EXPECT_EQ(g.GetHeight(), c.Height);
    EXPECT_EQ(g.GetXDpi(), 96); // the screen's
    EXPECT_EQ(ImageFormatName(c.Format), c.Name);
    EXPECT_EQ(g.GetPaletteHandle() != nullptr, c.Colours > 0);
  }
  EXPECT_EQ(ImageFormatName(static_cast<TImageFormat>(6)), "");
  EXPECT_EQ(ErrorOf([] { BitsPerPixel(static_cast<TImageFormat>(6)); }),
            "Internal error: Invalid image format");
  // Colour table: palette entries with red and blue exchanged.
  TDibGraphic g;
  g.NewImage(2, 2, ifColor16, nullptr, 0, 0);
  const TRGBQuad q = g.BitmapInfo().bmiColors[6];
  EXPECT_EQ(q.rgbRed, 170);
  EXPECT_EQ(q.rgbGreen, 85);
  EXPECT_EQ(q.rgbBlue, 0);
}

TEST(DibGraphic, ScanLineAddressesAndDpi) {
  TDibGraphic g;
  g.NewImage(5, 4, ifGray256, nullptr, 0, 0);
  EXPECT_EQ(g.ScanLine(3), g.Bits());
  EXPECT_EQ(g.ScanLine(0), g.Bits() + 3 * 8);
  EXPECT_EQ(g.ScanLine(1) - g.ScanLine(2), 8);

  struct TCase {
    uint16_t Dpi;
    int32_t Ppm;
  };
  for (const auto& c : {TCase{72, 2835}, TCase{96, 3780}, TCase{300, 11811}}) {
    g.SetXDpi(c.Dpi);
    g.SetYDpi(c.Dpi);
    EXPECT_EQ(g.BitmapInfo().bmiHeader.biXPelsPerMeter, c.Ppm);
    EXPECT_EQ(g.BitmapInfo().bmiHeader.biYPelsPerMeter, c.Ppm);
    EXPECT_EQ(g.GetXDpi(), c.Dpi);
    EXPECT_EQ(g.GetYDpi(), c.Dpi);
    TDibGraphic h;
    h.NewImage(1, 1, ifTrueColor, nullptr, c.Dpi, c.Dpi);
    EXPECT_EQ(h.GetXDpi(), c.Dpi);
  }
  EXPECT_EQ(PixelsPerMetreToDpi(-5), 0);
  EXPECT_EQ(PixelsPerMetreToDpi(int64_t{3000000}), 0); // above 65535 dpi
}

// The header, colour table and rows belong to the bitmap alone: once it is freed,
// nothing of the old picture answers.
TEST(DibGraphic, FreedImageKeepsNothingOfItsBitmap) {
  TDibGraphic g;
  g.NewImage(5, 3, ifColor16, nullptr, 300, 72);
  ASSERT_NE(g.Bits(), nullptr);
  EXPECT_EQ(g.ScanLine(2), g.Bits());
  EXPECT_EQ(g.BitmapInfo().bmiHeader.biSizeImage, g.ImageSize());
  EXPECT_EQ(g.BitmapInfo().bmiColors[15].rgbRed, 255);
  EXPECT_EQ(g.GetXDpi(), 300);
  EXPECT_EQ(g.GetYDpi(), 72);
  g.FreeImage();
  EXPECT_TRUE(g.GetEmpty());
  EXPECT_EQ(g.GetWidth(), 0);
  EXPECT_EQ(g.GetHeight(), 0);
  EXPECT_EQ(g.Bits(), nullptr);
  EXPECT_EQ(g.ScanLine(0), nullptr);
  EXPECT_EQ(g.ImageSize(), 0u);
  EXPECT_EQ(g.RowSize(), 0u);
  EXPECT_EQ(g.GetXDpi(), 0);
  EXPECT_EQ(g.BitmapInfo().bmiHeader.biWidth, 0);
  EXPECT_EQ(g.BitmapInfo().bmiColors[15].rgbRed, 0);
}

TEST(DibGraphic, HostileSizesFailCleanly) {
  struct TCase {
    int W, H;
    TImageFormat F;
  };
  const TCase cases[] = {{0, 5, ifTrueColor},
                         {5, 0, ifGray256},
                         {-1, 5, ifTrueColor},
                         {5, -7, ifBlackWhite},
                         {65536, 65536, ifTrueColor},
                         {2147483647, 2147483647, ifTrueColor},
                         {2147483647, 1, ifTrueColor},
                         {1, 2147483647, ifBlackWhite},
                         {INT32_MIN, INT32_MIN, ifColor16}};
  for (const auto& c : cases) {
    TDibGraphic g;
    g.NewImage(2, 2, ifGray256, nullptr, 0, 0);
    EXPECT_EQ(ErrorOf([&] { g.NewImage(c.W, c.H, c.F, nullptr, 0, 0); }), "CreateDibSection failed")
        << c.W << " x " << c.H;
    EXPECT_TRUE(g.GetEmpty());
    EXPECT_EQ(g.GetWidth(), 0);
  }
  TDibGraphic g;
  EXPECT_EQ(ErrorOf([&] { g.NewImage(2, 2, static_cast<TImageFormat>(9), nullptr, 0, 0); }),
            "Internal error: Invalid image format");
  EXPECT_TRUE(g.GetEmpty());
  EXPECT_EQ(ErrorOf([&] { g.SetWidth(4); }), "Dimensions must be change with the NewImage method");
  EXPECT_EQ(ErrorOf([&] { g.SetHeight(4); }), "Dimensions must be change with the NewImage method");
}

TEST(DibGraphic, LongPaletteIsCutToTheFormat) {
  // 256 entries offered to a 16-colour image: indices above 15 would spill into the
  // neighbouring pixel's nibble.
  TMaxLogPalette big{};
  big.palVersion = 0x300;
  big.palNumEntries = 300;
  for (int i = 0; i < 256; ++i)
    big.palPalEntry[i] = {static_cast<uint8_t>(i), 0, 0, 0};
  TDibGraphic g;
  g.NewImage(4, 1, ifColor16, &big, 0, 0);
  EXPECT_EQ(g.ImagePalette().palNumEntries, 16);
  EXPECT_EQ(g.BitmapInfo().bmiHeader.biClrUsed, 16u);
  g.SetPixelIndex(0, 0, 3);
  g.SetPixelColor(1, 0, RGBToColor(200, 0, 0)); // nearest of entries 0..15 is 15
  EXPECT_EQ(g.GetPixelIndex(0, 0), 3);
  EXPECT_EQ(g.GetPixelIndex(1, 0), 15);
  TDibGraphic bw;
  bw.NewImage(8, 1, ifBlackWhite, &big, 0, 0);
  EXPECT_EQ(bw.ImagePalette().palNumEntries, 2);
}

TEST(DibGraphic, NewImageWithTheImagesOwnPalette) {
  for (TImageFormat f : {ifBlackWhite, ifGray16, ifGray256, ifColor16, ifColor256}) {
    SCOPED_TRACE(ImageFormatName(f));
    TMaxLogPalette custom{};
    custom.palVersion = 0x300;
    custom.palNumEntries = 2;
    custom.palPalEntry[0] = {10, 20, 30, 0};
    custom.palPalEntry[1] = {200, 150, 100, 0};
    TDibGraphic g;
    g.NewImage(4, 3, f, &custom, 72, 72);
    g.SetPixelIndex(1, 1, 1);
    // Made again, larger, from its own palette: the colours stay.
    g.NewImage(6, 5, f, &g.ImagePalette(), 72, 72);
    ASSERT_EQ(g.ImagePalette().palNumEntries, 2);
    EXPECT_EQ(std::memcmp(g.ImagePalette().palPalEntry, custom.palPalEntry, 2 * 4), 0);
    EXPECT_EQ(g.BitmapInfo().bmiColors[1].rgbRed, 200);
    g.SetPixelIndex(5, 4, 1);
    EXPECT_EQ(g.GetPixelColor(5, 4), RGBToColor(200, 150, 100));
    g.SetPixelColor(0, 0, RGBToColor(12, 20, 30)); // nearest: entry 0
    EXPECT_EQ(g.GetPixelIndex(0, 0), 0);
  }
}

TEST(DibGraphic, PixelAccessThroughPalette) {
  TDibGraphic g;
  g.NewImage(4, 2, ifColor16, nullptr, 0, 0);
  g.SetPixelColor(1, 1, 0x00AA0000);
  EXPECT_EQ(g.GetPixelIndex(1, 1), 4);
  EXPECT_EQ(g.GetPixelColor(1, 1), 0x00AA0000u);
  EXPECT_EQ(g.ScanLine(1)[0], 0x04);

  TMaxLogPalette tie = MakePalette({{0, 0, 0, 0}, {20, 20, 20, 0}, {20, 20, 20, 0}});
  TDibGraphic t;
  t.NewImage(2, 1, ifColor256, &tie, 0, 0);
  t.SetPixelColor(0, 0, RGBToColor(20, 20, 20));
  EXPECT_EQ(t.GetPixelIndex(0, 0), 1);

  TDibGraphic tc;
  tc.NewImage(2, 2, ifTrueColor, nullptr, 0, 0);
  tc.SetPixelColor(1, 0, 0x00102030);
  EXPECT_EQ(tc.GetPixelColor(1, 0), 0x00102030u);
  EXPECT_EQ(tc.ScanLine(0)[3], 0x30);
  EXPECT_EQ(ErrorOf([&] { tc.GetPixelIndex(0, 0); }), "The image does not have a palette");
  EXPECT_EQ(ErrorOf([&] { tc.SetPixelIndex(0, 0, 1); }), "The image does not have a palette");
}

// Golden pixels of AssignTo(TBitmap), written from the palettes' published values.
TEST(DibGraphic, AssignToBitmapEveryFormat) {
  struct TCase {
    TImageFormat Format;
    uint32_t Values[3]; // indices, or colours for true colour
    TColorRef Want[3];
  };
  const TCase cases[] = {
      {ifBlackWhite, {1, 0, 1}, {RGB(255, 255, 255), 0, RGB(255, 255, 255)}},
      {ifGray16, {5, 0, 15}, {RGB(85, 85, 85), 0, RGB(255, 255, 255)}},
      {ifGray256, {200, 1, 255}, {RGB(200, 200, 200), RGB(1, 1, 1), RGB(255, 255, 255)}},
      {ifColor16, {4, 6, 9}, {RGB(170, 0, 0), RGB(170, 85, 0), RGB(85, 85, 255)}},
      {ifColor256, {40, 104, 30}, {RGB(255, 0, 0), RGB(0, 0, 113), RGB(227, 179, 179)}},
      {ifTrueColor,
       {0x00112233, 0x00FF0000, 0x000000FF},
       {RGB(0x11, 0x22, 0x33), RGB(255, 0, 0), RGB(0, 0, 255)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ImageFormatName(c.Format));
    TDibGraphic g;
    g.NewImage(3, 2, c.Format, nullptr, 0, 0);
    for (int x = 0; x < 3; ++x) {
      if (c.Format == ifTrueColor)
        g.SetPixelColor(x, 1, c.Values[x]);
      else
        g.SetPixelIndex(x, 1, static_cast<uint8_t>(c.Values[x]));
    }
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf8bit);
    bmp.Assign(&g); // reaches TDibGraphic::AssignTo
    EXPECT_EQ(bmp.GetPixelFormat(), TPixelFormat::pf24bit);
    ASSERT_EQ(bmp.GetWidth(), 3);
    ASSERT_EQ(bmp.GetHeight(), 2);
    for (int x = 0; x < 3; ++x) {
      const uint8_t* p = bmp.ScanLine(1) + 3 * x;
      EXPECT_EQ(RGB(p[2], p[1], p[0]), c.Want[x]) << "x " << x;
      EXPECT_EQ(bmp.Canvas().GetPixel(x, 0), 0u); // index 0, or black, everywhere else
    }
  }
}

TEST(DibGraphic, DrawScalesARectangleAwayFromTheOrigin) {
  TDibGraphic g;
  g.NewImage(20, 20, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      g.SetPixelColor(x, y, RGBToColor(static_cast<uint8_t>(x), static_cast<uint8_t>(y), 0));
  TBitmap target;
  target.SetSize(40, 40);
  int draws = 0;
  g.OnAfterDraw = [&](TDibGraphic& s) {
    EXPECT_EQ(&s, &g);
    ++draws;
  };
  // Right and bottom equal the image's size but the rectangle is 10 x 10: stretched.
  g.Draw(target.Canvas(), TRect{10, 10, 20, 20});
  EXPECT_EQ(target.Canvas().GetPixel(19, 19), RGB(18, 18, 0));
  EXPECT_EQ(target.Canvas().GetPixel(11, 10), RGB(2, 0, 0));
  // A rectangle of the image's own size elsewhere is an unscaled copy.
  g.Draw(target.Canvas(), TRect{15, 17, 35, 37});
  EXPECT_EQ(target.Canvas().GetPixel(15, 17), RGB(0, 0, 0));
  EXPECT_EQ(target.Canvas().GetPixel(34, 36), RGB(19, 19, 0));
  EXPECT_EQ(target.Canvas().GetPixel(16, 17), RGB(1, 0, 0));
  EXPECT_EQ(draws, 2);
}

TEST(DibGraphic, AssignKinds) {
  TDibGraphic src;
  src.NewImage(3, 2, ifColor16, nullptr, 72, 300);
  src.SetFrameInterval(55);
  src.SetPixelIndex(2, 1, 9);
  TDibGraphic dst;
  dst.Assign(&src);
  EXPECT_EQ(dst.ImageFormat(), ifColor16);
  EXPECT_EQ(dst.GetPixelIndex(2, 1), 9);
  EXPECT_EQ(dst.GetXDpi(), 72);
  EXPECT_EQ(dst.GetYDpi(), 300);
  EXPECT_EQ(dst.GetFrameInterval(), 55);
  dst.Assign(&dst); // itself: unchanged
  EXPECT_EQ(dst.GetPixelIndex(2, 1), 9);

  TDibGraphic empty;
  dst.Assign(&empty);
  EXPECT_TRUE(dst.GetEmpty());
  dst.Assign(&src);
  dst.Assign(nullptr);
  EXPECT_TRUE(dst.GetEmpty());

  // A platform bitmap of 8 bits keeps its colour table as the palette.
  TBitmap bmp;
  bmp.SetPixelFormat(TPixelFormat::pf8bit);
  bmp.SetSize(4, 3);
  TRGBQuad table[3] = {{0, 0, 0, 0}, {10, 20, 30, 0}, {200, 100, 50, 0}};
  bmp.SetColorTable(table, 3);
  bmp.ScanLine(0)[1] = 2;
  dst.Assign(&bmp);
  EXPECT_EQ(dst.ImageFormat(), ifColor256);
  EXPECT_EQ(dst.ImagePalette().palNumEntries, 3);
  EXPECT_EQ(dst.GetPixelColor(1, 0), RGBToColor(50, 100, 200));

  // Any other graphic draws itself onto a true-colour image.
  TIcon icon;
  auto image = std::make_unique<TIconImage>();
  image->Width = 2;
  image->Height = 1;
  image->Color = {RGB(9, 8, 7), RGB(1, 2, 3)};
  image->Mask = {0, 1};
  icon.SetHandle(std::move(image));
  dst.Assign(&icon);
  EXPECT_EQ(dst.ImageFormat(), ifTrueColor);
  EXPECT_EQ(dst.GetPixelColor(0, 0), RGBToColor(9, 8, 7));
  EXPECT_EQ(dst.GetPixelColor(1, 0), RGBToColor(1, 2, 3)); // black XOR colour

  struct TThing : TPersistent {
    std::string ClassName() const override { return "TThing"; }
  } thing;
  EXPECT_EQ(ErrorOf([&] { dst.Assign(&thing); }), "Cannot assign a TThing to a TDibGraphic");
  EXPECT_EQ(ErrorOf([&] { src.AssignTo(thing); }), "Cannot assign a TDibGraphic to a TThing");
  EXPECT_EQ(ErrorOf([&] { src.AppendToStream(*std::make_unique<TMemoryStream>()); }),
            "The TDibGraphic format does not support multiple images");
}

TEST(DibGraphic, LoadFromDIBHandle) {
  TBitmap bmp;
  bmp.SetPixelFormat(TPixelFormat::pf1bit);
  bmp.SetSize(9, 2);
  bmp.ScanLine(1)[1] = 0x80; // pixel 8 of the bottom row
  TDibGraphic g;
  g.LoadFromDIBHandle(bmp.Handle());
  EXPECT_EQ(g.ImageFormat(), ifBlackWhite);
  EXPECT_EQ(g.GetPixelIndex(8, 1), 1);
  EXPECT_EQ(g.GetPixelIndex(7, 1), 0);
  EXPECT_EQ(g.GetXDpi(), 96); // no resolution in the source: the screen's

  uint32_t info = 0, image = 0;
  GetBitmapInfoSizes(bmp.Handle(), info, image);
  EXPECT_EQ(info, 40u + 8u);
  EXPECT_EQ(image, 8u);
  bmp.SetPixelFormat(TPixelFormat::pf24bit);
  GetBitmapInfoSizes(bmp.Handle(), info, image);
  EXPECT_EQ(info, 40u);
  bmp.SetPixelFormat(TPixelFormat::pf4bit);
  g.LoadFromDIBHandle(bmp.Handle());
  EXPECT_EQ(g.ImageFormat(), ifColor16);

  EXPECT_EQ(ErrorOf([&] { g.LoadFromDIBHandle(nullptr); }), "Invalid bitmap");
  EXPECT_EQ(FormatFromBitCount(24), ifTrueColor);
  EXPECT_EQ(ErrorOf([] { FormatFromBitCount(16); }), "Unsupported bit count");
}

TEST(DibGraphic, ClipboardRoundTrip) {
  RegisterDibGraphic();
  EXPECT_EQ(TPicture::ClipboardFormatClass(CF_BITMAP), &TDibGraphic::Class);
  TDibGraphic src;
  src.NewImage(3, 3, ifColor16, nullptr, 0, 0);
  src.SetPixelIndex(1, 1, 12);
  Clipboard().Assign(&src);
  EXPECT_TRUE(Clipboard().HasFormat(CF_BITMAP));
  TDibGraphic dst;
  dst.Assign(&Clipboard());
  EXPECT_FALSE(Clipboard().IsOpen());
  EXPECT_EQ(dst.ImageFormat(), ifTrueColor);
  EXPECT_EQ(dst.GetPixelColor(1, 1), RGBToColor(255, 85, 85));

  TDibGraphic bw;
  bw.NewImage(10, 1, ifBlackWhite, nullptr, 0, 0);
  bw.SetPixelIndex(9, 0, 1);
  Clipboard().Assign(&bw);
  EXPECT_EQ(Clipboard().GetBitmap()->BitCount(), 1);
  dst.Assign(&Clipboard());
  EXPECT_EQ(dst.ImageFormat(), ifBlackWhite);
  EXPECT_EQ(dst.GetPixelIndex(9, 0), 1);

  EXPECT_EQ(ErrorOf([&] { dst.LoadFromClipboardFormat(8, Clipboard().GetBitmap(), nullptr); }),
            "Unknown clipboard format, 8");
  Clipboard().Clear();
  EXPECT_EQ(ErrorOf([&] { dst.Assign(&Clipboard()); }), "Unknown clipboard format, 2");
  EXPECT_FALSE(Clipboard().IsOpen());
  TDibGraphic none;
  uint16_t fmt = 0;
  std::unique_ptr<TDibSection> data;
  std::unique_ptr<TPaletteObject> pal;
  EXPECT_EQ(ErrorOf([&] { none.SaveToClipboardFormat(fmt, data, pal); }),
            "CopyBitmap: CreateBitmap failed");
  UnregisterDibGraphic();
  EXPECT_EQ(TPicture::ClipboardFormatClass(CF_BITMAP), nullptr);
}

TEST(DibGraphic, RegistryByExtension) {
  RegisterGraphicFormat("ico", "Icon", TIconGraphic::Class);
  const TGraphicClass* cls = TPicture::FileFormatClass(".ICO");
  ASSERT_EQ(cls, &TIconGraphic::Class);
  std::unique_ptr<TGraphic> made = cls->Create();
  EXPECT_EQ(made->ClassName(), "TIconGraphic");
  EXPECT_NE(dynamic_cast<TIconGraphic*>(made.get()), nullptr);
  TPicture::UnregisterGraphicClass(TIconGraphic::Class);
  EXPECT_EQ(TPicture::FileFormatClass("ico"), nullptr);
}

// A multi-image format for the frame tests: byte 0 of the stream is the image count,
// image i is a 1 x 1 grey image of level i.
namespace {
class TCountedGraphic : public TDibGraphic {
public:
  static const TGraphicClass Class;
  const TGraphicClass& ClassType() const override { return Class; }
  int GetImageCount(TStream& Stream) override {
    uint8_t n = 0;
    Stream.ReadBuffer(&n, 1);
    Stream.Seek(0, TSeekOrigin::End);
    return n;
  }
  void LoadFrame(TStream& Stream, int Index) override {
    uint8_t n = 0;
    Stream.ReadBuffer(&n, 1);
    NewImage(1, 1, ifGray256, nullptr, 0, 0);
    SetPixelIndex(0, 0, static_cast<uint8_t>(Index * 10 + n));
    SetFrameInterval(100 + Index);
  }
};
const TGraphicClass TCountedGraphic::Class = {
    "TCountedGraphic", [] { return std::unique_ptr<TGraphic>(new TCountedGraphic); }};

std::unique_ptr<TMemoryStream> Counted(uint8_t N) {
  auto s = std::make_unique<TMemoryStream>();
  s->WriteBuffer(&N, 1);
  s->SetPosition(0);
  return s;
}
} // namespace

TEST(DibGraphic, FramesWithAHandTickedTimer) {
  TCountedGraphic g;
  g.SetLoadAllFrames(true);
  auto three = Counted(3);
  int changes = 0;
  g.OnChange = [&](TGraphic&) { ++changes; };
  g.LoadFromStream(*three);
  ASSERT_EQ(g.FrameCount(), 3);
  EXPECT_EQ(g.GetCurrentFrame(), 1);
  EXPECT_EQ(g.GetPixelIndex(0, 0), 13);
  EXPECT_EQ(g.GetFrameInterval(), 101);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(g.FrameTimer().Enabled);
  g.FrameTimer().Tick(); // disabled: nothing
  EXPECT_EQ(g.GetCurrentFrame(), 1);

  g.SetAnimate(true);
  EXPECT_TRUE(g.FrameTimer().Enabled);
  EXPECT_EQ(g.FrameTimer().Interval, 101u);
  g.FrameTimer().Tick();
  EXPECT_EQ(g.GetCurrentFrame(), 2);
  EXPECT_EQ(g.GetPixelIndex(0, 0), 23);
  EXPECT_EQ(g.FrameTimer().Interval, 102u);
  g.FrameTimer().Tick();
  g.FrameTimer().Tick(); // wraps from the last to the first
  EXPECT_EQ(g.GetCurrentFrame(), 1);
  EXPECT_EQ(changes, 4);

  for (int bad : {0, 4, -1}) {
    EXPECT_EQ(ErrorOf([&] { g.SetCurrentFrame(bad); }),
              "Frame " + std::to_string(bad) + " does not exist");
  }
  g.SetCurrentFrame(1); // the current one: nothing
  EXPECT_EQ(changes, 4);

  // A second load replaces the frames and shows the new stream's first image.
  auto two = Counted(2);
  g.LoadFromStream(*two);
  EXPECT_EQ(g.FrameCount(), 2);
  EXPECT_EQ(g.GetCurrentFrame(), 1);
  EXPECT_EQ(g.GetPixelIndex(0, 0), 12);
  EXPECT_TRUE(g.GetAnimate());
  EXPECT_TRUE(g.FrameTimer().Enabled);

  // One image: loaded into the image itself, and LoadAllFrames goes off.
  auto one = Counted(1);
  g.LoadFromStream(*one);
  EXPECT_FALSE(g.GetLoadAllFrames());
  EXPECT_EQ(g.FrameCount(), 0);
  EXPECT_EQ(g.GetPixelIndex(0, 0), 11);
  EXPECT_FALSE(g.FrameTimer().Enabled);

  // No image at all.
  g.SetLoadAllFrames(true);
  auto none = Counted(0);
  EXPECT_EQ(ErrorOf([&] { g.LoadFromStream(*none); }), "Frame 1 does not exist");
  EXPECT_EQ(g.FrameCount(), 0);

  // FrameIndex picks the image without LoadAllFrames.
  TCountedGraphic single;
  single.SetFrameIndex(2);
  auto again = Counted(3);
  single.LoadFromStream(*again);
  EXPECT_EQ(single.GetPixelIndex(0, 0), 23);
}

TEST(DibGraphic, DestroyingAnAnimatedImageRaisesNoEvents) {
  int changes = 0;
  {
    auto g = std::make_unique<TCountedGraphic>();
    g->SetLoadAllFrames(true);
    auto three = Counted(3);
    g->LoadFromStream(*three);
    g->SetAnimate(true);
    g->OnChange = [&](TGraphic&) { ++changes; };
    g->OnAfterDraw = [&](TDibGraphic&) { ++changes; };
    g->FrameTimer().Tick();
    EXPECT_EQ(changes, 1);
  }
  EXPECT_EQ(changes, 1);
}
