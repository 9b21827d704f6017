// PCX reading and writing, from byte-level files.
#include "Bcm.h"
#include "BcmFixture.h"

#include <gtest/gtest.h>

using namespace gf;
using namespace gf::test;

namespace {

struct TPcx {
  uint8_t Manufacturer = 10, Version = 5, Encoding = 1, BitsPerPlane = 8, Planes = 1;
  uint32_t XMin = 0, YMin = 0, XMax = 3, YMax = 1;
  uint32_t BytesPerLine = 4;
  std::vector<uint8_t> Data;
  bool Trailer = false;
  uint8_t Mark = 12;

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> b(128, 0);
    b[0] = Manufacturer;
    b[1] = Version;
    b[2] = Encoding;
    b[3] = BitsPerPlane;
    Put(b, 4, XMin, 2);
    Put(b, 6, YMin, 2);
    Put(b, 8, XMax, 2);
    Put(b, 10, YMax, 2);
    for (int i = 0; i < 48; ++i)
      b[16 + static_cast<std::size_t>(i)] = static_cast<uint8_t>(200 - i);
    b[65] = Planes;
    Put(b, 66, BytesPerLine, 2);
    b.insert(b.end(), Data.begin(), Data.end());
    if (Trailer) {
      b.push_back(Mark);
      for (int i = 0; i < 768; ++i)
        b.push_back(static_cast<uint8_t>(i * 3));
    }
    return b;
  }
};

// Plain bytes as PCX data, without runs: bytes of 0xC0 and more need a run of 1.
std::vector<uint8_t> Literal(const std::vector<uint8_t>& Bytes) {
  std::vector<uint8_t> out;
  for (uint8_t b : Bytes) {
    if (b >= 0xC0)
      out.push_back(0xC1);
    out.push_back(b);
  }
  return out;
}

TEST(PcxRead, FourPlanesOfOneBitEqualOnePlaneOfFourBits) {
  const int w = 10, h = 2;
  auto pixel = [](int x, int y) { return (x * 3 + y * 5 + 1) % 16; };
  std::vector<uint8_t> planar, packed;
  for (int y = 0; y < h; ++y) {
    for (int p = 0; p < 4; ++p) {
      uint8_t line[2] = {0, 0x3F}; // bits past the width set: they must not count
      for (int x = 0; x < w; ++x)
        if (pixel(x, y) & (1 << p))
          line[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      planar.insert(planar.end(), line, line + 2);
    }
    for (int x = 0; x < w; x += 2)
      packed.push_back(static_cast<uint8_t>(pixel(x, y) << 4 | pixel(x + 1, y)));
    packed.push_back(0);
  }
  TMemoryFiles files;
  TPcx a{.BitsPerPlane = 1,
         .Planes = 4,
         .XMax = w - 1,
         .YMax = h - 1,
         .BytesPerLine = 2,
         .Data = Literal(planar)};
  TPcx b{.BitsPerPlane = 4,
         .Planes = 1,
         .XMax = w - 1,
         .YMax = h - 1,
         .BytesPerLine = 6,
         .Data = Literal(packed)};
  TReadResult ra = ReadAll(files, a.Build(), BcmFormatPcx);
  TReadResult rb = ReadAll(files, b.Build(), BcmFormatPcx);
  ASSERT_EQ(ra.Rc(), BcmOk);
  ASSERT_EQ(rb.Rc(), BcmOk);
  EXPECT_EQ(ra.Image.Bitmap.BitsPerPixel, 4);
  EXPECT_EQ(ra.Image.Data, rb.Image.Data);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(ra.Image.Index(x, y), pixel(x, y)) << x << "," << y;
  EXPECT_EQ(ra.Image.Row(0)[5], 0); // nothing past the width, in the row's padding
  EXPECT_EQ(ra.Image.Palette[0].Red, 200);
  EXPECT_EQ(ra.Image.Palette[15].Blue, 200 - 47);
}

TEST(PcxRead, RunsCarryIntoTheNextLineUnlessTrunc) {
  TMemoryFiles files;
  TPcx pcx{.Data = {0xC6, 0x11, 0x22, 0x23, 0x24, 0x25}, .Trailer = true};
  TReadResult carry = ReadAll(files, pcx.Build(), BcmFormatPcx);
  ASSERT_EQ(carry.Rc(), BcmOk);
  EXPECT_EQ(carry.Image.Data,
            (std::vector<uint8_t>{0x11, 0x11, 0x22, 0x23, 0x11, 0x11, 0x11, 0x11}));
  TReadResult trunc = ReadAll(files, pcx.Build(), BcmFormatPcx, "trunc");
  ASSERT_EQ(trunc.Rc(), BcmOk);
  EXPECT_EQ(trunc.Image.Data,
            (std::vector<uint8_t>{0x22, 0x23, 0x24, 0x25, 0x11, 0x11, 0x11, 0x11}));
  EXPECT_EQ(trunc.Image.Palette[1].Red, 9);
  EXPECT_EQ(trunc.Image.Palette[255].Blue, uint8_t(767 * 3));
}

TEST(PcxRead, DataCutShortFillsWithFFAndFails) {
  TMemoryFiles files;
  // 24 bits, 2 x 2: the data stops after the first row's three plane lines.
  TPcx pcx{.Planes = 3, .XMax = 1, .BytesPerLine = 2, .Data = {1, 2, 3, 4, 5, 6}};
  TReadResult r = ReadAll(files, pcx.Build(), BcmFormatPcx);
  EXPECT_EQ(r.Data, BcmErrRead);
  EXPECT_EQ(r.Image.Rgb(0, 0), 0x010305u);
  EXPECT_EQ(r.Image.Rgb(1, 0), 0x020406u);
  EXPECT_EQ(r.Image.Rgb(0, 1), 0xFFFFFFu);
  EXPECT_EQ(r.Image.Row(1)[6], 0); // row padding stays 0

  // 4 planes of 1 bit, 8 x 60000, with lines of 744 bytes, from 4 bytes of data: plane
  // 0 of the first line starts with 126 bytes of 0, then every byte left reads as 0xFF.
  TPcx planes{.BitsPerPlane = 1,
              .Planes = 4,
              .XMax = 7,
              .YMax = 59999,
              .BytesPerLine = 744,
              .Data = {0xC0 | 63, 0x00, 0xC0 | 63, 0x00}};
  r = ReadAll(files, planes.Build(), BcmFormatPcx);
  EXPECT_EQ(r.Data, BcmErrRead);
  EXPECT_EQ(r.Image.Row(0)[0], 0xEE); // plane 0 of the first line came from the runs
  for (int y : {1, 2, 30000, 59999})
    EXPECT_EQ(r.Image.Row(y)[0], 0xFF) << y;
}

TEST(PcxRead, LinesLongerThanTheRow) {
  TMemoryFiles files;
  // 3 pixels of 8 bits with 40-byte lines, and 3 pixels of 1 bit with 100-byte lines:
  // the bytes past the width are padding, kept out of the row.
  std::vector<uint8_t> line8(40, 0x77), line1(100, 0xFF);
  line8[0] = 1;
  line8[1] = 2;
  line8[2] = 3;
  std::vector<uint8_t> data8, data1;
  for (int i = 0; i < 2; ++i) {
    data8.insert(data8.end(), line8.begin(), line8.end());
    data1.insert(data1.end(), line1.begin(), line1.end());
  }
  TPcx p8{.XMax = 2, .BytesPerLine = 40, .Data = Literal(data8), .Trailer = true};
  TReadResult r8 = ReadAll(files, p8.Build(), BcmFormatPcx);
  ASSERT_EQ(r8.Rc(), BcmOk);
  EXPECT_EQ(r8.Image.Data, (std::vector<uint8_t>{1, 2, 3, 0, 1, 2, 3, 0}));
  TPcx p1{.BitsPerPlane = 1, .XMax = 2, .BytesPerLine = 100, .Data = Literal(data1)};
  TReadResult r1 = ReadAll(files, p1.Build(), BcmFormatPcx);
  ASSERT_EQ(r1.Rc(), BcmOk);
  EXPECT_EQ(r1.Image.Data, (std::vector<uint8_t>{0xFF, 0, 0, 0, 0xFF, 0, 0, 0}));
  EXPECT_EQ(r1.Image.Palette[0].Red, 0);
  EXPECT_EQ(r1.Image.Palette[1].Red, 255);

  // 24 bits with plane lines longer than the width.
  std::vector<uint8_t> d24;
  for (int i = 0; i < 3 * 2; ++i)
    for (int b = 0; b < 9; ++b)
      d24.push_back(static_cast<uint8_t>(b + 10 * (i % 3)));
  TPcx p24{.Planes = 3, .XMax = 1, .BytesPerLine = 9, .Data = Literal(d24)};
  TReadResult r24 = ReadAll(files, p24.Build(), BcmFormatPcx);
  ASSERT_EQ(r24.Rc(), BcmOk);
  EXPECT_EQ(r24.Image.Rgb(1, 1), 0x010B15u);
  EXPECT_EQ(r24.Image.Row(0)[6], 0);
}

TEST(PcxRead, HeaderChecks) {
  struct Case {
    const char* What;
    TPcx Pcx;
    int Rc;
  };
  const std::vector<Case> cases = {
      {"magic", {.Manufacturer = 11}, BcmErrBadMagic},
      {"version 0", {.Version = 0}, BcmOk},
      {"version 2", {.Version = 2}, BcmOk},
      {"version 3", {.Version = 3}, BcmOk},
      {"version 4", {.Version = 4}, BcmOk},
      {"version 1", {.Version = 1}, BcmErrPcxVersion},
      {"version 6", {.Version = 6}, BcmErrPcxVersion},
      {"encoding 0", {.Encoding = 0}, BcmErrPcxEncoding},
      {"2 bits x 1", {.BitsPerPlane = 2}, BcmErrPcxLayout},
      {"1 bit x 2", {.BitsPerPlane = 1, .Planes = 2}, BcmErrPcxLayout},
      {"8 bits x 4", {.Planes = 4}, BcmErrPcxLayout},
      {"4 bits x 4", {.BitsPerPlane = 4, .Planes = 4}, BcmErrPcxLayout},
      {"x max below x min", {.XMin = 5, .XMax = 3}, BcmErrBadSize},
      {"y max below y min", {.YMin = 2, .YMax = 0}, BcmErrBadSize},
      {"offset window", {.XMin = 100, .YMin = 200, .XMax = 103, .YMax = 201}, BcmOk},
      {"line too short for the width", {.XMax = 4, .BytesPerLine = 4}, BcmErrBadSize},
      {"lines of 0 bytes", {.BytesPerLine = 0}, BcmErrBadSize},
      {"65536 x 65536 x 24",
       {.Planes = 3, .XMax = 65535, .YMax = 65535, .BytesPerLine = 65535},
       BcmErrBadSize},
  };
  TMemoryFiles files;
  for (const Case& c : cases) {
    BcmBitmap bm;
    EXPECT_EQ(BcmReadHeader("t", files.Add(c.Pcx.Build()), BcmFormatPcx, &bm, ""), c.Rc) << c.What;
  }
  BcmBitmap bm;
  std::vector<uint8_t> cut = TPcx{}.Build();
  cut.resize(69);
  EXPECT_EQ(BcmReadHeader("t", files.Add(cut), BcmFormatPcx, &bm, ""), BcmErrRead);
  ASSERT_EQ(BcmReadHeader(
                "t", files.Add(TPcx{.XMin = 100, .YMin = 200, .XMax = 103, .YMax = 201}.Build()),
                BcmFormatPcx, &bm, ""),
            BcmOk);
  EXPECT_EQ(bm.Width, 4);
  EXPECT_EQ(bm.Height, 2);
}

TEST(PcxRead, PaletteTrailer) {
  TMemoryFiles files;
  const std::vector<uint8_t> data = Literal({1, 2, 3, 4, 5, 6, 7, 8});
  TPcx good{.Data = data, .Trailer = true};
  EXPECT_EQ(ReadAll(files, good.Build(), BcmFormatPcx).Rc(), BcmOk);
  TPcx badMark{.Data = data, .Trailer = true, .Mark = 10};
  EXPECT_EQ(ReadAll(files, badMark.Build(), BcmFormatPcx).Palette, BcmErrPcxTrailer);
  // Shorter than a header and a trailer: refused, never a seek before the start.
  TPcx none{.Data = data};
  TReadResult r = ReadAll(files, none.Build(), BcmFormatPcx);
  EXPECT_EQ(r.Palette, BcmErrPcxTrailer);
  std::vector<uint8_t> small = TPcx{}.Build();
  small.resize(800, 12);
  EXPECT_EQ(ReadAll(files, small, BcmFormatPcx).Palette, BcmErrPcxTrailer);
}

TEST(PcxRead, DataRunningIntoTheTrailerIsNotAPalette) {
  // 8 bits, 64 x 16 of literal bytes: 1024 bytes of data, then the trailer. Cut by
  // Cut bytes, with a 12 placed where the trailer's mark would then be, the palette
  // reader finds a mark; the data must not be taken as ending before it.
  std::vector<uint8_t> pixels(64 * 16);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<uint8_t>(i % 0xC0);
  const TPcx pcx{.XMax = 63, .YMax = 15, .BytesPerLine = 64, .Data = pixels, .Trailer = true};
  const std::vector<uint8_t> whole = pcx.Build();
  struct TCase {
    std::size_t Cut;
    int Data; // the data reader's answer
  };
  TMemoryFiles files;
  for (const TCase& c :
       {TCase{0, BcmOk}, TCase{1, BcmErrPcxTrailer}, TCase{100, BcmErrPcxTrailer},
        TCase{768, BcmErrPcxTrailer}, TCase{769, BcmErrPcxTrailer}, TCase{900, BcmErrRead}}) {
    SCOPED_TRACE(c.Cut);
    std::vector<uint8_t> file(whole.begin(), whole.end() - static_cast<long>(c.Cut));
    if (c.Cut > 0)
      file[file.size() - 769] = 12;
    const TReadResult r = ReadAll(files, file, BcmFormatPcx);
    ASSERT_EQ(r.Palette, BcmOk);
    EXPECT_EQ(r.Data, c.Data);
    if (c.Data == BcmOk) {
      EXPECT_EQ(r.Image.Palette[1].Red, 9); // entry i is 9i, 9i + 3, 9i + 6
    }
  }
}

TEST(PcxWrite, LineLengthIsEvenAndPadBytesZero) {
  TMemoryFiles files;
  struct Case {
    int Bits, Width;
    uint32_t Planes, Bpl;
  };
  const std::vector<Case> cases = {
      {8, 3, 1, 4}, {8, 4, 1, 4},  {24, 3, 3, 4}, {24, 1, 3, 2},
      {1, 9, 1, 2}, {1, 17, 1, 4}, {4, 3, 1, 2},  {4, 5, 1, 4},
  };
  for (const Case& c : cases) {
    TImage im = MakePattern(c.Width, 2, c.Bits);
    // Row padding holds junk, as a caller's buffer may.
    const uint64_t used = (uint64_t(c.Width) * c.Bits + 7) / 8;
    for (int y = 0; y < 2; ++y)
      for (uint64_t i = used; i < im.RowBytes(); ++i)
        im.Row(y)[i] = 0xEE;
    int rc;
    std::vector<uint8_t> file = WriteAll(files, im, BcmFormatPcx, "", rc);
    ASSERT_EQ(rc, BcmOk);
    EXPECT_EQ(file[0], 10);
    EXPECT_EQ(file[1], 5);
    EXPECT_EQ(file[2], 1);
    EXPECT_EQ(file[3], c.Bits == 24 ? 8 : c.Bits);
    EXPECT_EQ(Le16(file.data() + 8), c.Width - 1);
    EXPECT_EQ(Le16(file.data() + 10), 1);
    EXPECT_EQ(file[65], c.Planes);
    EXPECT_EQ(uint32_t{Le16(file.data() + 66)}, c.Bpl) << c.Bits << "/" << c.Width;
    EXPECT_EQ(file[68], 1);
    // Decoded by hand, every plane line's bytes past the width are 0.
    std::vector<uint8_t> lines;
    for (std::size_t i = 128; lines.size() < 2 * c.Planes * c.Bpl;) {
      const uint8_t b = file[i++];
      if (b >= 0xC0)
        lines.insert(lines.end(), b & 0x3F, file[i++]);
      else
        lines.push_back(b);
    }
    for (uint32_t l = 0; l < 2 * c.Planes; ++l)
      for (uint32_t i = c.Bits == 24 ? uint32_t(c.Width) : uint32_t(used); i < c.Bpl; ++i)
        EXPECT_EQ(lines[l * c.Bpl + i], 0) << c.Bits << "/" << c.Width << " line " << l;
    TReadResult back = ReadAll(files, file, BcmFormatPcx);
    ASSERT_EQ(back.Rc(), BcmOk);
    if (c.Bits != 1) // 1-bit files hold black and white, not the pattern's colours
      ExpectSamePixels(back.Image, im);
  }
}

TEST(PcxWrite, RunsAreAtMost63) {
  TMemoryFiles files;
  for (uint8_t v : {uint8_t(0x41), uint8_t(0xC5)}) {
    TImage im = MakeImage(64, 1, 8, v);
    int rc;
    std::vector<uint8_t> file = WriteAll(files, im, BcmFormatPcx, "", rc);
    ASSERT_EQ(rc, BcmOk);
    std::vector<uint8_t> expected = {0xFF, v};
    if (v >= 0xC0)
      expected.push_back(0xC1);
    expected.push_back(v);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 128, file.begin() + 128 + expected.size()),
              expected);
    EXPECT_EQ(file.size(), 128 + expected.size() + 769);
    EXPECT_EQ(file[128 + expected.size()], 12);
  }
  // Runs never cross a line end: two rows of the same byte give two runs.
  TImage im = MakeImage(4, 2, 8, 0x33);
  int rc;
  std::vector<uint8_t> file = WriteAll(files, im, BcmFormatPcx, "", rc);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 128, file.begin() + 132),
            (std::vector<uint8_t>{0xC4, 0x33, 0xC4, 0x33}));
}

TEST(PcxWrite, OneBitIsStoredBlackOnWhite) {
  TMemoryFiles files;
  for (bool whiteFirst : {false, true}) {
    TImage im = MakePattern(12, 3, 1);
    im.Palette[0] = whiteFirst ? BcmPaletteEntry{255, 255, 255} : BcmPaletteEntry{0, 0, 0};
    im.Palette[1] = whiteFirst ? BcmPaletteEntry{0, 0, 0} : BcmPaletteEntry{255, 255, 255};
    int rc;
    std::vector<uint8_t> file = WriteAll(files, im, BcmFormatPcx, "", rc);
    ASSERT_EQ(rc, BcmOk);
    TReadResult back = ReadAll(files, file, BcmFormatPcx);
    ASSERT_EQ(back.Rc(), BcmOk);
    ExpectSamePixels(back.Image, im);
    EXPECT_EQ(back.Image.Data == im.Data, !whiteFirst);
  }
}

TEST(PcxWrite, ShortWritesFail) {
  TMemoryFiles files;
  for (int bits : {8, 24})
    for (std::size_t budget :
         {std::size_t(0), std::size_t(127), std::size_t(130), std::size_t(128 + 40)}) {
      files.FailWritesAfter(budget);
      int rc;
      WriteAll(files, MakePattern(20, 4, bits), BcmFormatPcx, "", rc);
      EXPECT_EQ(rc, BcmErrWrite) << bits << " " << budget;
    }
  files.FailWritesAfter(SIZE_MAX);
  int rc;
  WriteAll(files, MakeImage(70000, 1, 1), BcmFormatPcx, "", rc);
  EXPECT_EQ(rc, BcmErrBadSize);
}

} // namespace
