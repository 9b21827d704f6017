// Targa reading and writing, from byte-level files.
#include "Bcm.h"
#include "BcmFixture.h"

#include <gtest/gtest.h>

#include <functional>

using namespace gf;
using namespace gf::test;

namespace {

struct TTga {
  uint8_t IdLength = 0, ColorMapType = 0, ImageType = 2;
  uint32_t MapFirst = 0, MapLength = 0;
  uint8_t MapEntrySize = 0;
  uint32_t Width = 2, Height = 2;
  uint8_t Depth = 24, Descriptor = 0;
  std::vector<uint8_t> Map, Pixels;

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> b(18, 0);
    b[0] = IdLength;
    b[1] = ColorMapType;
    b[2] = ImageType;
    Put(b, 3, MapFirst, 2);
    Put(b, 5, MapLength, 2);
    b[7] = MapEntrySize;
    Put(b, 12, Width, 2);
    Put(b, 14, Height, 2);
    b[16] = Depth;
    b[17] = Descriptor;
    b.insert(b.end(), IdLength, 'i');
    b.insert(b.end(), Map.begin(), Map.end());
    b.insert(b.end(), Pixels.begin(), Pixels.end());
    return b;
  }
};

// Packets over a whole pixel stream, crossing row ends: a repeat packet wherever two
// equal pixels follow, literal packets between them.
std::vector<uint8_t> RunLength(const std::vector<uint8_t>& Pixels, std::size_t Size) {
  std::vector<uint8_t> out;
  const std::size_t n = Pixels.size() / Size;
  auto at = [&](std::size_t i) { return Pixels.begin() + static_cast<std::ptrdiff_t>(i * Size); };
  auto same = [&](std::size_t a, std::size_t b) { return std::equal(at(a), at(a) + Size, at(b)); };
  for (std::size_t i = 0; i < n;) {
    std::size_t run = 1;
    while (i + run < n && run < 128 && same(i, i + run))
      ++run;
    if (run > 1) {
      out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
      out.insert(out.end(), at(i), at(i) + Size);
      i += run;
      continue;
    }
    std::size_t lit = 1;
    while (i + lit < n && lit < 128 && !(i + lit + 1 < n && same(i + lit, i + lit + 1)))
      ++lit;
    out.push_back(static_cast<uint8_t>(lit - 1));
    out.insert(out.end(), at(i), at(i + lit));
    i += lit;
  }
  return out;
}

TEST(TgaRead, SixteenBitPixels) {
  struct Case {
    uint16_t Value;
    uint32_t Rgb;
  };
  const std::vector<Case> cases = {
      {0x7FFF, 0xF8F8F8}, {0xFFFF, 0xF8F8F8}, // bit 15 is not colour
      {0x001F, 0x0000F8}, {0x03E0, 0x00F800}, {0x7C00, 0xF80000},
      {0x0421, 0x080808}, {0x0000, 0x000000}, {0x8000, 0x000000},
  };
  TMemoryFiles files;
  for (uint8_t type : {uint8_t(2), uint8_t(10)})
    for (const Case& c : cases) {
      std::vector<uint8_t> px = {uint8_t(c.Value), uint8_t(c.Value >> 8)};
      TTga tga{.ImageType = type,
               .Width = 1,
               .Height = 1,
               .Depth = 16,
               .Pixels = type == 2 ? px : RunLength(px, 2)};
      TReadResult r = ReadAll(files, tga.Build(), BcmFormatTga);
      ASSERT_EQ(r.Rc(), BcmOk);
      EXPECT_EQ(r.Image.Bitmap.BitsPerPixel, 24);
      EXPECT_EQ(r.Image.Rgb(0, 0), c.Rgb) << std::hex << c.Value << " type " << int(type);
    }
}

// One 5 x 3 picture (X from the left, Y from the top) as the file stores it: rows in
// the order the descriptor gives, pixels of Size bytes.
std::vector<uint8_t> FilePixels(uint8_t Descriptor, std::size_t Size,
                                const std::function<uint32_t(int, int)>& Pixel) {
  std::vector<uint8_t> out;
  for (int r = 0; r < 3; ++r) {
    const int y = (Descriptor & 0x20) ? r : 2 - r;
    for (int c = 0; c < 5; ++c) {
      const int x = (Descriptor & 0x10) ? 4 - c : c;
      const uint32_t v = Pixel(x, y);
      for (std::size_t i = 0; i < Size; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
  }
  return out;
}

TEST(TgaRead, EveryOrientationGivesTheSameBitmap) {
  struct Kind {
    const char* What;
    uint8_t Type, Depth;
  };
  const std::vector<Kind> kinds = {
      {"mapped", 1, 8},   {"grey", 3, 8},       {"true 16", 2, 16},  {"true 24", 2, 24},
      {"true 32", 2, 32}, {"mapped rle", 9, 8}, {"grey rle", 11, 8}, {"rle 16", 10, 16},
      {"rle 24", 10, 24}, {"rle 32", 10, 32},
  };
  // Neighbours differ, and a run of equal pixels crosses the end of row 1.
  auto pixel = [](int x, int y) -> uint32_t {
    if ((y == 1 && x >= 3) || (y == 2 && x <= 1))
      return 0x2A2A2A2A & 0x7FFF7FFF;
    return static_cast<uint32_t>(x * 37 + y * 91 + 5) * 0x01030507u & 0x7FFF7FFF;
  };
  TMemoryFiles files;
  for (const Kind& k : kinds) {
    std::vector<TReadResult> results;
    for (uint8_t d : {uint8_t(0x00), uint8_t(0x20), uint8_t(0x10), uint8_t(0x30)}) {
      const std::size_t size = k.Depth / 8;
      std::vector<uint8_t> px = FilePixels(d, size, pixel);
      const bool mapped = k.Type == 1 || k.Type == 9;
      std::vector<uint8_t> map;
      for (int i = 0; mapped && i < 256; ++i)
        Append(map, {uint8_t(i), uint8_t(255 - i), uint8_t(i ^ 0x5A)});
      TTga tga{.ColorMapType = uint8_t(mapped),
               .ImageType = k.Type,
               .MapLength = mapped ? 256u : 0u,
               .MapEntrySize = uint8_t(mapped ? 24 : 0),
               .Width = 5,
               .Height = 3,
               .Depth = k.Depth,
               .Descriptor = d,
               .Map = map,
               .Pixels = k.Type >= 9 ? RunLength(px, size) : px};
      results.push_back(ReadAll(files, tga.Build(), BcmFormatTga));
      ASSERT_EQ(results.back().Rc(), BcmOk) << k.What << " " << int(d);
    }
    for (std::size_t i = 1; i < results.size(); ++i)
      EXPECT_EQ(results[i].Image.Data, results[0].Image.Data) << k.What << " variant " << i;
    const TImage& im = results[0].Image;
    const uint32_t v = pixel(1, 0);
    uint32_t want;
    if (k.Type == 1 || k.Type == 9)
      want = ((v & 0xFF) ^ 0x5A) << 16 | uint32_t(255 - (v & 0xFF)) << 8 | (v & 0xFF);
    else if (k.Type == 3 || k.Type == 11)
      want = (v & 0xFF) * 0x010101;
    else if (k.Depth == 16)
      want = ((v >> 10) & 0x1F) << 19 | ((v >> 5) & 0x1F) << 11 | (v & 0x1F) << 3;
    else
      want = v & 0xFFFFFF;
    EXPECT_EQ(im.Rgb(1, 0), want) << k.What;
  }
}

TEST(TgaRead, ColourMapBounds) {
  TMemoryFiles files;
  struct Case {
    uint32_t First, Length;
    int FirstSet, LastSet; // the palette entries the map fills
  };
  const std::vector<Case> cases = {
      {0, 256, 0, 255}, {250, 10, 250, 255}, {300, 4, -1, -1}, {0, 0, -1, -1}, {10, 2, 10, 11},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> map;
    for (uint32_t i = 0; i < c.Length; ++i)
      Append(map, {uint8_t(i + 1), 0x40, 0x80});
    TTga tga{.ColorMapType = 1,
             .ImageType = 1,
             .MapFirst = c.First,
             .MapLength = c.Length,
             .MapEntrySize = 24,
             .Width = 2,
             .Height = 1,
             .Depth = 8,
             .Map = map,
             .Pixels = {251, 11}};
    TReadResult r = ReadAll(files, tga.Build(), BcmFormatTga);
    ASSERT_EQ(r.Rc(), BcmOk) << c.First << "+" << c.Length;
    for (int i = 0; i < 256; ++i) {
      const bool set = i >= c.FirstSet && i <= c.LastSet && c.FirstSet >= 0;
      EXPECT_EQ(r.Image.Palette[i].Blue, set ? uint8_t(i - int(c.First) + 1) : 0) << i;
      EXPECT_EQ(r.Image.Palette[i].Red, set ? 0x80 : 0) << i;
    }
    // The pixels come after the whole map, also the part that was not kept.
    EXPECT_EQ(r.Image.Data[0], 251);
    EXPECT_EQ(r.Image.Data[1], 11);
  }
  // A map before a true-colour picture is skipped by its entry size (15 counts as 16).
  TTga skip{.ColorMapType = 1,
            .ImageType = 2,
            .MapLength = 3,
            .MapEntrySize = 15,
            .Width = 1,
            .Height = 1,
            .Map = {9, 9, 9, 9, 9, 9},
            .Pixels = {1, 2, 3}};
  EXPECT_EQ(ReadAll(files, skip.Build(), BcmFormatTga).Image.Rgb(0, 0), 0x030201u);
  TTga withId = skip;
  withId.IdLength = 7;
  EXPECT_EQ(ReadAll(files, withId.Build(), BcmFormatTga).Image.Rgb(0, 0), 0x030201u);
}

TEST(TgaRead, RunLengthEnds) {
  TMemoryFiles files;
  struct Case {
    const char* What;
    std::vector<uint8_t> Stream;
    int Rc;
    std::vector<uint8_t> Data; // 2 x 2 grey: rows of 4 bytes, bottom first
  };
  const std::vector<Case> cases = {
      {"exact", {0x83, 7}, BcmOk, {7, 7, 0, 0, 7, 7, 0, 0}},
      {"a repeat past the last row is cut", {0xFF, 7}, BcmOk, {7, 7, 0, 0, 7, 7, 0, 0}},
      {"a literal past the last row is cut",
       {0x05, 1, 2, 3, 4, 5, 6},
       BcmOk,
       {1, 2, 0, 0, 3, 4, 0, 0}},
      {"packets past the end are ignored",
       {0x83, 7, 0xFF, 1, 0xFF},
       BcmOk,
       {7, 7, 0, 0, 7, 7, 0, 0}},
      {"end at a packet header", {0x81, 7}, BcmErrRead, {7, 7, 0, 0, 0, 0, 0, 0}},
      // Rows that could not be read whole stay 0.
      {"end inside a literal", {0x03, 1, 2, 3}, BcmErrRead, {1, 2, 0, 0, 0, 0, 0, 0}},
      {"end before a repeat value", {0x83}, BcmErrRead, std::vector<uint8_t>(8, 0)},
      {"nothing", {}, BcmErrRead, std::vector<uint8_t>(8, 0)},
  };
  for (const Case& c : cases) {
    // Top-first, so the first packets fill the last rows in memory.
    TTga tga{.ImageType = 11, .Depth = 8, .Descriptor = 0x20, .Pixels = c.Stream};
    TReadResult r = ReadAll(files, tga.Build(), BcmFormatTga);
    EXPECT_EQ(r.Data, c.Rc) << c.What;
    std::vector<uint8_t> want = c.Data;
    std::rotate(want.begin(), want.begin() + 4, want.end()); // rows bottom-up in memory
    EXPECT_EQ(r.Image.Data, want) << c.What;
  }
  // Uncompressed data cut short.
  TTga cut{.Width = 2, .Height = 2, .Depth = 24, .Pixels = {1, 2, 3, 4, 5, 6, 7}};
  TReadResult r = ReadAll(files, cut.Build(), BcmFormatTga);
  EXPECT_EQ(r.Data, BcmErrRead);
  EXPECT_EQ(r.Image.Data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(TgaRead, HeaderChecks) {
  struct Case {
    const char* What;
    TTga Tga;
    int Rc;
  };
  const std::vector<Case> cases = {
      {"mapped 8", {.ImageType = 1, .MapEntrySize = 24, .Depth = 8}, BcmOk},
      {"mapped 16", {.ImageType = 1, .MapEntrySize = 24, .Depth = 16}, BcmErrTgaDepth},
      {"map of 16-bit entries",
       {.ImageType = 9, .MapEntrySize = 16, .Depth = 8},
       BcmErrTgaMapEntrySize},
      {"map of 32-bit entries",
       {.ImageType = 1, .MapEntrySize = 32, .Depth = 8},
       BcmErrTgaMapEntrySize},
      {"true 8", {.ImageType = 2, .Depth = 8}, BcmErrTgaDepth},
      {"true 15", {.ImageType = 10, .Depth = 15}, BcmErrTgaDepth},
      {"grey 16", {.ImageType = 3, .Depth = 16}, BcmErrTgaDepth},
      {"no image", {.ImageType = 0}, BcmErrTgaType},
      {"huffman", {.ImageType = 32}, BcmErrTgaType},
      {"width 0", {.Width = 0}, BcmErrBadSize},
      {"height 0", {.Height = 0}, BcmErrBadSize},
      {"65535 x 65535", {.Width = 65535, .Height = 65535}, BcmErrBadSize},
  };
  TMemoryFiles files;
  for (const Case& c : cases) {
    BcmBitmap bm;
    EXPECT_EQ(BcmReadHeader("t", files.Add(c.Tga.Build()), BcmFormatTga, &bm, ""), c.Rc) << c.What;
  }
  BcmBitmap bm;
  std::vector<uint8_t> cut = TTga{}.Build();
  cut.resize(17);
  EXPECT_EQ(BcmReadHeader("t", files.Add(cut), BcmFormatTga, &bm, ""), BcmErrRead);
  ASSERT_EQ(BcmReadHeader(
                "t", files.Add(TTga{.ImageType = 3, .Width = 7, .Height = 9, .Depth = 8}.Build()),
                BcmFormatTga, &bm, ""),
            BcmOk);
  EXPECT_EQ(bm.Width, 7);
  EXPECT_EQ(bm.Height, 9);
  EXPECT_EQ(bm.BitsPerPixel, 8);
  std::vector<BcmPaletteEntry> pal(256);
  ASSERT_EQ(BcmReadPalette(0, BcmFormatTga, &bm, pal.data()), BcmOk); // the grey ramp
  EXPECT_EQ(pal[200].Red, 200);
  EXPECT_EQ(pal[200].Blue, 200);
}

TEST(TgaWrite, OptionsDepthAndOrder) {
  TMemoryFiles files;
  struct Case {
    int Bits;
    const char* Options;
    int Rc;
    uint8_t Depth, Descriptor;
  };
  const std::vector<Case> cases = {
      {24, "", BcmOk, 24, 0},
      {24, "24", BcmOk, 24, 0},
      {24, "16", BcmOk, 16, 0},
      {24, "32 ydown", BcmOk, 32, 0x20},
      {24, "yup", BcmOk, 24, 0},
      {8, "", BcmOk, 8, 0},
      {8, "YDOWN", BcmOk, 8, 0x20},
      {24, "16 32", BcmErrBadOptions, 0, 0},
      {24, "16,24", BcmErrBadOptions, 0, 0},
      {8, "24", BcmErrBadOptions, 0, 0},
      {24, "yup ydown", BcmErrBadOptions, 0, 0},
      {4, "", BcmErrNotSupported, 0, 0},
      {1, "", BcmErrNotSupported, 0, 0},
  };
  for (const Case& c : cases) {
    TImage im = MakePattern(5, 3, c.Bits);
    int rc;
    std::vector<uint8_t> file = WriteAll(files, im, BcmFormatTga, c.Options, rc);
    ASSERT_EQ(rc, c.Rc) << c.Bits << " " << c.Options;
    if (rc != BcmOk) {
      EXPECT_TRUE(file.empty());
      continue;
    }
    EXPECT_EQ(file[16], c.Depth) << c.Options;
    EXPECT_EQ(file[17], c.Descriptor) << c.Options;
    EXPECT_EQ(file[1], c.Bits == 8 ? 1 : 0);
    EXPECT_EQ(file[2], c.Bits == 8 ? 1 : 2);
    EXPECT_EQ(Le16(file.data() + 5), c.Bits == 8 ? 256 : 0);
    EXPECT_EQ(file[7], c.Bits == 8 ? 24 : 0);
    EXPECT_EQ(file[12], 5);
    EXPECT_EQ(file[14], 3);
    const std::size_t pixelsAt = 18 + (c.Bits == 8 ? 768 : 0);
    EXPECT_EQ(file.size(), pixelsAt + 15 * (c.Depth / 8));
    // The first pixel written: top-left with ydown, bottom-left otherwise.
    const uint8_t* first = file.data() + pixelsAt;
    const int y = c.Descriptor ? 0 : 2;
    if (c.Depth == 8) {
      EXPECT_EQ(first[0], im.Index(0, y));
      EXPECT_EQ(file[18 + 3 * 7], im.Palette[7].Blue);
      EXPECT_EQ(file[18 + 3 * 7 + 2], im.Palette[7].Red);
    } else if (c.Depth == 16) {
      const uint32_t rgb = im.Rgb(0, y);
      const uint32_t r = rgb >> 16, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
      EXPECT_EQ(Le16(first), int((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)));
    } else {
      EXPECT_EQ(uint32_t(first[2] << 16 | first[1] << 8 | first[0]), im.Rgb(0, y));
      if (c.Depth == 32) {
        EXPECT_EQ(first[3], 0xFF);
      }
    }
    TReadResult back = ReadAll(files, file, BcmFormatTga);
    ASSERT_EQ(back.Rc(), BcmOk);
    if (c.Depth != 16) {
      ExpectSamePixels(back.Image, im);
    } else {
      for (int yy = 0; yy < 3; ++yy)
        for (int x = 0; x < 5; ++x)
          EXPECT_EQ(back.Image.Rgb(x, yy), im.Rgb(x, yy) & 0xF8F8F8);
    }
  }
}

TEST(TgaWrite, ShortWritesAndSizes) {
  TMemoryFiles files;
  for (int bits : {8, 24})
    for (std::size_t budget : {std::size_t(0), std::size_t(17), std::size_t(18 + 20)}) {
      files.FailWritesAfter(budget);
      int rc;
      WriteAll(files, MakePattern(30, 4, bits), BcmFormatTga, "", rc);
      EXPECT_EQ(rc, BcmErrWrite) << bits << " " << budget;
    }
  files.FailWritesAfter(SIZE_MAX);
  int rc;
  WriteAll(files, MakeImage(70000, 1, 8), BcmFormatTga, "", rc);
  EXPECT_EQ(rc, BcmErrBadSize);
}

} // namespace
