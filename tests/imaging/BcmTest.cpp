// The codec module's frame: format table, names, options, error texts, hooks,
// argument checks and the read-ahead buffer.
#include "Bcm.h"
#include "BcmCodec.h"
#include "BcmFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace gf;
using namespace gf::test;

namespace {

TEST(Bcm, FormatTable) {
  int count = 0;
  EXPECT_EQ(BcmFormatCount(&count), BcmOk);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(BcmFormatCount(nullptr), BcmErrBadArgument);

  struct Row {
    const char *Short, *Long, *Extensions;
    uint8_t Caps;
  };
  const Row rows[] = {
      {"Bitmap", "OS/2 1.1, 1.2, 2.0 / Windows 3.0 bitmap", "BMP VGA BGA RLE DIB RL4 RL8", 0xFF},
      {"PCX", "ZSoft PC Paintbrush Image format", "PCX PCC", 0xFF},
      {"Targa", "Truevision Targa/Vista bitmap", "TGA VST AFI", 0xCC},
  };
  for (int f = 0; f < 3; ++f) {
    BcmFormatDesc d{};
    ASSERT_EQ(BcmQueryFormat(f, &d), BcmOk);
    EXPECT_STREQ(d.ShortName, rows[f].Short);
    EXPECT_STREQ(d.LongName, rows[f].Long);
    EXPECT_STREQ(d.Extensions, rows[f].Extensions);
    EXPECT_EQ(d.Capabilities, rows[f].Caps);
  }
  BcmFormatDesc d{};
  EXPECT_EQ(BcmQueryFormat(0, nullptr), BcmErrBadArgument);
  // A format number outside the table is refused, not looked up.
  EXPECT_EQ(BcmQueryFormat(3, &d), BcmErrBadArgument);
  EXPECT_EQ(BcmQueryFormat(-1, &d), BcmErrBadArgument);
}

TEST(Bcm, FormatFromName) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"picture.Bmp", 0},
      {"x.rl8", 0},
      {"C:\\pics\\OLD.DIB", 0},
      {"a.pcc", 1},
      {"/home/u/scan.PCX", 1},
      {"b.vst", 2},
      {"archive.tar.tga", 2},
      {"dir.tga/file", BcmErrNotFound}, // the only dot is in a folder name
      {"dir.tga\\file", BcmErrNotFound},
      {"noext", BcmErrNotFound},
      {"a.", BcmErrNotFound},
      {"a.tg", BcmErrNotFound},   // a word must match whole
      {"a.tgax", BcmErrNotFound}, // and end with the extension
      {"a.pc", BcmErrNotFound},
      {"a.b\xc5mp", BcmErrNotFound},
  };
  for (auto [name, expected] : cases) {
    int f = -1;
    const int rc = BcmFormatFromName(name, &f);
    if (expected >= 0 && expected < 3) {
      EXPECT_EQ(rc, BcmOk) << name;
      EXPECT_EQ(f, expected) << name;
    } else {
      EXPECT_EQ(rc, expected) << name;
    }
  }
  int f;
  EXPECT_EQ(BcmFormatFromName(nullptr, &f), BcmErrBadArgument);
  EXPECT_EQ(BcmFormatFromName("a.bmp", nullptr), BcmErrBadArgument);
}

TEST(Bcm, ErrorTexts) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "ok"},
      {1, "out of memory"},
      {2, "not supported"},
      {3, "bad option(s)"},
      {4, "not found"},
      {5, "bad magic number / signiture block"},
      {6, "bad bitmap size"},
      {7, "can't read file"},
      {8, "can't write file"},
      {9, "bad argument to bcm function"},
      {300, "number of bitmap planes is not 1"},
      {301, "bit count not 1, 4, 8 or 24"},
      {302, "cbFix bad"},
      {303, "compression type not uncompressed, RLE4 or RLE8"},
      {304, "less bitmaps in file than index requested"},
      {400, "bits per pixel not 8, 16, 24 or 32"},
      {401, "unsupported compression type for bits per pixel"},
      {402, "color map entry size not 24 bits per pixel"},
      {700, "version number not 4 or 5"},
      {701, "encoding mode not 1"},
      {702, "unsupported bpp/plane / plane combination"},
      {703, "corrupt file trailer"},
      {10, "general error"},
      {305, "general error"},
      {-1, "general error"},
  };
  for (auto& [code, text] : cases)
    EXPECT_EQ(BcmErrorText(code), text) << code;
}

TEST(Bcm, Options) {
  const char* opts = "Inv, invb\t1.1  trunc";
  EXPECT_EQ(BcmFindOption(opts, "inv"), opts);
  EXPECT_EQ(BcmFindOption(opts, "INVB"), opts + 5);
  EXPECT_EQ(BcmFindOption(opts, "1.1"), opts + 10);
  EXPECT_EQ(BcmFindOption(opts, "trunc"), opts + 15);
  EXPECT_EQ(BcmFindOption(opts, "in"), nullptr); // a word must end with the wanted one
  EXPECT_EQ(BcmFindOption(opts, "truncate"), nullptr);
  EXPECT_EQ(BcmFindOption(opts, ""), nullptr);
  EXPECT_EQ(BcmFindOptionPrefix(opts, "tr"), opts + 15);
  EXPECT_EQ(BcmFindOptionPrefix(opts, "INVB"), opts + 5);
  EXPECT_EQ(BcmFindOptionPrefix(opts, "x"), nullptr);
  EXPECT_EQ(BcmFindOption(nullptr, "inv"), nullptr);
  EXPECT_EQ(BcmFindOption("", "inv"), nullptr);
  EXPECT_EQ(BcmFindOption(" ,\t", "inv"), nullptr);

  // The module's buffer holds 103 characters: longer strings are refused whole.
  std::string fits = std::string(99, ' ') + "trunc";
  fits.erase(0, fits.size() - BcmMaxOptionLength);
  EXPECT_EQ(BcmFindOption(fits.c_str(), "trunc"), fits.c_str() + 98);
  const std::string longer = " " + fits;
  EXPECT_EQ(BcmFindOption(longer.c_str(), "trunc"), nullptr);
  const std::string huge(100000, 'x');
  EXPECT_EQ(BcmFindOptionPrefix(huge.c_str(), "x"), nullptr);
}

TEST(Bcm, LongOptionsAreRefusedBeforeAnyIo) {
  TMemoryFiles files;
  const std::string longer(BcmMaxOptionLength + 1, ' ');
  BcmBitmap bm;
  const int h = files.Add({'B', 'M'});
  for (int f = 0; f < 3; ++f)
    EXPECT_EQ(BcmReadHeader("x", h, f, &bm, longer.c_str()), BcmErrBadOptions);
  TImage im = MakeImage(2, 2, 24);
  const int out = files.Add({});
  for (int f = 0; f < 3; ++f)
    EXPECT_EQ(BcmWrite("x", out, f, &im.Bitmap, nullptr, im.Data.data(), longer.c_str()),
              BcmErrBadOptions);
  EXPECT_EQ(files.ReadCalls(), 0u);
  EXPECT_EQ(files.WriteCalls(), 0u);
}

TEST(Bcm, NullArgumentsAndForeignBitmaps) {
  TMemoryFiles files;
  const int h = files.Add(std::vector<uint8_t>(64, 0));
  BcmBitmap bm;
  BcmPaletteEntry pal[256];
  uint8_t data[64];
  EXPECT_EQ(BcmReadHeader(nullptr, h, 0, &bm, ""), BcmErrBadArgument);
  EXPECT_EQ(BcmReadHeader("x", h, 0, nullptr, ""), BcmErrBadArgument);
  EXPECT_EQ(BcmReadHeader("x", h, 0, &bm, nullptr), BcmErrBadArgument);
  EXPECT_EQ(BcmReadHeader("x", h, 5, &bm, ""), BcmErrBadArgument);
  EXPECT_EQ(BcmReadPalette(h, 0, nullptr, pal), BcmErrBadArgument);
  EXPECT_EQ(BcmReadPalette(h, 0, &bm, nullptr), BcmErrBadArgument);
  EXPECT_EQ(BcmReadData(h, 0, nullptr, data), BcmErrBadArgument);
  EXPECT_EQ(BcmReadData(h, 0, &bm, nullptr), BcmErrBadArgument);

  // A description no header reader filled, or one of another format, is refused.
  bm.Width = 4;
  bm.Height = 4;
  bm.BitsPerPixel = 8;
  for (int f = 0; f < 3; ++f) {
    EXPECT_EQ(BcmReadPalette(h, f, &bm, pal), BcmErrBadArgument) << f;
    EXPECT_EQ(BcmReadData(h, f, &bm, data), BcmErrBadArgument) << f;
  }
  bm.Private = BcmPcxPrivate{};
  EXPECT_EQ(BcmReadData(h, BcmFormatBmp, &bm, data), BcmErrBadArgument);
  EXPECT_EQ(BcmReadData(h, BcmFormatTga, &bm, data), BcmErrBadArgument);
  // A description whose buffer would pass the module's bound is refused before use.
  bm.Private = BcmBmpPrivate{};
  bm.Width = 70000;
  bm.Height = 70000;
  EXPECT_EQ(BcmReadData(h, BcmFormatBmp, &bm, data), BcmErrBadArgument);

  TImage im = MakeImage(2, 2, 8);
  EXPECT_EQ(BcmWrite(nullptr, h, 0, &im.Bitmap, im.Palette.data(), im.Data.data(), ""),
            BcmErrBadArgument);
  EXPECT_EQ(BcmWrite("x", h, 0, &im.Bitmap, im.Palette.data(), im.Data.data(), nullptr),
            BcmErrBadArgument);
  EXPECT_EQ(BcmWrite("x", h, 0, &im.Bitmap, nullptr, im.Data.data(), ""), BcmErrBadArgument);
  EXPECT_EQ(BcmWrite("x", h, 0, &im.Bitmap, im.Palette.data(), nullptr, ""), BcmErrBadArgument);
  im.Bitmap.BitsPerPixel = 16;
  EXPECT_EQ(BcmWrite("x", h, 0, &im.Bitmap, im.Palette.data(), im.Data.data(), ""),
            BcmErrNotSupported);
  im.Bitmap.BitsPerPixel = 8;
  im.Bitmap.Height = -2;
  EXPECT_EQ(BcmWrite("x", h, 0, &im.Bitmap, im.Palette.data(), im.Data.data(), ""), BcmErrBadSize);
}

TEST(Bcm, GeometryBound) {
  struct Case {
    int64_t W, H;
    int Bits;
    int Rc;
  };
  const std::vector<Case> cases = {
      {1, 1, 1, BcmOk},
      {0, 1, 8, BcmErrBadSize},
      {1, 0, 8, BcmErrBadSize},
      {-5, 3, 8, BcmErrBadSize},
      {3, -5, 8, BcmErrBadSize},
      {int64_t(1) << 31, 1, 8, BcmErrBadSize},
      {0x7FFFFFFF, 1, 24, BcmErrBadSize}, // the row alone passes 32 bits
      {65536, 65536, 24, BcmErrBadSize},
      {16384, 16384, 32, BcmErrBadSize}, // no such bit count
      {16384, 16384, 8, BcmOk},
      {32768, 32768, 8, BcmOk},         // 2^30 bytes: the bound itself
      {32769, 32768, 8, BcmErrBadSize}, // one row more
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bcm::CheckGeometry(c.W, c.H, c.Bits), c.Rc) << c.W << "x" << c.H << "x" << c.Bits;
  }
  EXPECT_EQ(BcmRowBytes(3, 1), 4u);
  EXPECT_EQ(BcmRowBytes(33, 1), 8u);
  EXPECT_EQ(BcmRowBytes(3, 24), 12u);
  EXPECT_EQ(BcmRowBytes(5, 4), 4u);
  EXPECT_EQ(BcmRowBytes(0, 8), 0u);
  EXPECT_EQ(BcmRowBytes(3, 16), 0u);
}

// Write Image in Format through Io, read it back through Io; true when it came back.
bool RoundTrip(test::TMemoryFiles& Files, const TImage& Image, int Format) {
  const BcmIo& io = Files.Io();
  const int out = io.Create(io.Context, "carried", 0);
  if (BcmWrite(io, "carried", out, Format, &Image.Bitmap, Image.Palette.data(), Image.Data.data(),
               "") != BcmOk)
    return false;
  io.Seek(io.Context, out, 0, 0);
  TImage back;
  bool same = BcmReadHeader(io, "carried", out, Format, &back.Bitmap, "") == BcmOk;
  if (same && back.Bitmap.BitsPerPixel <= 8)
    same = BcmReadPalette(io, out, Format, &back.Bitmap, back.Palette.data()) == BcmOk;
  if (same) {
    back.Data.assign(BcmDataBytes(back.Bitmap), 0);
    same = BcmReadData(io, out, Format, &back.Bitmap, back.Data.data()) == BcmOk &&
           back.Data == Image.Data;
  }
  io.Close(io.Context, out);
  return same;
}

TEST(Bcm, CarriedHooksAloneReachTheFiles) {
  // The process-wide hooks stay on the disk; the carried ones reach memory.
  test::TMemoryFiles files(test::TMemoryFiles::CarriedOnly);
  const TImage im = MakePattern(13, 5, 8);
  for (int format : {BcmFormatBmp, BcmFormatPcx, BcmFormatTga}) {
    EXPECT_TRUE(RoundTrip(files, im, format)) << format;
  }
  EXPECT_GT(files.ReadCalls(), 0u);
  EXPECT_GT(files.WriteCalls(), 0u);

  // Hooks with one missing are refused before any is called.
  BcmIo partial = files.Io();
  partial.Seek = nullptr;
  BcmBitmap bm;
  const std::size_t reads = files.ReadCalls();
  EXPECT_EQ(BcmReadHeader(partial, "t", files.Add({'B', 'M'}), BcmFormatBmp, &bm, ""),
            BcmErrBadArgument);
  EXPECT_EQ(BcmReadPalette(partial, 3, BcmFormatBmp, &bm, nullptr), BcmErrBadArgument);
  EXPECT_EQ(files.ReadCalls(), reads);
}

TEST(Bcm, ThreadsWithTheirOwnHooksShareNothing) {
  // Each thread its own files and pictures, at the same time.
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &failures] {
      test::TMemoryFiles files(test::TMemoryFiles::CarriedOnly);
      const TImage im = MakePattern(17 + t, 9, t % 2 ? 24 : 8);
      for (int i = 0; i < 50; ++i)
        for (int format : {BcmFormatBmp, BcmFormatPcx, BcmFormatTga})
          if (!RoundTrip(files, im, format))
            ++failures[static_cast<std::size_t>(t)];
    });
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(Bcm, HooksAndReadAhead) {
  EXPECT_EQ(BcmSetIoHooks(nullptr, BcmDefaultCreate, BcmDefaultClose, BcmDefaultSeek,
                          BcmDefaultRead, BcmDefaultWrite),
            BcmErrBadArgument);
  TMemoryFiles files;
  std::vector<uint8_t> bytes(40000);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(i * 7);
  const int h = files.Add(bytes);
  auto in = bcm::NewReadAhead({&BcmProcessIo(), h});
  ASSERT_TRUE(in);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    ASSERT_EQ(bcm::GetByte(*in), bytes[i]) << i;
  EXPECT_EQ(bcm::GetByte(*in), -1);
  EXPECT_EQ(bcm::GetByte(*in), -1);
  EXPECT_EQ(files.ReadCalls(), 5u); // three refills of 16384 and the two at the end
  auto bad = bcm::NewReadAhead({&BcmProcessIo(), 9999}); // a handle the hooks do not know
  EXPECT_EQ(bcm::GetByte(*bad), -1);
}

} // namespace
