#include "TiffGraphic.h"
#include "ByteOrder.h"
#include "TestDir.h"
#include "TestHelpers.h"
#include "TiffEntries.h"

#include <gtest/gtest.h>

#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using namespace gf;
using namespace gf::test;

namespace {

// libtiff over a file image in memory, for writing test files and reading ours.
struct TMemTiff {
  std::vector<uint8_t> Data;
  toff_t Pos = 0;
  static tmsize_t Read(thandle_t H, void* B, tmsize_t N) {
    auto* m = static_cast<TMemTiff*>(H);
    const auto n = static_cast<tmsize_t>(std::min<toff_t>(
        static_cast<toff_t>(N), m->Data.size() - std::min<toff_t>(m->Pos, m->Data.size())));
    if (n > 0)
      std::memcpy(B, m->Data.data() + m->Pos, static_cast<std::size_t>(n));
    m->Pos += static_cast<toff_t>(n);
    return n;
  }
  static tmsize_t Write(thandle_t H, void* B, tmsize_t N) {
    auto* m = static_cast<TMemTiff*>(H);
    if (m->Pos + static_cast<toff_t>(N) > m->Data.size())
      m->Data.resize(m->Pos + static_cast<toff_t>(N));
    std::memcpy(m->Data.data() + m->Pos, B, static_cast<std::size_t>(N));
    m->Pos += static_cast<toff_t>(N);
    return N;
  }
  static toff_t Seek(thandle_t H, toff_t Off, int Whence) {
    auto* m = static_cast<TMemTiff*>(H);
    m->Pos = Whence == SEEK_SET ? Off : Whence == SEEK_CUR ? m->Pos + Off : m->Data.size() + Off;
    return m->Pos;
  }
  static int Close(thandle_t) { return 0; }
  static toff_t Size(thandle_t H) { return static_cast<TMemTiff*>(H)->Data.size(); }
  static int Map(thandle_t, void**, toff_t*) { return 0; }
  static void Unmap(thandle_t, void*, toff_t) {}
  TIFF* Open(const char* Mode) {
    Pos = 0;
    return TIFFClientOpen("mem", Mode, this, Read, Write, Seek, Close, Size, Map, Unmap);
  }
};

// Writes a grey or bilevel image with libtiff: Rows[y][x] are sample values.
std::vector<uint8_t> LibtiffImage(int W, int H, int Bits, int Photometric, int Compression,
                                  bool Tiled, uint8_t Fill) {
  TMemTiff m;
  TIFF* t = m.Open("w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, W);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, H);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, Bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, Photometric);
  TIFFSetField(t, TIFFTAG_COMPRESSION, Compression);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (Tiled) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
    std::vector<uint8_t> tile(static_cast<std::size_t>(TIFFTileSize(t)), Fill);
    for (uint32_t tile_no = 0; tile_no < TIFFNumberOfTiles(t); ++tile_no)
      TIFFWriteEncodedTile(t, tile_no, tile.data(), static_cast<tmsize_t>(tile.size()));
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4);
    std::vector<uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(t)), Fill);
    for (int y = 0; y < H; ++y)
      TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0);
  }
  TIFFClose(t);
  return m.Data;
}

// What LibtiffWrite makes: samples of Bits bits, packed from the high bit, Samples a
// pixel; in strips of RowsPerStrip rows or in 16 x 16 tiles. Jpeg writes JPEG-in-TIFF
// as YCbCr with 2 x 2 subsampling from RGB samples, as tiffcp -c jpeg does.
struct TTiffSpec {
  int W = 0, H = 0;
  int Bits = 8, Samples = 1;
  int Photometric = PHOTOMETRIC_MINISBLACK;
  int Compression = COMPRESSION_NONE;
  bool Tiled = false;
  int RowsPerStrip = 4;
  std::vector<uint16_t> Colormap = {}; // red, green, blue arrays one after the other
  int ExtraSample = -1;   // the ExtraSamples tag for one sample beyond the colour; -1: none
  const char* Mode = "w"; // libtiff's open mode: "wb" big-endian, "w8" BigTIFF
  std::function<void(TIFF*)> MoreTags = {}; // sets further tags before the pixels
  int Pages = 1;                            // each the same picture
};
using TSampleOf = uint8_t (*)(int X, int Y, int Sample);

std::vector<uint8_t> LibtiffWrite(const TTiffSpec& S, TSampleOf Sample) {
  TMemTiff m;
  TIFF* t = m.Open(S.Mode);
  for (int page = 0; page < S.Pages; ++page) {
    const bool jpeg = S.Compression == COMPRESSION_JPEG;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, S.W);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, S.H);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, S.Bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, S.Samples);
    TIFFSetField(t, TIFFTAG_COMPRESSION, S.Compression);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (jpeg) {
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
      TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
      TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB); // RGB in, YCbCr stored
    } else {
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, S.Photometric);
    }
    if (S.ExtraSample >= 0) {
      const uint16_t extra = static_cast<uint16_t>(S.ExtraSample);
      TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (!S.Colormap.empty()) {
      const std::size_t n = S.Colormap.size() / 3;
      TIFFSetField(t, TIFFTAG_COLORMAP, S.Colormap.data(), S.Colormap.data() + n,
                   S.Colormap.data() + 2 * n);
    }
    if (S.MoreTags)
      S.MoreTags(t);
    const int across = S.Tiled ? 16 : S.W, down = S.Tiled ? 16 : S.H;
    // One block (a tile, or the whole image) of packed rows, at (X0, Y0).
    auto block = [&](int X0, int Y0) {
      const std::size_t rowBytes = (static_cast<std::size_t>(across) * S.Bits * S.Samples + 7) / 8;
      std::vector<uint8_t> out(rowBytes * static_cast<std::size_t>(down));
      for (int y = 0; y < down; ++y)
        for (int x = 0; x < across; ++x)
          for (int s = 0; s < S.Samples; ++s) {
            const int bit = (x * S.Samples + s) * S.Bits;
            const unsigned v = Sample(X0 + x, Y0 + y, s) & ((1u << S.Bits) - 1);
            uint8_t* p = out.data() + static_cast<std::size_t>(y) * rowBytes + bit / 8;
            if (S.Bits == 8)
              *p = static_cast<uint8_t>(v);
            else
              *p = static_cast<uint8_t>(*p | v << (8 - S.Bits - bit % 8));
          }
      return out;
    };
    if (S.Tiled) {
      TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
      TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
      for (int y = 0; y < S.H; y += 16)
        for (int x = 0; x < S.W; x += 16) {
          auto tile = block(x, y);
          TIFFWriteTile(t, tile.data(), static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0, 0);
        }
    } else {
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, jpeg ? 16 : S.RowsPerStrip);
      auto rows = block(0, 0);
      const std::size_t rowBytes = rows.size() / static_cast<std::size_t>(S.H);
      for (int y = 0; y < S.H; ++y)
        TIFFWriteScanline(t, rows.data() + static_cast<std::size_t>(y) * rowBytes,
                          static_cast<uint32_t>(y), 0);
    }
    if (page + 1 < S.Pages)
      TIFFWriteDirectory(t);
  }
  TIFFClose(t);
  return m.Data;
}

// A little-endian TIFF of an 8-bit grey image, written by hand so that its tags can
// be anything: Extra entries are (tag, type, value) with type 3 SHORT or 4 LONG, or
// 5 RATIONAL with Value as numerator and Denominator beside it. The pixel bytes are
// i x 7, rows of PixelBytes / H bytes; with StripRows above 0 and below H they are cut
// into strips of that many rows (the last one takes the rest), listed in arrays after
// the directory.
struct TEntry {
  uint16_t Tag, Type;
  uint32_t Value;
  uint32_t Denominator = 1;
};
std::vector<uint8_t> HandTiff(uint32_t W, uint32_t H, std::vector<TEntry> Extra,
                              std::size_t PixelBytes, uint32_t StripRows = 0) {
  std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
  std::vector<TEntry> e = {
      {256, 4, W}, {257, 4, H}, {273, 4, 0}, {279, 4, static_cast<uint32_t>(PixelBytes)}};
  e.insert(e.end(), Extra.begin(), Extra.end());
  std::sort(e.begin(), e.end(), [](const TEntry& a, const TEntry& b) { return a.Tag < b.Tag; });
  const uint32_t dataAt = static_cast<uint32_t>(8 + 2 + 12 * e.size() + 4);
  auto put16 = [&](uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  put16(static_cast<uint32_t>(e.size()));
  uint32_t extraAt = dataAt + static_cast<uint32_t>(PixelBytes); // rationals and strip arrays
  const uint32_t Strips = StripRows > 0 && StripRows < H ? (H + StripRows - 1) / StripRows : 1;
  const auto stripBytes = static_cast<uint32_t>(PixelBytes / H * StripRows);
  for (const auto& x : e) {
    put16(x.Tag);
    put16(x.Type);
    const bool strips = (x.Tag == 273 || x.Tag == 279) && Strips > 1;
    put32(strips ? Strips : 1);
    if (x.Type == 5) {
      put32(extraAt);
      extraAt += 8;
    } else if (strips) {
      put32(extraAt);
      extraAt += 4 * Strips;
    } else {
      put32(x.Tag == 273 ? dataAt : x.Value);
    }
  }
  put32(0);
  for (std::size_t i = 0; i < PixelBytes; ++i)
    out.push_back(static_cast<uint8_t>(i * 7));
  for (const auto& x : e)
    if (x.Type == 5) {
      put32(x.Value);
      put32(x.Denominator);
    } else if ((x.Tag == 273 || x.Tag == 279) && Strips > 1) {
      for (uint32_t i = 0; i < Strips; ++i) {
        const bool last = i + 1 == Strips;
        put32(x.Tag == 273 ? dataAt + i * stripBytes
              : last       ? static_cast<uint32_t>(PixelBytes) - i * stripBytes
                           : stripBytes);
      }
    }
  return out;
}

const std::vector<TEntry> GreyTags = {
    {258, 3, 8}, {259, 3, 1}, {262, 3, 1}, {277, 3, 1}, {284, 3, 1}};

} // namespace

TEST(TiffGraphic, SaveThenLoadEveryFormatAndCompression) {
  const TTiffCompression all[] = {tcNone, tcPackbits, tcGroup3_1D, tcGroup3_2D, tcGroup4, tcZLib};
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f)
    for (TTiffCompression c : all) {
      TTiffGraphic g;
      TMaxLogPalette custom{};
      custom.palVersion = 0x300;
      custom.palNumEntries = 9;
      for (int i = 0; i < 9; ++i)
        custom.palPalEntry[i] = {static_cast<uint8_t>(i * 31), static_cast<uint8_t>(255 - i), 7, 0};
      const bool colour = f == ifColor16 || f == ifColor256;
      g.NewImage(37, 21, static_cast<TImageFormat>(f), colour ? &custom : nullptr, 150, 75);
      if (ErrorOf([&] { g.SetCompression(c); }) != "(no error)")
        continue; // not allowed for this format
      SCOPED_TRACE(ImageFormatName(static_cast<TImageFormat>(f)) + " " + CompressionName(c));
      FillPattern(g);
      TMemoryStream s;
      g.SaveToStream(s);
      s.SetPosition(0);
      TTiffGraphic back;
      back.LoadFromStream(s);
      ASSERT_EQ(back.ImageFormat(), f);
      EXPECT_EQ(back.GetCompression(), c);
      EXPECT_EQ(back.GetXDpi(), 150);
      EXPECT_EQ(back.GetYDpi(), 75);
      EXPECT_EQ(back.RowsPerStrip, 16);
      ASSERT_EQ(back.ImageSize(), g.ImageSize());
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x)
          ASSERT_EQ(back.GetPixelColor(x, y), g.GetPixelColor(x, y)) << x << "," << y;
      if (colour) {
        // 2^bits entries come back: the palette's, then black.
        EXPECT_EQ(back.ImagePalette().palNumEntries, f == ifColor16 ? 16 : 256);
        EXPECT_EQ(std::memcmp(back.ImagePalette().palPalEntry, custom.palPalEntry, 9 * 4), 0);
      }
    }
}

TEST(TiffGraphic, JpegSavesAndLoadsClose) {
  TTiffGraphic g;
  g.NewImage(32, 16, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      g.SetPixelColor(x, y, RGBToColor(200, 100, 50));
  g.SetCompression(tcJpeg);
  TMemoryStream s;
  g.SaveToStream(s);
  s.SetPosition(0);
  TTiffGraphic back;
  back.LoadFromStream(s);
  EXPECT_EQ(back.GetCompression(), tcJpeg);
  EXPECT_EQ(back.RowsPerStrip, 8);
  const TColor c = back.GetPixelColor(10, 10);
  EXPECT_NEAR(ColorRed(c), 200, 4);
  EXPECT_NEAR(ColorGreen(c), 100, 4);
  EXPECT_NEAR(ColorBlue(c), 50, 4);
}

TEST(TiffGraphic, TagsOfASavedFile) {
  TTiffGraphic g;
  g.NewImage(9, 5, ifColor16, nullptr, 72, 72);
  g.SetPixelIndex(0, 0, 15);
  TMemoryStream s;
  g.SaveToStream(s);
  TMemTiff m;
  m.Data = BytesOf(s);
  TIFF* t = m.Open("r");
  ASSERT_NE(t, nullptr);
  uint32_t rows = 0;
  uint16_t v16 = 0;
  char* text = nullptr;
  float res = 0;
  EXPECT_TRUE(TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rows));
  EXPECT_EQ(rows, 16u);
  TIFFGetField(t, TIFFTAG_COMPRESSION, &v16);
  EXPECT_EQ(v16, COMPRESSION_PACKBITS);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &v16);
  EXPECT_EQ(v16, PHOTOMETRIC_PALETTE);
  TIFFGetField(t, TIFFTAG_PLANARCONFIG, &v16);
  EXPECT_EQ(v16, PLANARCONFIG_CONTIG);
  TIFFGetField(t, TIFFTAG_SOFTWARE, &text);
  EXPECT_STREQ(text, "Quorvane Image Library");
  TIFFGetField(t, TIFFTAG_DATETIME, &text);
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}:\d\d:\d\d \d\d:\d\d:\d\d)"))) << text;
  TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &v16);
  EXPECT_EQ(v16, RESUNIT_INCH);
  TIFFGetField(t, TIFFTAG_XRESOLUTION, &res);
  EXPECT_FLOAT_EQ(res, 72);
  uint16_t *r = nullptr, *gr = nullptr, *b = nullptr;
  ASSERT_TRUE(TIFFGetField(t, TIFFTAG_COLORMAP, &r, &gr, &b));
  EXPECT_EQ(r[15], 65535); // 255 x 257
  EXPECT_EQ(r[12], 65535);
  EXPECT_EQ(gr[12], 85 * 257);
  TIFFClose(t);

  // Black and white: CCITT inverts and says min-is-white; Packbits keeps both.
  for (TTiffCompression c : {tcGroup4, tcPackbits}) {
    TTiffGraphic bw;
    bw.NewImage(8, 1, ifBlackWhite, nullptr, 0, 0);
    EXPECT_EQ(bw.GetCompression(), tcGroup4);
    bw.SetCompression(c);
    bw.SetPixelIndex(0, 0, 1);
    TMemoryStream o;
    bw.SaveToStream(o);
    TMemTiff mt;
    mt.Data = BytesOf(o);
    TIFF* tt = mt.Open("r");
    TIFFGetField(tt, TIFFTAG_PHOTOMETRIC, &v16);
    EXPECT_EQ(v16, c == tcGroup4 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
    uint8_t row[4] = {};
    TIFFReadScanline(tt, row, 0, 0);
    EXPECT_EQ(row[0], c == tcGroup4 ? 0x7F : 0x80);
    TIFFClose(tt);
  }
}

TEST(TiffGraphic, CompressionRules) {
  TTiffGraphic g;
  g.NewImage(4, 4, ifColor16, nullptr, 0, 0);
  EXPECT_EQ(g.GetCompression(), tcPackbits);
  g.SetCompression(tcZLib);
  EXPECT_EQ(ErrorOf([&] { g.SetCompression(tcJpeg); }),
            "JPEG compression not supported with 16 color images");
  EXPECT_EQ(g.GetCompression(), tcZLib);
  EXPECT_EQ(ErrorOf([&] { g.SetCompression(tcGroup4); }),
            "CCITT Group 4 compression not supported with 16 color images");
  EXPECT_THROW(g.SetCompression(static_cast<TTiffCompression>(7)), EQuorvaneError);
  TTiffGraphic bw;
  bw.NewImage(4, 4, ifBlackWhite, nullptr, 0, 0);
  EXPECT_EQ(ErrorOf([&] { bw.SetCompression(tcJpeg); }),
            "JPEG compression not supported with Black and white images");
  EXPECT_EQ(CompressionName(tcGroup3_2D), "CCITT Group 3, 2D");
  EXPECT_EQ(CompressionName(static_cast<TTiffCompression>(9)), "");
  EXPECT_EQ(Scale16To8(65535), 255);
  EXPECT_EQ(Scale16To8(65534), 254);
  const uint16_t small[2] = {10, 255}, big[2] = {0, 256};
  EXPECT_EQ(ColormapBits(2, small, small, small), 8);
  EXPECT_EQ(ColormapBits(2, small, big, small), 16);
  EXPECT_TRUE(IsCcittCompression(32771));
  EXPECT_FALSE(IsCcittCompression(1));
}

TEST(TiffGraphic, PagesAppendCountAndLoadOneByOne) {
  TMemoryStream s;
  for (int page = 0; page < 3; ++page) {
    TTiffGraphic g;
    g.NewImage(5 + page, 3, ifGray256, nullptr, 0, 0);
    g.SetPixelIndex(0, 0, static_cast<uint8_t>(100 + page));
    g.AppendToStream(s);
  }
  TTiffGraphic reader;
  s.SetPosition(0);
  EXPECT_EQ(reader.GetImageCount(s), 3);
  for (int index = 1; index <= 3; ++index) {
    s.SetPosition(0);
    reader.SetFrameIndex(index);
    reader.LoadFromStream(s);
    EXPECT_EQ(reader.GetWidth(), 4 + index);
    EXPECT_EQ(reader.GetPixelIndex(0, 0), 99 + index);
  }
  // A page that does not exist leaves the first one selected.
  for (int index : {0, 4}) {
    s.SetPosition(0);
    reader.SetFrameIndex(index);
    reader.LoadFromStream(s);
    EXPECT_EQ(reader.GetWidth(), 5);
  }
  // As frames.
  TTiffGraphic frames;
  frames.SetLoadAllFrames(true);
  s.SetPosition(0);
  frames.LoadFromStream(s);
  EXPECT_EQ(frames.FrameCount(), 3);
  EXPECT_EQ(frames.GetWidth(), 5);
  frames.SetCurrentFrame(3);
  EXPECT_EQ(frames.GetWidth(), 7);

  TDibGraphic plain;
  plain.NewImage(1, 1, ifGray256, nullptr, 0, 0);
  EXPECT_EQ(ErrorOf([&] { plain.AppendToStream(s); }),
            "The TDibGraphic format does not support multiple images");
}

// The size of a page is read from its directory, without decoding; what is no TIFF,
// or a directory without a width, raises as a load would.
TEST(TiffGraphic, PageSizesAreReadWithoutDecoding) {
  TMemoryStream pages;
  const std::vector<uint8_t> head(100, 0xEE); // the TIFF starts inside the stream
  pages.WriteBuffer(head.data(), head.size());
  TMemoryStream tiff;
  for (int page = 0; page < 3; ++page) {
    TTiffGraphic g;
    g.NewImage(5 + page, 3 + 2 * page, ifGray256, nullptr, 0, 0);
    g.AppendToStream(tiff);
  }
  pages.WriteBuffer(tiff.Memory(), static_cast<std::size_t>(tiff.GetSize()));
  struct TCase {
    int Index;
    int64_t Width, Height;
  };
  for (TCase c : {TCase{1, 5, 3}, TCase{2, 6, 5}, TCase{3, 7, 7}, TCase{4, 5, 3}}) {
    SCOPED_TRACE(c.Index); // a page that does not exist: the first, as a load takes it
    pages.SetPosition(100);
    TTiffGraphic reader;
    std::optional<TImageSize> size = reader.ReadImageSize(pages, c.Index);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->Width, c.Width);
    EXPECT_EQ(size->Height, c.Height);
    EXPECT_TRUE(reader.GetEmpty()); // nothing decoded
  }
  TTiffGraphic reader;
  auto other = StreamOf(std::vector<uint8_t>(64, 'x'));
  EXPECT_EQ(ErrorOf([&] { reader.ReadImageSize(*other, 1); }), "ETiffError TIFFOpen");
}

TEST(TiffGraphic, ATiffInsideAStream) {
  TTiffGraphic g;
  g.NewImage(6, 4, ifTrueColor, nullptr, 0, 0);
  FillPattern(g);
  TMemoryStream s;
  const std::vector<uint8_t> head(100, 0xEE);
  s.WriteBuffer(head.data(), head.size());
  g.SaveToStream(s);
  EXPECT_EQ(s.Memory()[100], 'I');
  // Offsets count from the TIFF's own start.
  TMemTiff m;
  m.Data.assign(s.Memory() + 100, s.Memory() + s.GetSize());
  TIFF* t = m.Open("r");
  ASSERT_NE(t, nullptr);
  TIFFClose(t);
  s.SetPosition(100);
  TTiffGraphic reader;
  EXPECT_EQ(reader.GetImageCount(s), 1);
  s.SetPosition(100);
  reader.LoadFromStream(s);
  EXPECT_EQ(reader.GetPixelColor(5, 3), g.GetPixelColor(5, 3));
}

TEST(TiffGraphic, StripsAndTilesFromMemoryAndFromAFile) {
  // The same pixels whichever way the TIFF is stored and whatever stream holds it, also
  // when the TIFF starts inside the stream.
  auto sample = [](int X, int Y, int S) { return static_cast<uint8_t>(X * 5 + Y * 11 + S * 80); };
  const TTestDir dir("gf_tiff_streams_");
  for (bool tiled : {false, true})
    for (bool file : {false, true})
      for (std::size_t at : {std::size_t{0}, std::size_t{100}}) {
        SCOPED_TRACE(::testing::Message() << (tiled ? "tiles" : "strips") << " from "
                                          << (file ? "a file" : "memory") << " at " << at);
        std::vector<uint8_t> bytes(at, 0xEE);
        const auto tiff = LibtiffWrite(
            {.W = 40, .H = 37, .Samples = 3, .Photometric = PHOTOMETRIC_RGB, .Tiled = tiled},
            sample);
        bytes.insert(bytes.end(), tiff.begin(), tiff.end());
        std::unique_ptr<TStream> in;
        if (file) {
          const std::string path = dir.Path("in.tif");
          {
            TFileStream out(path, TFileMode::CreateReplace);
            out.WriteBuffer(bytes.data(), bytes.size());
          }
          in = std::make_unique<TFileStream>(path, TFileMode::OpenRead);
        } else {
          in = StreamOf(bytes);
        }
        in->SetPosition(static_cast<int64_t>(at));
        TTiffGraphic g;
        g.LoadFromStream(*in);
        ASSERT_EQ(g.ImageFormat(), ifTrueColor);
        ASSERT_EQ(g.GetWidth(), 40);
        ASSERT_EQ(g.GetHeight(), 37);
        for (int y = 0; y < 37; ++y)
          for (int x = 0; x < 40; ++x)
            ASSERT_EQ(g.GetPixelColor(x, y),
                      RGBToColor(sample(x, y, 0), sample(x, y, 1), sample(x, y, 2)))
                << x << "," << y;
      }
}

TEST(TiffGraphic, LayoutsWithoutABitmapRowReadRight) {
  // Smooth colours, so that JPEG's loss stays small.
  auto rgb = [](int X, int Y, int S) {
    return static_cast<uint8_t>(S == 0 ? X * 4 : S == 1 ? Y * 4 : 200 - X - Y);
  };
  auto rgb4 = [](int X, int Y, int S) { return static_cast<uint8_t>((X + 2 * Y + 5 * S) % 16); };
  auto bit = [](int X, int Y, int) { return static_cast<uint8_t>((X / 3 + Y) % 2); };
  // 1 bit palette: two colours, 16-bit values.
  const std::vector<uint16_t> twoColours = {200 * 257, 10 * 257, 30 * 257, 20 * 257, 0, 250 * 257};
  struct TCase {
    const char* Name;
    TTiffSpec Spec;
    TSampleOf Sample;
    TImageFormat Format;
    TTiffCompression Compression;
    int Tolerance;               // per channel
    const char* Error = nullptr; // a refusal instead
  };
  const TCase cases[] = {
      {"JPEG YCbCr 2x2, strips",
       {.W = 45, .H = 35, .Samples = 3, .Compression = COMPRESSION_JPEG},
       rgb,
       ifTrueColor,
       tcJpeg,
       10},
      {"JPEG YCbCr 2x2, tiles",
       {.W = 45, .H = 35, .Samples = 3, .Compression = COMPRESSION_JPEG, .Tiled = true},
       rgb,
       ifTrueColor,
       tcJpeg,
       10},
      {"RGB 4 bits, strips",
       {.W = 33, .H = 20, .Bits = 4, .Samples = 3, .Photometric = PHOTOMETRIC_RGB},
       rgb4,
       ifTrueColor,
       tcNone,
       0},
      {"RGB 4 bits, tiles",
       {.W = 33, .H = 20, .Bits = 4, .Samples = 3, .Photometric = PHOTOMETRIC_RGB, .Tiled = true},
       rgb4,
       ifTrueColor,
       tcNone,
       0,
       "ETiffError Unsupported bit count: 12"},
      {"RGB 2 bits, strips",
       {.W = 33, .H = 20, .Bits = 2, .Samples = 3, .Photometric = PHOTOMETRIC_RGB},
       rgb4,
       ifTrueColor,
       tcNone,
       0},
      {"palette 1 bit, strips",
       {.W = 21, .H = 9, .Bits = 1, .Photometric = PHOTOMETRIC_PALETTE, .Colormap = twoColours},
       bit,
       ifColor16,
       tcNone,
       0},
      {"palette 1 bit, tiles",
       {.W = 21,
        .H = 9,
        .Bits = 1,
        .Photometric = PHOTOMETRIC_PALETTE,
        .Tiled = true,
        .Colormap = twoColours},
       bit,
       ifColor16,
       tcNone,
       0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto in = StreamOf(LibtiffWrite(c.Spec, c.Sample));
    TTiffGraphic g;
    const std::string error = ErrorOf([&] { g.LoadFromStream(*in); });
    if (c.Error) {
      EXPECT_EQ(error, c.Error);
      continue;
    }
    ASSERT_EQ(error, "(no error)") << (g.Messages().empty() ? "" : g.Messages().front());
    ASSERT_EQ(g.ImageFormat(), c.Format);
    EXPECT_EQ(g.GetCompression(), c.Compression);
    ASSERT_EQ(g.GetWidth(), c.Spec.W);
    ASSERT_EQ(g.GetHeight(), c.Spec.H);
    int wrong = 0;
    for (int y = 0; y < c.Spec.H; ++y)
      for (int x = 0; x < c.Spec.W; ++x) {
        TColor want;
        if (c.Spec.Photometric == PHOTOMETRIC_PALETTE) {
          const int i = c.Sample(x, y, 0);
          want = RGBToColor(static_cast<uint8_t>(twoColours[i] / 257),
                            static_cast<uint8_t>(twoColours[2 + i] / 257),
                            static_cast<uint8_t>(twoColours[4 + i] / 257));
        } else {
          const int max = (1 << c.Spec.Bits) - 1, scale = 255 / max;
          want = RGBToColor(static_cast<uint8_t>((c.Sample(x, y, 0) & max) * scale),
                            static_cast<uint8_t>((c.Sample(x, y, 1) & max) * scale),
                            static_cast<uint8_t>((c.Sample(x, y, 2) & max) * scale));
        }
        const TColor got = g.GetPixelColor(x, y);
        if (std::abs(ColorRed(got) - ColorRed(want)) > c.Tolerance ||
            std::abs(ColorGreen(got) - ColorGreen(want)) > c.Tolerance ||
            std::abs(ColorBlue(got) - ColorBlue(want)) > c.Tolerance)
          if (++wrong <= 3)
            ADD_FAILURE() << x << "," << y << ": " << std::hex << got << " != " << want;
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(TiffGraphic, MinIsWhiteIsInvertedOnce) {
  // Stored 0x30 everywhere, min-is-white: shown as 255 - 0x30 whichever reader runs.
  for (bool tiled : {false, true})
    for (int bits : {8, 1}) {
      SCOPED_TRACE(::testing::Message() << "tiled " << tiled << " bits " << bits);
      const uint8_t fill = bits == 8 ? 0x30 : 0x0F; // 1 bit: four white, four black
      auto in = StreamOf(
          LibtiffImage(20, 20, bits, PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, tiled, fill));
      TTiffGraphic g;
      g.LoadFromStream(*in);
      if (bits == 8) {
        EXPECT_EQ(g.GetPixelColor(3, 3), RGBToColor(0xCF, 0xCF, 0xCF));
      } else {
        EXPECT_EQ(g.GetPixelColor(0, 0), RGBToColor(255, 255, 255));
        EXPECT_EQ(g.GetPixelColor(4, 0), RGBToColor(0, 0, 0));
      }
    }
}

TEST(TiffGraphic, OlderCodesAndRefusals) {
  // The older Deflate code, 32946, reads as ZLib (which is written as 8).
  auto deflate =
      StreamOf(LibtiffImage(8, 8, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_DEFLATE, false, 9));
  TTiffGraphic g;
  g.LoadFromStream(*deflate);
  EXPECT_EQ(g.GetCompression(), tcZLib);
  EXPECT_EQ(g.GetPixelIndex(7, 7), 9);

  auto lzw = StreamOf(LibtiffImage(8, 8, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, false, 9));
  EXPECT_EQ(ErrorOf([&] { g.LoadFromStream(*lzw); }), "LZW compression not supported");

  auto grey2 = StreamOf(LibtiffImage(8, 8, 2, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, false, 0));
  EXPECT_EQ(ErrorOf([&] { g.LoadFromStream(*grey2); }), "ETiffError Unsupported bit count: 2");

  auto ojpeg = GreyTags;
  ojpeg[1].Value = 6;
  auto old = StreamOf(HandTiff(4, 4, ojpeg, 16));
  const std::string err = ErrorOf([&] { g.LoadFromStream(*old); });
  EXPECT_TRUE(err == "Unsupported compression tag, 6" || err == "ETiffError TIFFOpen") << err;

  for (const auto& bytes : {std::vector<uint8_t>{}, std::vector<uint8_t>{'I', 'I', 42, 0},
                            std::vector<uint8_t>(64, 0x41)}) {
    auto in = StreamOf(bytes);
    EXPECT_EQ(ErrorOf([&] { g.LoadFromStream(*in); }), "ETiffError TIFFOpen");
  }
  TTiffGraphic empty;
  TMemoryStream out;
  EXPECT_THROW(empty.SaveToStream(out), ETiffError);
}

TEST(TiffGraphic, HostileTags) {
  // RowsPerStrip missing, 0, 2^32 - 1 or above the height: one strip, loop ends. Strips
  // of 1 and 3 rows (the last one short) read every row.
  struct TRows {
    uint32_t Tag; // 0: no RowsPerStrip tag
    int32_t Kept; // RowsPerStrip after the load; libtiff makes a missing tag the height
  };
  for (const TRows& r : {TRows{0, 7}, TRows{1, 1}, TRows{3, 3}, TRows{7, 7}, TRows{0xFFFFFFFFu, 7},
                         TRows{0x80000000u, 7}}) {
    SCOPED_TRACE(r.Tag);
    auto tags = GreyTags;
    if (r.Tag != 0)
      tags.push_back({278, 4, r.Tag});
    auto in = StreamOf(HandTiff(5, 7, tags, 35, r.Tag));
    TTiffGraphic g;
    g.LoadFromStream(*in);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 5; ++x)
        ASSERT_EQ(g.GetPixelIndex(x, y), static_cast<uint8_t>((y * 5 + x) * 7)) << x << "," << y;
    EXPECT_EQ(g.RowsPerStrip, r.Kept);
  }
  // A resolution that is not a number or out of range becomes 0 (the screen's).
  struct TRes {
    uint32_t Num, Den, Unit;
    uint16_t Dpi;
  };
  for (const TRes& r : {TRes{300, 1, 2, 300}, TRes{2835, 100, 3, 72}, TRes{0xFFFFFFFF, 1, 2, 96},
                        TRes{30000, 1, 3, 96}, TRes{1, 0, 2, 96}, TRes{0, 0, 2, 96}}) {
    auto tags = GreyTags;
    tags.push_back({282, 5, r.Num, r.Den});
    tags.push_back({283, 5, r.Num, r.Den});
    tags.push_back({296, 3, r.Unit});
    auto in = StreamOf(HandTiff(2, 2, tags, 4));
    TTiffGraphic g;
    g.LoadFromStream(*in);
    EXPECT_EQ(g.GetXDpi(), r.Dpi) << r.Num << "/" << r.Den;
    EXPECT_EQ(g.GetYDpi(), r.Dpi) << r.Num << "/" << r.Den;
  }
  // More samples than the bit count can carry: the scan line outgrows the row.
  {
    auto tags = GreyTags;
    tags[0].Value = 1; // 1 bit
    tags[3].Value = 3; // 3 samples
    auto in = StreamOf(HandTiff(32, 2, tags, 24));
    TTiffGraphic g;
    EXPECT_EQ(ErrorOf([&] { g.LoadFromStream(*in); }),
              "ETiffError Scan line longer than the image row");
  }
  // Sample sizes whose product overflows 32 bits (found by the fuzzer).
  {
    auto tags = GreyTags;
    tags[0].Value = 65535; // bits per sample
    tags[3].Value = 65535; // samples per pixel
    auto in = StreamOf(HandTiff(1, 1, tags, 16));
    TTiffGraphic g;
    EXPECT_THROW(g.LoadFromStream(*in), ETiffError);
  }
  // Width 0.
  {
    auto in = StreamOf(HandTiff(0, 2, GreyTags, 4));
    TTiffGraphic g;
    EXPECT_THROW(g.LoadFromStream(*in), ETiffError);
  }
}

TEST(TiffGraphic, CutFilesEndInErrors) {
  struct TCase {
    TImageFormat Format;
    TTiffCompression Compression;
    bool Tiled;
  };
  std::vector<std::vector<uint8_t>> files;
  for (auto c : {TCase{ifTrueColor, tcPackbits, false}, TCase{ifBlackWhite, tcGroup4, false},
                 TCase{ifGray256, tcZLib, false}}) {
    TTiffGraphic g;
    g.NewImage(64, 48, c.Format, nullptr, 0, 0);
    FillPattern(g);
    g.SetCompression(c.Compression);
    TMemoryStream s;
    g.SaveToStream(s);
    files.push_back(BytesOf(s));
  }
  files.push_back(LibtiffImage(64, 64, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_DEFLATE, true, 77));
  int errors = 0;
  for (const auto& file : files)
    for (std::size_t cut = 0; cut < file.size(); cut += 13) {
      auto in = StreamOf(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(cut)));
      TTiffGraphic g;
      try {
        g.LoadFromStream(*in);
      } catch (const ETiffError&) {
        ++errors;
      } catch (const EQuorvaneError&) {
        ++errors;
      }
    }
  EXPECT_GT(errors, 0);
  // Damaged data with its directory intact (libtiff writes the directory last): an
  // error, never a black or half-read picture reported as loaded.
  struct TDamage {
    std::size_t File;
    const char* Error;
  };
  for (const TDamage& d : {TDamage{3, "ETiffError TIFFReadRGBAImage"},
                           TDamage{2, "ETiffError TIFFReadEncodedStrip"}}) {
    auto bytes = files[d.File];
    for (std::size_t i = 8; i < 200 && i < bytes.size(); ++i)
      bytes[i] = static_cast<uint8_t>(i * 131);
    auto in = StreamOf(bytes);
    TTiffGraphic g;
    EXPECT_EQ(ErrorOf([&] { g.LoadFromStream(*in); }), d.Error);
  }
  // Damaged fax codes are repaired by libtiff with a warning, which is kept.
  auto fax = files[1];
  for (std::size_t i = 8; i < 200; ++i)
    fax[i] = static_cast<uint8_t>(i * 131);
  auto faxIn = StreamOf(fax);
  TTiffGraphic damaged;
  damaged.LoadFromStream(*faxIn);
  EXPECT_FALSE(damaged.Messages().empty());
  // A fax strip that lies past the end of the file cannot be read at all.
  auto tags = GreyTags;
  tags[0].Value = 1;
  tags[1].Value = 4; // Group 4
  tags[2].Value = 0;
  auto missing = HandTiff(16, 4, tags, 8);
  for (std::size_t at = 10; at + 12 <= missing.size(); at += 12)
    if (missing[at] == 279 % 256 && missing[at + 1] == 279 / 256) {
      missing[at + 8] = 0xA0; // StripByteCounts: 100 000
      missing[at + 9] = 0x86;
      missing[at + 10] = 0x01;
    }
  auto missingIn = StreamOf(missing);
  TTiffGraphic unread;
  EXPECT_EQ(ErrorOf([&] { unread.LoadFromStream(*missingIn); }), "ETiffError TIFFReadScanline");
}

TEST(TiffGraphic, ThroughTheRegistryIntoABitmap) {
  RegisterTiffGraphic();
  for (const char* ext : {"TIF", "tiff"}) {
    const TGraphicClass* cls = TPicture::FileFormatClass(ext);
    ASSERT_EQ(cls, &TTiffGraphic::Class) << ext;
  }
  TTiffGraphic g;
  g.NewImage(3, 2, ifColor256, nullptr, 0, 0);
  g.SetPixelIndex(2, 1, 40);
  TMemoryStream s;
  g.SaveToStream(s);
  s.SetPosition(0);
  auto graphic = TPicture::FileFormatClass("TIF")->Create();
  graphic->LoadFromStream(s);
  TBitmap bmp;
  bmp.Assign(graphic.get());
  EXPECT_EQ(bmp.Canvas().GetPixel(2, 1), RGB(255, 0, 0));
}

namespace {

// Sets a SHORT or LONG entry of a little-endian TIFF's first directory.
void SetFirstPageTag(std::vector<uint8_t>& Tiff, uint16_t Tag, uint16_t Value) {
  ASSERT_EQ(Tiff[0], 'I');
  const std::size_t dir = Le32(&Tiff[4]);
  for (std::size_t at = dir + 2, n = 0; n < Le16(&Tiff[dir]); ++n, at += 12)
    if (Le16(&Tiff[at]) == Tag) {
      PutLe32(&Tiff[at + 8], Value);
      return;
    }
  FAIL() << "no tag " << Tag;
}

const std::string TooWideForJpeg = "ETiffError JPEG compression takes at most 65500 pixels a row";

} // namespace

// libjpeg codes at most 65500 pixels a row; the rows of a strip are one JPEG picture
// of 8 rows, so the height is free.
TEST(TiffGraphic, JpegSavesUpToLibjpegsWidth) {
  struct TCase {
    const char* Name;
    int Width, Height;
    TImageFormat Format;
    TTiffCompression Compression;
    bool Refused;
  };
  const TCase cases[] = {
      {"widest grey JPEG", 65500, 2, ifGray256, tcJpeg, false},
      {"one pixel wider", 65501, 2, ifGray256, tcJpeg, true},
      {"true colour, one pixel wider", 65501, 1, ifTrueColor, tcJpeg, true},
      {"taller than libjpeg's side", 2, 65501, ifGray256, tcJpeg, false},
      {"as wide, without JPEG", 65501, 2, ifGray256, tcPackbits, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTiffGraphic g;
    g.NewImage(c.Width, c.Height, c.Format, nullptr, 0, 0);
    g.SetCompression(c.Compression);
    TMemoryStream s;
    if (c.Refused) {
      EXPECT_EQ(ErrorOf([&] { g.SaveToStream(s); }), TooWideForJpeg);
      EXPECT_EQ(s.GetSize(), 0);
      // Nor does an append touch the file it would extend.
      TTiffGraphic first;
      first.NewImage(3, 3, ifGray256, nullptr, 0, 0);
      first.SaveToStream(s);
      const std::vector<uint8_t> before = BytesOf(s);
      EXPECT_EQ(ErrorOf([&] { g.AppendToStream(s); }), TooWideForJpeg);
      EXPECT_EQ(BytesOf(s), before);
      continue;
    }
    g.SaveToStream(s);
    s.SetPosition(0);
    TTiffGraphic back;
    back.LoadFromStream(s);
    EXPECT_EQ(back.GetWidth(), c.Width);
    EXPECT_EQ(back.GetHeight(), c.Height);
    EXPECT_EQ(back.GetCompression(), c.Compression);
  }
}

// A JPEG file whose declared width libjpeg cannot code loads, and its save is refused
// with the class's own error instead of failing halfway through the file.
TEST(TiffGraphic, LoadedTooWideForJpegIsRefusedOnSave) {
  TTiffGraphic small;
  small.NewImage(7, 5, ifGray256, nullptr, 0, 0);
  small.SetCompression(tcJpeg);
  TMemoryStream s;
  small.SaveToStream(s);
  std::vector<uint8_t> bytes = BytesOf(s);
  SetFirstPageTag(bytes, TIFFTAG_IMAGEWIDTH, 65532);
  auto in = StreamOf(bytes);
  TTiffGraphic wide;
  wide.LoadFromStream(*in);
  ASSERT_EQ(wide.GetWidth(), 65532);
  ASSERT_EQ(wide.GetCompression(), tcJpeg);
  TMemoryStream out;
  EXPECT_EQ(ErrorOf([&] { wide.SaveToStream(out); }), TooWideForJpeg);
  EXPECT_EQ(out.GetSize(), 0);
}

namespace {

// Every pixel's colour of an image, with its size.
struct TColors {
  int W = 0, H = 0;
  std::vector<TColor> Pixels;
  bool operator==(const TColors&) const = default;
};
TColors ColorsOf(const TDibGraphic& G) {
  TColors c{G.GetWidth(), G.GetHeight(), {}};
  for (int y = 0; y < c.H; ++y)
    for (int x = 0; x < c.W; ++x)
      c.Pixels.push_back(G.GetPixelColor(x, y));
  return c;
}

// A stream not in memory that gives at most 5 bytes a read, as a pipe or a slow
// device may.
class TDribbleStream : public TStream {
public:
  explicit TDribbleStream(const std::vector<uint8_t>& Bytes) : FBytes(StreamOf(Bytes)) {}
  std::size_t Read(void* Buffer, std::size_t Count) override {
    return FBytes->Read(Buffer, std::min<std::size_t>(Count, 5));
  }
  std::size_t Write(const void* Buffer, std::size_t Count) override {
    return FBytes->Write(Buffer, Count);
  }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override { return FBytes->Seek(Offset, Origin); }
  int64_t GetSize() override { return FBytes->GetSize(); }
  void SetSize(int64_t NewSize) override { FBytes->SetSize(NewSize); }

private:
  std::unique_ptr<TMemoryStream> FBytes;
};

} // namespace

// Short reads are read on until the stream ends: pages count, measure and load as
// from memory.
TEST(TiffGraphic, AStreamOfShortReadsReadsAsMemory) {
  TMemoryStream file;
  std::vector<TColors> want;
  for (int page = 0; page < 3; ++page) {
    TTiffGraphic g;
    g.NewImage(30 + page, 20, page == 1 ? ifColor256 : ifTrueColor, nullptr, 0, 0);
    FillPattern(g);
    g.AppendToStream(file);
    want.push_back(ColorsOf(g));
  }
  TDribbleStream in(BytesOf(file));
  TTiffGraphic g;
  EXPECT_EQ(g.GetImageCount(in), 3);
  in.SetPosition(0);
  const std::optional<TImageSize> size = g.ReadImageSize(in, 2);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(size->Width, 31);
  EXPECT_EQ(size->WorkBytes, file.GetSize()); // the copy that a load makes
  in.SetPosition(0);
  g.SetLoadAllFrames(true);
  ASSERT_EQ(ErrorOf([&] { g.LoadFromStream(in); }), "(no error)");
  ASSERT_EQ(g.FrameCount(), 3);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(ColorsOf(g.Frame(i)), want[static_cast<std::size_t>(i)]) << i;
}

// A file cut anywhere, its directories and their colour maps too: a load fails, or
// each page it gives is exactly the page that was saved, never one that libtiff
// patched up from a directory it could only read in part.
TEST(TiffGraphic, EveryCutOfAManyPageFileFailsOrGivesEachPageExactly) {
  struct TPage {
    int W, H;
    TImageFormat Format;
    TTiffCompression Compression;
  };
  const TPage pages[] = {{11, 7, ifColor256, tcNone},     {10, 6, ifTrueColor, tcPackbits},
                         {13, 5, ifColor16, tcZLib},      {7, 9, ifGray256, tcPackbits},
                         {17, 4, ifBlackWhite, tcGroup4}, {8, 8, ifColor256, tcPackbits}};
  TMaxLogPalette custom{};
  custom.palVersion = 0x300;
  custom.palNumEntries = 12;
  for (int i = 0; i < 12; ++i)
    custom.palPalEntry[i] = {static_cast<uint8_t>(i * 21), static_cast<uint8_t>(250 - i * 9),
                             static_cast<uint8_t>(i * i), 0};
  TMemoryStream file;
  std::vector<TColors> want;
  for (const TPage& p : pages) {
    TTiffGraphic g;
    const bool colour = p.Format == ifColor16 || p.Format == ifColor256;
    g.NewImage(p.W, p.H, p.Format, colour ? &custom : nullptr, 0, 0);
    FillPattern(g);
    g.SetCompression(p.Compression);
    g.AppendToStream(file);
    want.push_back(ColorsOf(g));
  }
  const std::vector<uint8_t> bytes = BytesOf(file);
  int loaded = 0, wrong = 0;
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut)
    for (bool all : {false, true}) {
      auto in =
          StreamOf(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
      TTiffGraphic g;
      g.SetLoadAllFrames(all);
      try {
        g.LoadFromStream(*in);
      } catch (const ETiffError&) {
        continue;
      } catch (const EQuorvaneError&) {
        continue;
      }
      ++loaded;
      const int frames = g.FrameCount() > 0 ? g.FrameCount() : 1;
      if (cut == bytes.size()) {
        EXPECT_EQ(frames, all ? 6 : 1);
      }
      for (int i = 0; i < frames; ++i)
        if (ColorsOf(g.FrameCount() > 0 ? g.Frame(i) : g) != want[static_cast<std::size_t>(i)] &&
            ++wrong <= 5)
          ADD_FAILURE() << "cut at " << cut << " of " << bytes.size() << (all ? ", all pages" : "")
                        << ": page " << i + 1 << " differs";
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(loaded, 0);
}

// CCITT data holds bits, and the Photometric tag says which is black, in strips and
// in tiles alike, as libtiff's own reader takes them.
TEST(TiffGraphic, CcittPagesFollowTheirPhotometric) {
  // Stored 0x0F in every byte: of each eight pixels, four 0 bits, then four 1 bits.
  for (int compression : {COMPRESSION_CCITTRLE, COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX4})
    for (int photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK})
      for (bool tiled : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "compression " << compression << " photometric "
                                          << photometric << (tiled ? " tiles" : " strips"));
        auto in = StreamOf(LibtiffImage(20, 18, 1, photometric, compression, tiled, 0x0F));
        TTiffGraphic g;
        ASSERT_EQ(ErrorOf([&] { g.LoadFromStream(*in); }), "(no error)");
        ASSERT_EQ(g.ImageFormat(), ifBlackWhite);
        const TColor zero = photometric == PHOTOMETRIC_MINISWHITE ? 0xFFFFFF : 0;
        int wrong = 0;
        for (int y = 0; y < 18; ++y)
          for (int x = 0; x < 20; ++x)
            wrong += g.GetPixelColor(x, y) != (x % 8 < 4 ? zero : 0xFFFFFF - zero);
        EXPECT_EQ(wrong, 0);
      }
}

// Colour with alpha reads alike from strips and from tiles: composited over black,
// which is what associated alpha holds already and what unassociated alpha becomes
// multiplied in.
TEST(TiffGraphic, AlphaIsCompositedOverBlackInStripsAndTiles) {
  auto sample = [](int X, int Y, int S) {
    return static_cast<uint8_t>(S < 3 ? X * 13 + Y * 7 + S * 50 : (X * 37 + Y * 71) % 256);
  };
  struct TCase {
    const char* Name;
    int ExtraSample; // -1: no ExtraSamples tag
    bool Multiply;
  };
  const TCase cases[] = {{"unassociated alpha", EXTRASAMPLE_UNASSALPHA, true},
                         {"associated alpha", EXTRASAMPLE_ASSOCALPHA, false},
                         {"unspecified extra sample", EXTRASAMPLE_UNSPECIFIED, false},
                         {"no ExtraSamples tag", -1, false}};
  for (const TCase& c : cases)
    for (bool tiled : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.Name << (tiled ? ", tiles" : ", strips"));
      auto in = StreamOf(LibtiffWrite({.W = 35,
                                       .H = 21,
                                       .Samples = 4,
                                       .Photometric = PHOTOMETRIC_RGB,
                                       .Tiled = tiled,
                                       .ExtraSample = c.ExtraSample},
                                      sample));
      TTiffGraphic g;
      ASSERT_EQ(ErrorOf([&] { g.LoadFromStream(*in); }), "(no error)");
      ASSERT_EQ(g.ImageFormat(), ifTrueColor);
      int wrong = 0;
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 35; ++x) {
          const int a = sample(x, y, 3);
          auto v = [&](int S) {
            const int s = sample(x, y, S);
            return static_cast<uint8_t>(c.Multiply ? (s * a + 127) / 255 : s);
          };
          if (g.GetPixelColor(x, y) != RGBToColor(v(0), v(1), v(2)) && ++wrong <= 3)
            ADD_FAILURE() << x << "," << y << ": " << std::hex << g.GetPixelColor(x, y)
                          << " != " << RGBToColor(v(0), v(1), v(2));
        }
      EXPECT_EQ(wrong, 0);
    }
}

// A refused save into a file leaves the picture that the file held.
TEST(TiffGraphic, ARefusedSaveLeavesTheFileItWouldReplace) {
  const TTestDir dir("gf_tiff_refused_");
  const std::string path = dir.Path("picture.tif");
  TTiffGraphic picture;
  picture.NewImage(5, 4, ifTrueColor, nullptr, 0, 0);
  FillPattern(picture);
  picture.SaveToFile(path);
  TMemoryStream before;
  before.LoadFromFile(path);
  TTiffGraphic empty;
  TTiffGraphic wide;
  wide.NewImage(TiffJpegMaxWidth + 1, 1, ifGray256, nullptr, 0, 0);
  wide.SetCompression(tcJpeg);
  struct TCase {
    TTiffGraphic* Image;
    const char* Error;
  };
  for (const TCase& c :
       {TCase{&empty, "ETiffError Image is empty"}, TCase{&wide, TooWideForJpeg.c_str()}}) {
    EXPECT_EQ(ErrorOf([&] { c.Image->SaveToFile(path); }), c.Error);
    TMemoryStream after;
    after.LoadFromFile(path);
    EXPECT_EQ(BytesOf(after), BytesOf(before));
  }
  TTiffGraphic back;
  back.LoadFromFile(path);
  EXPECT_EQ(ColorsOf(back), ColorsOf(picture));
}

namespace {

// The three layouts that libtiff writes, by its open mode.
struct TLayout {
  const char* Name;
  const char* Mode;
};
constexpr TLayout Layouts[] = {{"little-endian", "wl"}, {"big-endian", "wb"}, {"BigTIFF", "w8"}};

// How an entry of a directory is made to point past the end of the file.
enum class TCut {
  RunsPastTheEnd,   // its value starts at the file's last byte
  StartsPastTheEnd, // its value starts beyond the file
  LongCount,        // it counts a gigabyte of values where its value is
};
void CutValue(std::vector<uint8_t>& Tiff, uint16_t Tag, TCut Cut, int Page = 0) {
  TTiffEntry e(Tiff, Tag, Page);
  ASSERT_TRUE(e.OutOfLine()) << "tag " << Tag << " is held in its entry";
  switch (Cut) {
  case TCut::RunsPastTheEnd:
    e.SetOffset(Tiff.size() - 1);
    break;
  case TCut::StartsPastTheEnd:
    e.SetOffset(Tiff.size() + 4096);
    break;
  case TCut::LongCount:
    e.SetCount(uint64_t{1} << 30);
    break;
  }
}

uint8_t RgbSample(int X, int Y, int S) {
  return static_cast<uint8_t>(X * 13 + Y * 7 + S * 50);
}

TColors RgbColors(int W, int H) {
  TColors c{W, H, {}};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      c.Pixels.push_back(RGBToColor(RgbSample(x, y, 0), RgbSample(x, y, 1), RgbSample(x, y, 2)));
  return c;
}

// Bytes of a block tag (a profile, XMP, a private block): never decoded.
const std::vector<uint8_t> Block(64, 0x5A);

void SetPrivateTag(TIFF* T) {
  static char name[] = "Private";
  static const TIFFFieldInfo info = {
      65000, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_UNDEFINED, FIELD_CUSTOM, 1, 1, name};
  TIFFMergeFieldInfo(T, &info, 1);
  TIFFSetField(T, 65000, static_cast<uint32_t>(Block.size()), Block.data());
}

} // namespace

// A file cut within the value of a tag that nothing decoded reads (a description, a
// date, a profile, metadata blocks, a private tag) loads as libtiff's tools read it:
// the value is dropped with libtiff's warning, and the pixels are exactly those of the
// same file without that tag, in either byte order and in BigTIFF.
TEST(TiffGraphic, ValuesThatDecodingDoesNotReadMayLiePastTheEnd) {
  struct TCase {
    const char* Name;
    uint16_t Tag;
    std::function<void(TIFF*)> Set;
    TCut Cut;
  };
  const auto blockTag = [](uint32_t Tag) {
    return
        [Tag](TIFF* T) { TIFFSetField(T, Tag, static_cast<uint32_t>(Block.size()), Block.data()); };
  };
  const TCase cases[] = {
      {"ImageDescription", TIFFTAG_IMAGEDESCRIPTION,
       [](TIFF* T) { TIFFSetField(T, TIFFTAG_IMAGEDESCRIPTION, "a page of a scanned document"); },
       TCut::RunsPastTheEnd},
      {"ImageDescription beyond the end", TIFFTAG_IMAGEDESCRIPTION,
       [](TIFF* T) { TIFFSetField(T, TIFFTAG_IMAGEDESCRIPTION, "a page of a scanned document"); },
       TCut::StartsPastTheEnd},
      {"DateTime", TIFFTAG_DATETIME,
       [](TIFF* T) { TIFFSetField(T, TIFFTAG_DATETIME, "2024:03:05 14:07:09"); },
       TCut::RunsPastTheEnd},
      {"ICC profile", TIFFTAG_ICCPROFILE, blockTag(TIFFTAG_ICCPROFILE), TCut::RunsPastTheEnd},
      {"XMP", TIFFTAG_XMLPACKET, blockTag(TIFFTAG_XMLPACKET), TCut::RunsPastTheEnd},
      {"Photoshop", TIFFTAG_PHOTOSHOP, blockTag(TIFFTAG_PHOTOSHOP), TCut::RunsPastTheEnd},
      {"IPTC with a long count", TIFFTAG_RICHTIFFIPTC, blockTag(TIFFTAG_RICHTIFFIPTC),
       TCut::LongCount},
      {"private tag 65000", 65000, SetPrivateTag, TCut::StartsPastTheEnd},
  };
  const int w = 19, h = 14;
  for (const TLayout& layout : Layouts) {
    TTiffSpec spec{.W = w,
                   .H = h,
                   .Samples = 3,
                   .Photometric = PHOTOMETRIC_RGB,
                   .Compression = COMPRESSION_PACKBITS,
                   .Mode = layout.Mode};
    auto plainIn = StreamOf(LibtiffWrite(spec, RgbSample));
    TTiffGraphic plain;
    ASSERT_EQ(ErrorOf([&] { plain.LoadFromStream(*plainIn); }), "(no error)") << layout.Name;
    ASSERT_EQ(ColorsOf(plain), RgbColors(w, h)) << layout.Name;
    for (const TCase& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.Name << ", " << layout.Name);
      spec.MoreTags = c.Set;
      std::vector<uint8_t> bytes = LibtiffWrite(spec, RgbSample);
      CutValue(bytes, c.Tag, c.Cut);
      auto in = StreamOf(bytes);
      TTiffGraphic g;
      EXPECT_EQ(g.GetImageCount(*in), 1);
      in->SetPosition(0);
      EXPECT_EQ(ErrorOf([&] { g.LoadFromStream(*in); }), "(no error)");
      EXPECT_EQ(ColorsOf(g), ColorsOf(plain));
      EXPECT_FALSE(g.Messages().empty()); // libtiff's warning of the dropped value
    }
  }
}

// A value that decoding reads must be there whole: without it libtiff would read the
// page from defaults (a palette page as grey, JPEG without its tables), or give up on
// its directory half read. The second page of each two-page file loads as written,
// and fails once that value runs past the end; the first page still loads.
TEST(TiffGraphic, ValuesThatDecodingReadsMustLieInsideTheFile) {
  const auto rgb = [](const char* Mode) {
    return TTiffSpec{
        .W = 19, .H = 22, .Samples = 3, .Photometric = PHOTOMETRIC_RGB, .Mode = Mode, .Pages = 2};
  };
  std::vector<uint16_t> greyMap(3 * 256);
  for (std::size_t i = 0; i < greyMap.size(); ++i)
    greyMap[i] = static_cast<uint16_t>((i * 7 % 256) * 257);
  struct TCase {
    const char* Name;
    std::function<TTiffSpec(const char* Mode)> Spec;
    uint16_t Tag;
    bool BigTiffInline = false; // the value fits a BigTIFF entry: classic files only
    uint64_t Count = 0;         // above 0: the entry's count made this, to move it out
  };
  const TCase cases[] = {
      {"StripOffsets", rgb, TIFFTAG_STRIPOFFSETS},
      {"StripByteCounts", rgb, TIFFTAG_STRIPBYTECOUNTS},
      {"BitsPerSample, 3 values", rgb, TIFFTAG_BITSPERSAMPLE, true},
      {"SampleFormat, 3 values",
       [&](const char* Mode) {
         TTiffSpec s = rgb(Mode);
         s.MoreTags = [](TIFF* T) { TIFFSetField(T, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT); };
         return s;
       },
       TIFFTAG_SAMPLEFORMAT, true},
      {"ExtraSamples, 3 values",
       [&](const char* Mode) {
         TTiffSpec s = rgb(Mode);
         s.Samples = 6;
         s.Tiled = true;
         s.MoreTags = [](TIFF* T) {
           const uint16_t extra[3] = {EXTRASAMPLE_UNSPECIFIED, EXTRASAMPLE_UNSPECIFIED,
                                      EXTRASAMPLE_UNSPECIFIED};
           TIFFSetField(T, TIFFTAG_EXTRASAMPLES, 3, extra);
         };
         return s;
       },
       TIFFTAG_EXTRASAMPLES, true},
      {"TileOffsets",
       [&](const char* Mode) {
         TTiffSpec s = rgb(Mode);
         s.W = 40;
         s.Tiled = true;
         return s;
       },
       TIFFTAG_TILEOFFSETS},
      {"TileByteCounts",
       [&](const char* Mode) {
         TTiffSpec s = rgb(Mode);
         s.W = 40;
         s.Tiled = true;
         return s;
       },
       TIFFTAG_TILEBYTECOUNTS},
      {"ColorMap",
       [&](const char* Mode) {
         return TTiffSpec{.W = 19,
                          .H = 14,
                          .Photometric = PHOTOMETRIC_PALETTE,
                          .Colormap = greyMap,
                          .Mode = Mode,
                          .Pages = 2};
       },
       TIFFTAG_COLORMAP},
      {"JPEGTables",
       [&](const char* Mode) {
         TTiffSpec s = rgb(Mode);
         s.Compression = COMPRESSION_JPEG;
         return s;
       },
       TIFFTAG_JPEGTABLES},
      {"ReferenceBlackWhite",
       [&](const char* Mode) {
         TTiffSpec s = rgb(Mode);
         s.Compression = COMPRESSION_JPEG;
         return s;
       },
       TIFFTAG_REFERENCEBLACKWHITE},
      // A pair fits in every entry: only a longer count puts it out of line.
      {"YCbCrSubsampling given out of line",
       [&](const char* Mode) {
         TTiffSpec s = rgb(Mode);
         s.Compression = COMPRESSION_JPEG;
         return s;
       },
       TIFFTAG_YCBCRSUBSAMPLING, false, 5},
      {"XResolution",
       [&](const char* Mode) {
         TTiffSpec s = rgb(Mode);
         s.MoreTags = [](TIFF* T) { TIFFSetField(T, TIFFTAG_XRESOLUTION, 300.0); };
         return s;
       },
       TIFFTAG_XRESOLUTION, true},
  };
  for (const TCase& c : cases)
    for (const TLayout& layout : Layouts) {
      if (c.BigTiffInline && std::string(layout.Mode) == "w8")
        continue;
      SCOPED_TRACE(::testing::Message() << c.Name << ", " << layout.Name);
      std::vector<uint8_t> bytes = LibtiffWrite(c.Spec(layout.Mode), RgbSample);
      auto load = [&](int Page, TTiffGraphic& G) {
        auto in = StreamOf(bytes);
        G.SetFrameIndex(Page);
        return ErrorOf([&] { G.LoadFromStream(*in); });
      };
      TTiffGraphic first, second;
      ASSERT_EQ(load(1, first), "(no error)");
      ASSERT_EQ(load(2, second), "(no error)");
      ASSERT_EQ(ColorsOf(second), ColorsOf(first));
      if (c.Count > 0)
        TTiffEntry(bytes, c.Tag, 1).SetCount(c.Count);
      CutValue(bytes, c.Tag, TCut::RunsPastTheEnd, 1);
      TTiffGraphic cut;
      EXPECT_EQ(load(2, cut), "ETiffError TIFFReadDirectory");
      TTiffGraphic before;
      ASSERT_EQ(load(1, before), "(no error)");
      EXPECT_EQ(ColorsOf(before), ColorsOf(first));
    }
}
