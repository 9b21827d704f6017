// BMP reading and writing, from byte-level files.
#include "Bcm.h"
#include "BcmFixture.h"

#include <gtest/gtest.h>

using namespace gf;
using namespace gf::test;

namespace {

// The colour of palette entry I in the files built here.
BcmPaletteEntry Entry(int I) {
  return {uint8_t(I * 3 + 1), uint8_t(I * 5 + 2), uint8_t(I * 7 + 3)};
}

struct TBmp {
  int64_t Width = 4, Height = 2;
  uint32_t Bits = 8;
  uint32_t Compression = 0;
  uint32_t HeaderSize = 40;
  uint32_t ColorsUsed = 0;
  int Entries = -1; // palette entries in the file; -1: 2^bits below 24 bits
  uint32_t Planes = 1;
  std::vector<uint8_t> Pixels;
  bool ArrayPrefix = false; // a 14-byte bitmap-array header before the file

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> b;
    std::size_t at = 0;
    if (ArrayPrefix) {
      Put(b, 0, 0x4142, 2);
      Put(b, 2, 14, 4);
      at = 14;
    }
    const int entries = Entries >= 0 ? Entries : Bits < 24 ? 1 << Bits : 0;
    const bool os2 = HeaderSize == 12;
    const uint32_t entryBytes = os2 ? 3 : 4;
    const std::size_t palAt = at + 14 + HeaderSize;
    const std::size_t dataAt = palAt + entryBytes * static_cast<uint32_t>(entries);
    Put(b, at, 0x4D42, 2);
    Put(b, at + 2, static_cast<uint32_t>(dataAt + Pixels.size()), 4);
    Put(b, at + 10, static_cast<uint32_t>(dataAt), 4);
    Put(b, at + 14, HeaderSize, 4);
    if (os2) {
      Put(b, at + 18, static_cast<uint32_t>(Width), 2);
      Put(b, at + 20, static_cast<uint32_t>(Height), 2);
      Put(b, at + 22, Planes, 2);
      Put(b, at + 24, Bits, 2);
    } else {
      b.resize(palAt, 0);
      Put(b, at + 18, static_cast<uint32_t>(Width), 4);
      Put(b, at + 22, static_cast<uint32_t>(Height), 4);
      Put(b, at + 26, Planes, 2);
      Put(b, at + 28, Bits, 2);
      if (HeaderSize > 16)
        Put(b, at + 30, Compression, 4);
      if (HeaderSize > 32)
        Put(b, at + 46, ColorsUsed, 4);
    }
    b.resize(dataAt, 0);
    for (int i = 0; i < entries; ++i) {
      const BcmPaletteEntry e = Entry(i);
      uint8_t* p = b.data() + palAt + entryBytes * static_cast<uint32_t>(i);
      p[0] = e.Blue;
      p[1] = e.Green;
      p[2] = e.Red;
    }
    b.insert(b.end(), Pixels.begin(), Pixels.end());
    return b;
  }
};

TEST(BmpRead, Os2AndWindowsHeadersGiveTheSameBitmap) {
  TMemoryFiles files;
  const std::vector<uint8_t> pixels = {0x12, 0x34, 0, 0, 0xAB, 0xCD, 0, 0, 0xEF, 0x01, 0, 0};
  TBmp os2{.Width = 3, .Height = 3, .Bits = 4, .HeaderSize = 12, .Pixels = pixels};
  TBmp win{.Width = 3, .Height = 3, .Bits = 4, .HeaderSize = 40, .Pixels = pixels};
  TReadResult a = ReadAll(files, os2.Build(), BcmFormatBmp);
  TReadResult b = ReadAll(files, win.Build(), BcmFormatBmp);
  ASSERT_EQ(a.Rc(), BcmOk);
  ASSERT_EQ(b.Rc(), BcmOk);
  EXPECT_EQ(a.Image.Bitmap.Width, 3);
  EXPECT_EQ(a.Image.Bitmap.BitsPerPixel, 4);
  EXPECT_EQ(a.Image.Data, pixels);
  EXPECT_EQ(b.Image.Data, pixels);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(a.Image.Palette[i].Red, Entry(i).Red);
    EXPECT_EQ(b.Image.Palette[i].Blue, Entry(i).Blue);
  }
  EXPECT_EQ(std::get<BcmBmpPrivate>(a.Image.Bitmap.Private).Windows, 0);
  EXPECT_EQ(std::get<BcmBmpPrivate>(b.Image.Bitmap.Private).Windows, 1);
  EXPECT_EQ(a.Image.Rgb(0, 2), 0x04070Au); // bottom-left: entry 1
}

TEST(BmpRead, HeaderChecks) {
  struct Case {
    const char* What;
    TBmp Bmp;
    int Rc;
  };
  const std::vector<uint8_t> px(8, 0);
  const std::vector<Case> cases = {
      {"12", {.HeaderSize = 12, .Pixels = px}, BcmOk},
      {"16", {.HeaderSize = 16, .Pixels = px}, BcmOk},
      {"40", {.HeaderSize = 40, .Pixels = px}, BcmOk},
      {"42", {.HeaderSize = 42, .Pixels = px}, BcmOk},
      {"44", {.HeaderSize = 44, .Pixels = px}, BcmOk},
      {"46", {.HeaderSize = 46, .Pixels = px}, BcmOk},
      {"64", {.HeaderSize = 64, .Pixels = px}, BcmOk},
      {"45", {.HeaderSize = 45, .Pixels = px}, BcmErrBmpHeaderSize},
      {"14", {.HeaderSize = 14, .Pixels = px}, BcmErrBmpHeaderSize},
      {"68", {.HeaderSize = 68, .Pixels = px}, BcmErrBmpHeaderSize},
      {"108", {.HeaderSize = 108, .Pixels = px}, BcmOk},
      {"124", {.HeaderSize = 124, .Pixels = px}, BcmOk},
      {"120", {.HeaderSize = 120, .Pixels = px}, BcmErrBmpHeaderSize},
      {"planes 2", {.Planes = 2, .Pixels = px}, BcmErrBmpPlanes},
      {"os2 planes 0", {.HeaderSize = 12, .Planes = 0, .Pixels = px}, BcmErrBmpPlanes},
      {"16 bits", {.Bits = 16, .Pixels = px}, BcmErrBmpBitCount},
      {"32 bits", {.Bits = 32, .Pixels = px}, BcmErrBmpBitCount},
      {"os2 2 bits", {.Bits = 2, .HeaderSize = 12, .Pixels = px}, BcmErrBmpBitCount},
      {"width 0", {.Width = 0, .Pixels = px}, BcmErrBadSize},
      {"os2 height 0", {.Height = 0, .HeaderSize = 12, .Pixels = px}, BcmErrBadSize},
      {"negative height", {.Height = -2, .Pixels = px}, BcmOk},
      {"negative height, RLE8", {.Height = -2, .Compression = 1, .Pixels = px}, BcmErrBadSize},
      {"negative height, RLE4",
       {.Height = -2, .Bits = 4, .Compression = 2, .Pixels = px},
       BcmErrBadSize},
      {"most negative height", {.Height = INT32_MIN, .Pixels = px}, BcmErrBadSize},
      {"negative width", {.Width = -4, .Pixels = px}, BcmErrBadSize},
      {"row past 32 bits", {.Width = 0x7FFFFFFF, .Height = 1, .Bits = 24}, BcmErrBadSize},
      {"image past 32 bits", {.Width = 100000, .Height = 100000, .Bits = 24}, BcmErrBadSize},
      {"just over the bound", {.Width = 32769, .Height = 32768, .Bits = 8}, BcmErrBadSize},
      {"array prefix", {.Pixels = px, .ArrayPrefix = true}, BcmOk},
  };
  TMemoryFiles files;
  for (const Case& c : cases) {
    BcmBitmap bm;
    const int h = files.Add(c.Bmp.Build());
    EXPECT_EQ(BcmReadHeader("t", h, BcmFormatBmp, &bm, ""), c.Rc) << c.What;
  }
  BcmBitmap bm;
  EXPECT_EQ(BcmReadHeader("t", files.Add({'B', 'N', 0, 0}), 0, &bm, ""), BcmErrBadMagic);
  EXPECT_EQ(BcmReadHeader("t", files.Add({}), 0, &bm, ""), BcmErrRead);
  const std::vector<uint8_t> whole = TBmp{.Pixels = px}.Build();
  for (std::size_t n : {std::size_t(1), std::size_t(9), std::size_t(20), std::size_t(40)}) {
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(BcmReadHeader("t", files.Add(cut), 0, &bm, ""), BcmErrRead) << n;
  }
}

TEST(BmpRead, ArrayPrefixMovesEveryOffset) {
  TMemoryFiles files;
  TBmp plain{.Width = 2, .Height = 1, .Bits = 8, .Pixels = {5, 6, 0, 0}};
  TBmp array = plain;
  array.ArrayPrefix = true;
  TReadResult a = ReadAll(files, plain.Build(), BcmFormatBmp);
  TReadResult b = ReadAll(files, array.Build(), BcmFormatBmp);
  ASSERT_EQ(b.Rc(), BcmOk);
  EXPECT_EQ(std::get<BcmBmpPrivate>(b.Image.Bitmap.Private).TypeOffset, 14u);
  ExpectSamePixels(a.Image, b.Image);
  EXPECT_EQ(b.Image.Rgb(1, 0), 0x13202Du); // entry 6
}

TEST(BmpRead, ColoursUsedAndPaletteSize) {
  TMemoryFiles files;
  struct Case {
    uint32_t Bits, HeaderSize, ColorsUsed;
    int FileEntries;
    uint32_t Expected;
  };
  const std::vector<Case> cases = {
      {8, 40, 0, -1, 256}, {8, 40, 2, 2, 2},   {8, 40, 1000, -1, 256}, // never beyond 2^bits
      {4, 32, 0, -1, 16},  {1, 40, 0, -1, 2},  {4, 40, 5, 5, 5},
      {4, 36, 3, 3, 3},    {4, 24, 3, -1, 16}, // no colours-used field: 2^bits
  };
  for (const Case& c : cases) {
    TBmp bmp{.Width = 1,
             .Height = 1,
             .Bits = c.Bits,
             .HeaderSize = c.HeaderSize,
             .ColorsUsed = c.ColorsUsed,
             .Entries = c.FileEntries,
             .Pixels = {0, 0, 0, 0}};
    TReadResult r = ReadAll(files, bmp.Build(), BcmFormatBmp, "inv");
    ASSERT_EQ(r.Rc(), BcmOk) << c.Bits << "/" << c.ColorsUsed;
    EXPECT_EQ(std::get<BcmBmpPrivate>(r.Image.Bitmap.Private).ColorsUsed, c.Expected);
    // Entries the file gives are its colours; the rest of 2^bits are black.
    const uint32_t capacity = 1u << c.Bits;
    for (uint32_t i = 0; i < capacity; ++i) {
      const BcmPaletteEntry want = i < c.Expected ? Entry(int(i)) : BcmPaletteEntry{0, 0, 0};
      EXPECT_EQ(r.Image.Palette[i].Red, want.Red) << i;
    }
    EXPECT_EQ(r.Image.Palette[capacity % 256].Red, capacity == 256 ? Entry(0).Red : Untouched);
  }
}

TEST(BmpRead, OneBitPaletteIsExchangedUnlessInv) {
  TMemoryFiles files;
  TBmp bmp{.Width = 8, .Height = 1, .Bits = 1, .Pixels = {0xF0, 0, 0, 0}};
  TReadResult plain = ReadAll(files, bmp.Build(), BcmFormatBmp);
  TReadResult inv = ReadAll(files, bmp.Build(), BcmFormatBmp, "inv");
  ASSERT_EQ(plain.Rc(), BcmOk);
  EXPECT_EQ(plain.Image.Palette[0].Red, Entry(1).Red);
  EXPECT_EQ(plain.Image.Palette[1].Red, Entry(0).Red);
  EXPECT_EQ(inv.Image.Palette[0].Red, Entry(0).Red);
  EXPECT_EQ(inv.Image.Palette[1].Red, Entry(1).Red);
  EXPECT_EQ(plain.Image.Data, inv.Image.Data);
  TReadResult invb = ReadAll(files, bmp.Build(), BcmFormatBmp, "invb");
  EXPECT_EQ(invb.Image.Data, (std::vector<uint8_t>{0x0F, 0xFF, 0xFF, 0xFF}));
}

TEST(BmpRead, TrueColourHasNoPalette) {
  TMemoryFiles files;
  TBmp bmp{.Width = 1, .Height = 1, .Bits = 24, .Pixels = {1, 2, 3, 0}};
  const int h = files.Add(bmp.Build());
  BcmBitmap bm;
  ASSERT_EQ(BcmReadHeader("t", h, 0, &bm, ""), BcmOk);
  std::vector<BcmPaletteEntry> pal(256, {9, 9, 9});
  EXPECT_EQ(BcmReadPalette(h, 0, &bm, pal.data()), BcmOk);
  EXPECT_EQ(pal[0].Red, 9);
  std::vector<uint8_t> data(4);
  EXPECT_EQ(BcmReadData(h, 0, &bm, data.data()), BcmOk);
  EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3, 0}));
}

TEST(BmpRead, ShortFilesAreErrorsNotStaleData) {
  TMemoryFiles files;
  // The palette cut short.
  std::vector<uint8_t> f = TBmp{.Bits = 8, .Pixels = std::vector<uint8_t>(8, 7)}.Build();
  std::vector<uint8_t> shortPalette(f.begin(), f.begin() + 54 + 100);
  EXPECT_EQ(ReadAll(files, shortPalette, BcmFormatBmp).Palette, BcmErrRead);
  // The pixels cut short: an error, and no byte of the buffer left as it was.
  std::vector<uint8_t> shortPixels(f.begin(), f.end() - 3);
  TReadResult r = ReadAll(files, shortPixels, BcmFormatBmp);
  EXPECT_EQ(r.Data, BcmErrRead);
  EXPECT_EQ(r.Image.Data, (std::vector<uint8_t>{7, 7, 7, 7, 7, 0, 0, 0}));
  // A data offset past the end of the file.
  std::vector<uint8_t> far = f;
  Put(far, 10, 100000, 4);
  r = ReadAll(files, far, BcmFormatBmp);
  EXPECT_EQ(r.Data, BcmErrRead);
  EXPECT_EQ(r.Image.Data, std::vector<uint8_t>(8, 0));
}

TEST(BmpRead, TopDownRowsAreTurnedBottomUp) {
  // The same picture stored both ways reads to the same bitmap, in every bit count.
  struct TCase {
    uint32_t Bits;
    int64_t Width;
  };
  TMemoryFiles files;
  for (const TCase& c : {TCase{1, 13}, TCase{4, 5}, TCase{8, 3}, TCase{24, 3}}) {
    SCOPED_TRACE(c.Bits);
    const int64_t height = 3;
    const std::size_t row = (static_cast<std::size_t>(c.Width) * c.Bits + 31) / 32 * 4;
    std::vector<uint8_t> bottomUp(row * height);
    for (std::size_t i = 0; i < bottomUp.size(); ++i)
      bottomUp[i] = static_cast<uint8_t>(i * 37 + 5);
    std::vector<uint8_t> topDown;
    for (int64_t y = height - 1; y >= 0; --y)
      topDown.insert(topDown.end(), bottomUp.begin() + static_cast<long>(row * y),
                     bottomUp.begin() + static_cast<long>(row * (y + 1)));
    const TReadResult up = ReadAll(
        files, TBmp{.Width = c.Width, .Height = height, .Bits = c.Bits, .Pixels = bottomUp}.Build(),
        BcmFormatBmp);
    const TReadResult down = ReadAll(
        files, TBmp{.Width = c.Width, .Height = -height, .Bits = c.Bits, .Pixels = topDown}.Build(),
        BcmFormatBmp);
    ASSERT_EQ(up.Rc(), BcmOk);
    ASSERT_EQ(down.Rc(), BcmOk);
    EXPECT_EQ(down.Image.Bitmap.Height, height);
    EXPECT_EQ(down.Image.Data, bottomUp);
    EXPECT_EQ(std::get<BcmBmpPrivate>(down.Image.Bitmap.Private).TopDown, 1);
  }
  // Cut short: the top rows that were read are the top rows, the rest is zero.
  const std::vector<uint8_t> rows = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}; // top row first
  std::vector<uint8_t> file = TBmp{.Width = 4, .Height = -3, .Pixels = rows}.Build();
  file.resize(file.size() - 6);
  const TReadResult cut = ReadAll(files, file, BcmFormatBmp);
  EXPECT_EQ(cut.Data, BcmErrRead);
  EXPECT_EQ(cut.Image.Data, (std::vector<uint8_t>{0, 0, 0, 0, 2, 2, 0, 0, 1, 1, 1, 1}));
}

// RLE streams on a 4-pixel-wide, 2-row 8-bit image (rows of 4 bytes, bottom row first).
TEST(BmpRead, Rle8) {
  struct Case {
    const char* What;
    std::vector<uint8_t> Stream;
    int Rc;
    std::vector<uint8_t> Data;
  };
  const std::vector<Case> cases = {
      {"run, end of line, continues in row 1",
       {0x02, 0x41, 0x00, 0x00, 0x01, 0x07, 0x00, 0x01},
       BcmOk,
       {0x41, 0x41, 0, 0, 0x07, 0, 0, 0}},
      {"full rows, ended by the last end of line",
       {0x04, 0x11, 0x00, 0x00, 0x04, 0x22, 0x00, 0x00, 0xEE, 0xEE},
       BcmOk,
       {0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22}},
      {"end of bitmap at once", {0x00, 0x01}, BcmOk, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"literal of 3 with its pad byte",
       {0x00, 0x03, 0x0A, 0x0B, 0x0C, 0x99, 0x01, 0x0D, 0x00, 0x01},
       BcmOk,
       {0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 0}},
      {"delta right 1 and up 1",
       {0x01, 0x05, 0x00, 0x02, 0x01, 0x01, 0x01, 0x06, 0x00, 0x01},
       BcmOk,
       {0x05, 0, 0, 0, 0, 0, 0x06, 0}},
      {"delta to the end of the image",
       {0x01, 0x05, 0x00, 0x02, 0x00, 0x02},
       BcmOk,
       {0x05, 0, 0, 0, 0, 0, 0, 0}},
      {"a run padding bytes included", {0x04, 0x01, 0x00, 0x01}, BcmOk, {1, 1, 1, 1, 0, 0, 0, 0}},
      {"run past the row", {0x05, 0x41, 0x00, 0x01}, BcmErrRead, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"second run past the row",
       {0x03, 0x41, 0x02, 0x42},
       BcmErrRead,
       {0x41, 0x41, 0x41, 0, 0, 0, 0, 0}},
      {"literal past the row",
       {0x00, 0x05, 1, 2, 3, 4, 5, 0},
       BcmErrRead,
       std::vector<uint8_t>(8, 0)},
      {"delta past the row",
       {0x00, 0x02, 0x05, 0x00, 0x00, 0x01},
       BcmErrRead,
       std::vector<uint8_t>(8, 0)},
      {"delta past the image", {0x00, 0x02, 0x00, 0x03}, BcmErrRead, std::vector<uint8_t>(8, 0)},
      {"end of data before end of bitmap",
       {0x02, 0x41},
       BcmErrRead,
       {0x41, 0x41, 0, 0, 0, 0, 0, 0}},
      {"end of data inside a literal", {0x00, 0x04, 1, 2}, BcmErrRead, {1, 2, 0, 0, 0, 0, 0, 0}},
      {"end of data at a delta", {0x00, 0x02, 0x01}, BcmErrRead, std::vector<uint8_t>(8, 0)},
      {"empty stream", {}, BcmErrRead, std::vector<uint8_t>(8, 0)},
  };
  TMemoryFiles files;
  for (const Case& c : cases) {
    TBmp bmp{.Width = 4, .Height = 2, .Bits = 8, .Compression = 1, .Pixels = c.Stream};
    TReadResult r = ReadAll(files, bmp.Build(), BcmFormatBmp);
    EXPECT_EQ(r.Data, c.Rc) << c.What;
    EXPECT_EQ(r.Image.Data, c.Data) << c.What;
  }
}

// RLE4 on a 5-pixel-wide, 2-row 4-bit image (rows of 4 bytes, 8 nibbles).
TEST(BmpRead, Rle4) {
  struct Case {
    const char* What;
    std::vector<uint8_t> Stream;
    int Rc;
    std::vector<uint8_t> Data;
  };
  const std::vector<uint8_t> zero(8, 0);
  const std::vector<Case> cases = {
      {"run alternates the two nibbles",
       {0x05, 0x12, 0x00, 0x00, 0x03, 0x34, 0x00, 0x01},
       BcmOk,
       {0x12, 0x12, 0x10, 0, 0x34, 0x30, 0, 0}},
      {"literal from an odd column, its bytes padded",
       {0x01, 0x70, 0x00, 0x03, 0xAB, 0xC0, 0x00, 0x01},
       BcmOk,
       {0x7A, 0xBC, 0, 0, 0, 0, 0, 0}},
      {"literal of 5 pixels: 3 bytes and a pad",
       {0x00, 0x05, 0x12, 0x34, 0x50, 0xFF, 0x00, 0x01},
       BcmOk,
       {0x12, 0x34, 0x50, 0, 0, 0, 0, 0}},
      {"delta",
       {0x00, 0x02, 0x03, 0x01, 0x02, 0x9F, 0x00, 0x01},
       BcmOk,
       {0, 0, 0, 0, 0, 0x09, 0xF0, 0}},
      {"run to the row's last nibble",
       {0x08, 0x56, 0x00, 0x01},
       BcmOk,
       {0x56, 0x56, 0x56, 0x56, 0, 0, 0, 0}},
      {"run past the row", {0x09, 0x56, 0x00, 0x01}, BcmErrRead, zero},
      {"literal past the row", {0x00, 0x09, 1, 2, 3, 4, 5, 0}, BcmErrRead, zero},
      {"delta past the row", {0x00, 0x02, 0x09, 0x00}, BcmErrRead, zero},
      {"delta past the image", {0x00, 0x02, 0x00, 0x05}, BcmErrRead, zero},
      {"end of data", {0x02, 0x12}, BcmErrRead, {0x12, 0, 0, 0, 0, 0, 0, 0}},
  };
  TMemoryFiles files;
  for (const Case& c : cases) {
    TBmp bmp{.Width = 5, .Height = 2, .Bits = 4, .Compression = 2, .Pixels = c.Stream};
    TReadResult r = ReadAll(files, bmp.Build(), BcmFormatBmp);
    EXPECT_EQ(r.Data, c.Rc) << c.What;
    EXPECT_EQ(r.Image.Data, c.Data) << c.What;
  }
}

TEST(BmpRead, OtherCompressionsAndInvb) {
  TMemoryFiles files;
  TBmp bmp{.Width = 4, .Height = 1, .Bits = 8, .Compression = 3, .Pixels = {1, 2, 3, 4}};
  EXPECT_EQ(ReadAll(files, bmp.Build(), BcmFormatBmp).Data, BcmErrBmpCompression);
  bmp.Compression = 1;
  bmp.Pixels = {0x02, 0x0F, 0x00, 0x01};
  TReadResult r = ReadAll(files, bmp.Build(), BcmFormatBmp, "invb");
  EXPECT_EQ(r.Image.Data, (std::vector<uint8_t>{0xF0, 0xF0, 0xFF, 0xFF}));
  // A 12-byte header has no compression field: its data is always uncompressed.
  TBmp os2{.Width = 4, .Height = 1, .Bits = 8, .HeaderSize = 12, .Pixels = {9, 8, 7, 6}};
  EXPECT_EQ(ReadAll(files, os2.Build(), BcmFormatBmp).Image.Data,
            (std::vector<uint8_t>{9, 8, 7, 6}));
}

TEST(BmpWrite, RoundTripEveryDepthAndLayout) {
  TMemoryFiles files;
  for (int bits : {1, 4, 8, 24})
    for (const char* opts : {"", "win", "2.0", "1.1"}) {
      TImage im = MakePattern(13, 5, bits);
      int rc;
      const std::vector<uint8_t> file = WriteAll(files, im, BcmFormatBmp, opts, rc);
      ASSERT_EQ(rc, BcmOk) << bits << " " << opts;
      const bool os2 = std::string(opts) == "1.1";
      const uint32_t entries = bits == 24 ? 0 : 1u << bits;
      const uint32_t offset = (os2 ? 26 : 54) + (os2 ? 3 : 4) * entries;
      const uint32_t imageBytes = static_cast<uint32_t>(im.Data.size());
      ASSERT_EQ(file.size(), offset + imageBytes);
      EXPECT_EQ(file[0], 'B');
      EXPECT_EQ(file[1], 'M');
      EXPECT_EQ(Le32(file.data() + 2), offset + imageBytes);
      EXPECT_EQ(Le32(file.data() + 10), offset);
      EXPECT_EQ(file[14], os2 ? 12 : 40);
      if (!os2) {
        EXPECT_EQ(Le32(file.data() + 34), imageBytes);
      }
      TReadResult back = ReadAll(files, file, BcmFormatBmp);
      ASSERT_EQ(back.Rc(), BcmOk);
      EXPECT_EQ(back.Image.Data, im.Data) << bits << " " << opts;
      if (bits == 4 || bits == 8) {
        for (uint32_t i = 0; i < entries; ++i)
          ASSERT_EQ(back.Image.Palette[i].Green, im.Palette[i].Green) << i;
      }
    }
}

TEST(BmpWrite, OneBitPaletteAndForeground) {
  TMemoryFiles files;
  struct Case {
    const char* Options;
    BcmPaletteEntry Entry0, Entry1;
    uint8_t FileEntry0; // red of the first palette entry in the file
    bool Inverted;
  };
  const BcmPaletteEntry black{0, 0, 0}, white{255, 255, 255};
  const std::vector<Case> cases = {
      {"", black, white, 0, false},
      {"inv", black, white, 255, false},
      {"invb", black, white, 0, true},
      {"darkfg", black, white, 0, true}, // entry 0 darker than entry 1
      {"darkfg", white, black, 0, false},
      {"lightfg", white, black, 0, true},
      {"lightfg", black, white, 0, false},
      {"darkfg invb", black, white, 0, false},
  };
  for (const Case& c : cases) {
    TImage im = MakeImage(8, 1, 1);
    im.Data = {0xA5, 0x01, 0x02, 0x03};
    im.Palette[0] = c.Entry0;
    im.Palette[1] = c.Entry1;
    const std::vector<uint8_t> before = im.Data;
    int rc;
    const std::vector<uint8_t> file = WriteAll(files, im, BcmFormatBmp, c.Options, rc);
    ASSERT_EQ(rc, BcmOk);
    EXPECT_EQ(file[54 + 2], c.FileEntry0) << c.Options;
    EXPECT_EQ(file[58 + 2], 255 - c.FileEntry0) << c.Options;
    EXPECT_EQ(file[62], c.Inverted ? 0x5A : 0xA5) << c.Options;
    EXPECT_EQ(im.Data, before); // the caller's pixels are never changed
  }
}

TEST(BmpWrite, RefusalsAndShortWrites) {
  TMemoryFiles files;
  TImage im = MakePattern(4, 4, 1);
  int rc;
  std::vector<uint8_t> file = WriteAll(files, im, BcmFormatBmp, "1.1 win", rc);
  EXPECT_EQ(rc, BcmErrBadOptions);
  EXPECT_TRUE(file.empty());
  file = WriteAll(files, im, BcmFormatBmp, "2.0,1.1", rc);
  EXPECT_EQ(rc, BcmErrBadOptions);
  TImage wide = MakeImage(70000, 1, 1);
  file = WriteAll(files, wide, BcmFormatBmp, "1.1", rc);
  EXPECT_EQ(rc, BcmErrBadSize); // the 1.x header cannot hold the width
  EXPECT_TRUE(file.empty());

  for (std::size_t budget : {std::size_t(0), std::size_t(10), std::size_t(60), std::size_t(70)})
    for (const char* opts : {"", "invb"}) {
      files.FailWritesAfter(budget);
      WriteAll(files, MakePattern(16, 4, 1), BcmFormatBmp, opts, rc);
      EXPECT_EQ(rc, BcmErrWrite) << budget << " " << opts;
    }
}

} // namespace
