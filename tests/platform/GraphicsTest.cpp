#include "Graphics.h"
#include "Clipboard.h"
#include "Timer.h"

#include <gtest/gtest.h>

using namespace gf;

namespace {
std::unique_ptr<TDibSection> Dib(int W, int H, int Bits) {
  TBitmapInfo256 info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = W;
  info.bmiHeader.biHeight = H;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<uint16_t>(Bits);
  return TDibSection::Create(info);
}
} // namespace

TEST(Graphics, DibSizesAndRefusals) {
  struct TCase {
    int W, H, Bits;
    bool Made;
    std::size_t Row;
  };
  const TCase cases[] = {{3, 2, 1, true, 4},         {9, 1, 4, true, 8},
                         {5, 1, 8, true, 8},         {5, 1, 24, true, 16},
                         {0, 5, 24, false, 0},       {5, -1, 24, false, 0},
                         {5, 5, 16, false, 0},       {5, 5, 32, false, 0},
                         {1 << 30, 4, 24, false, 0}, {65536, 65536, 8, false, 0}};
  for (const auto& c : cases) {
    auto d = Dib(c.W, c.H, c.Bits);
    EXPECT_EQ(d != nullptr, c.Made) << c.W << "x" << c.H << "x" << c.Bits;
    if (d) {
      EXPECT_EQ(d->RowBytes(), c.Row);
    }
  }
  EXPECT_EQ(DibRowBytes(int64_t{1} << 40, 24), (((int64_t{1} << 40) * 24 + 31) / 32) * 4);
  EXPECT_EQ(DibRowBytes(-1, 8), -1);
}

TEST(Graphics, CanvasFillStretchAndClip) {
  auto target = Dib(8, 8, 24);
  TCanvas canvas(target.get());
  canvas.BrushColor = RGB(10, 20, 30);
  canvas.FillRect(TRect{-5, -5, 2, 2}); // clipped to the surface
  EXPECT_EQ(canvas.GetPixel(1, 1), RGB(10, 20, 30));
  EXPECT_EQ(canvas.GetPixel(2, 2), 0u);
  EXPECT_EQ(canvas.GetPixel(-1, 0), 0u);

  auto src = Dib(2, 2, 8);
  TRGBQuad table[2] = {{0, 0, 255, 0}, {255, 0, 0, 0}}; // red, blue
  src->SetColorTable(table, 2);
  src->Row(0)[1] = 1;
  canvas.StretchDib(TRect{4, 4, 8, 8}, *src); // 2 x 2 into 4 x 4: nearest neighbour
  EXPECT_EQ(canvas.GetPixel(4, 4), RGB(255, 0, 0));
  EXPECT_EQ(canvas.GetPixel(7, 5), RGB(0, 0, 255));
  EXPECT_EQ(canvas.GetPixel(7, 7), RGB(255, 0, 0));
  canvas.StretchDib(TRect{7, 7, 9, 9}, *src); // partly outside: clipped, no write past
  EXPECT_EQ(canvas.GetPixel(7, 7), RGB(255, 0, 0));

  // A palette surface takes the nearest entry of its colour table.
  auto pal = Dib(4, 1, 4);
  TRGBQuad two[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  pal->SetColorTable(two, 2);
  TCanvas pc(pal.get());
  pc.SetPixel(3, 0, RGB(200, 200, 200));
  EXPECT_EQ(pal->Row(0)[1] & 0x0F, 1);
}

TEST(Graphics, BitmapKeepsItsPictureWhenResized) {
  TBitmap b;
  EXPECT_TRUE(b.GetEmpty());
  b.SetSize(3, 3);
  b.Canvas().SetPixel(2, 0, RGB(1, 2, 3));
  int changes = 0;
  b.OnChange = [&](TGraphic&) { ++changes; };
  b.SetWidth(5);
  EXPECT_EQ(b.Canvas().GetPixel(2, 0), RGB(1, 2, 3));
  EXPECT_EQ(b.Canvas().GetPixel(4, 0), 0u);
  EXPECT_EQ(changes, 1);
  b.SetPixelFormat(TPixelFormat::pf1bit);
  EXPECT_EQ(b.Handle()->BitCount(), 1);
  EXPECT_THROW(b.SetSize(1 << 30, 1 << 30), EOutOfResources);
  TBitmap copy;
  copy.Assign(&b);
  EXPECT_EQ(copy.GetWidth(), b.GetWidth());
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.GetEmpty());
}

TEST(Graphics, RegistryTimerAndClipboard) {
  TPicture::RegisterFileFormat(".Bmp", "Bitmap", TBitmap::Class);
  EXPECT_EQ(TPicture::FileFormatClass("BMP"), &TBitmap::Class);
  TPicture::RegisterFileFormat("bmp", "Other", TIcon::Class); // replaces
  EXPECT_EQ(TPicture::FileFormatClass("bmp"), &TIcon::Class);
  TPicture::UnregisterGraphicClass(TIcon::Class);
  EXPECT_EQ(TPicture::FileFormatClass("bmp"), nullptr);

  TTimer t;
  int ticks = 0;
  t.OnTimer = [&] { ++ticks; };
  t.Tick();
  t.Enabled = true;
  t.Tick();
  EXPECT_EQ(ticks, 1);

  TClipboard clip;
  clip.Open();
  clip.Open();
  clip.Close();
  EXPECT_TRUE(clip.IsOpen());
  clip.Close();
  EXPECT_FALSE(clip.IsOpen());
  clip.SetBitmap(Dib(1, 1, 24));
  EXPECT_TRUE(clip.HasFormat(CF_BITMAP));
  EXPECT_FALSE(clip.HasFormat(CF_PALETTE));
}
