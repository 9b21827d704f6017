// The JPEG image class, against libjpeg called directly.
#include "JpegGraphic.h"

#include "ByteOrder.h"
#include "JpegBinding.h"
#include "Libjpeg.h"
#include "Streams.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace gf;
using namespace gf::test;

namespace {

// A smooth picture, so that JPEG keeps it close.
TDirectPicture Gradient(uint32_t W, uint32_t H, int Components) {
  TDirectPicture p;
  p.Width = W;
  p.Height = H;
  p.Components = Components;
  for (uint32_t y = 0; y < H; ++y)
    for (uint32_t x = 0; x < W; ++x)
      for (int c = 0; c < Components; ++c)
        p.Pixels.push_back(static_cast<uint8_t>(c == 0   ? x * 255 / (W - 1)
                                                : c == 1 ? y * 255 / (H - 1)
                                                         : 128 + c * 20));
  return p;
}

void Fill(TMemoryStream& S, const std::vector<uint8_t>& Bytes) {
  S.WriteBuffer(Bytes.data(), Bytes.size());
  S.SetPosition(0);
}

int MaxDifference(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
  int worst = 0;
  for (std::size_t i = 0; i < A.size() && i < B.size(); ++i)
    worst = std::max(worst, std::abs(int(A[i]) - int(B[i])));
  return A.size() == B.size() ? worst : 999;
}

bool HasMarker(const std::vector<uint8_t>& B, uint8_t Marker) {
  for (std::size_t i = 0; i + 1 < B.size(); ++i)
    if (B[i] == 0xFF && B[i + 1] == Marker)
      return true;
  return false;
}

TEST(Jpeg, Defaults) {
  TJpegGraphic g;
  EXPECT_EQ(g.Quality, 80);
  EXPECT_FALSE(g.Progressive);
  EXPECT_FALSE(g.Optimize);
  g.Quality = 33;
  g.Progressive = true;
  TMemoryStream s;
  Fill(s, DirectEncode(Gradient(8, 8, 3)));
  g.LoadFromStream(s);
  EXPECT_EQ(g.Quality, 33); // loading never changes them
  EXPECT_TRUE(g.Progressive);
}

TEST(Jpeg, LoadsAsLibjpegDecodes) {
  for (int comps : {1, 3})
    for (bool progressive : {false, true}) {
      SCOPED_TRACE(std::to_string(comps) + (progressive ? " progressive" : " baseline"));
      TDirectOptions o;
      o.Progressive = progressive;
      const std::vector<uint8_t> file = DirectEncode(Gradient(37, 21, comps), o);
      TMemoryStream s;
      Fill(s, file);
      TJpegGraphic g;
      g.LoadFromStream(s);
      EXPECT_EQ(g.GetWidth(), 37);
      EXPECT_EQ(g.GetHeight(), 21);
      EXPECT_EQ(g.ImageFormat(), comps == 1 ? ifGray256 : ifTrueColor);
      // The same decoder in both: the same bytes, in the bitmap's blue-green-red order.
      EXPECT_EQ(PixelsOf(g), DirectDecode(file).Pixels);
      EXPECT_EQ(g.WarningCount(), 0);
      if (comps == 1) { // the format's default palette: the grey ramp
        EXPECT_EQ(g.ImagePalette().palNumEntries, 256);
        EXPECT_EQ(g.ImagePalette().palPalEntry[200].peRed, 200);
        EXPECT_EQ(g.ImagePalette().palPalEntry[200].peBlue, 200);
      }
    }
}

TEST(Jpeg, RedIsStoredBlueGreenRed) {
  TDirectPicture red;
  red.Width = red.Height = 16;
  for (int i = 0; i < 256; ++i)
    red.Pixels.insert(red.Pixels.end(), {255, 0, 0});
  TMemoryStream s;
  Fill(s, DirectEncode(red, {.Quality = 100}));
  TJpegGraphic g;
  g.LoadFromStream(s);
  const uint8_t* p = g.ScanLine(5) + 3 * 5;
  EXPECT_LT(p[0], 8);
  EXPECT_LT(p[1], 8);
  EXPECT_GT(p[2], 247);
  EXPECT_EQ(ColorRed(g.GetPixelColor(5, 5)) > 247, true);
}

TEST(Jpeg, SaveThenLoad) {
  struct Case {
    int Comps;
    int Quality;
    bool Progressive, Optimize;
    int Tolerance;
  };
  const std::vector<Case> cases = {
      {3, 75, false, false, 24}, {3, 75, true, false, 24},  {3, 100, false, true, 6},
      {3, 100, true, true, 6},   {1, 75, false, false, 12}, {1, 100, true, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Comps) + " q" + std::to_string(c.Quality) +
                 (c.Progressive ? " progressive" : "") + (c.Optimize ? " optimized" : ""));
    const TDirectPicture src = Gradient(45, 30, c.Comps);
    TJpegGraphic g;
    g.NewImage(45, 30, c.Comps == 1 ? ifGray256 : ifTrueColor, nullptr, 300, 150);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 45; ++x) {
        const uint8_t* p = src.Pixels.data() + (y * 45 + x) * c.Comps;
        if (c.Comps == 1)
          g.ScanLine(y)[x] = p[0];
        else
          g.SetPixelColor(x, y, RGBToColor(p[0], p[1], p[2]));
      }
    g.Quality = static_cast<uint8_t>(c.Quality);
    g.Progressive = c.Progressive;
    g.Optimize = c.Optimize;
    TMemoryStream s;
    g.SaveToStream(s);
    const std::vector<uint8_t> file = BytesOf(s);
    ASSERT_GT(file.size(), 100u);
    EXPECT_EQ(file[0], 0xFF);
    EXPECT_EQ(file[1], 0xD8);
    EXPECT_EQ(HasMarker(file, 0xC2), c.Progressive);  // progressive frame header
    EXPECT_EQ(HasMarker(file, 0xC0), !c.Progressive); // baseline frame header
    // JFIF density: unit 1 and the image's dots per inch.
    ASSERT_EQ(std::memcmp(file.data() + 6, "JFIF", 5), 0);
    EXPECT_EQ(file[13], 1);
    EXPECT_EQ(Be16(file.data() + 14), 300);
    EXPECT_EQ(Be16(file.data() + 16), 150);

    const TDirectPicture back = DirectDecode(file);
    EXPECT_EQ(back.Components, c.Comps);
    EXPECT_LE(MaxDifference(back.Pixels, src.Pixels), c.Tolerance);
    TJpegGraphic h;
    s.SetPosition(0);
    h.LoadFromStream(s);
    EXPECT_EQ(PixelsOf(h), back.Pixels);
    EXPECT_EQ(h.GetXDpi(), 300);
    EXPECT_EQ(h.GetYDpi(), 150);
  }
}

TEST(Jpeg, OptimizedTablesAreSmaller) {
  TJpegGraphic g;
  g.NewImage(64, 64, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      g.SetPixelColor(x, y, RGBToColor(uint8_t(x * 4), uint8_t(y * 4), uint8_t(x ^ y)));
  TMemoryStream plain, optimized;
  g.SaveToStream(plain);
  g.Optimize = true;
  g.SaveToStream(optimized);
  EXPECT_LT(optimized.GetSize(), plain.GetSize());
}

TEST(Jpeg, OnlyGreyAndTrueColourSave) {
  for (TImageFormat f : {ifBlackWhite, ifGray16, ifColor16, ifColor256}) {
    TJpegGraphic g;
    g.NewImage(4, 4, f, nullptr, 0, 0);
    TMemoryStream s;
    try {
      g.SaveToStream(s);
      ADD_FAILURE() << "format " << int(f) << " saved";
    } catch (const EJpegError& e) {
      EXPECT_STREQ(e.what(), "JPEG image must be gray scale or true color");
    }
    EXPECT_EQ(s.GetSize(), 0); // nothing written
  }
}

TEST(Jpeg, Resolution) {
  struct Case {
    uint8_t Unit;
    uint16_t X, Y;
    uint16_t XDpi, YDpi; // after the load
  };
  const std::vector<Case> cases = {
      {1, 72, 72, 72, 72},
      {1, 300, 600, 300, 600},
      {2, 28, 28, 71, 71},    // 71.12
      {2, 118, 59, 300, 150}, // 299.72, 149.86
      {2, 25800, 1, 65532, 3},
      {2, 25801, 40000, 65535, 96}, // 65534.54 rounds to 65535; 101600 dpi
                                    // is none
      {0, 1, 1, 96, 96},            // no unit: the screen's resolution
      {3, 72, 72, 96, 96},
  };
  for (const Case& c : cases) {
    TDirectOptions o;
    o.DensityUnit = c.Unit;
    o.XDensity = c.X;
    o.YDensity = c.Y;
    TMemoryStream s;
    Fill(s, DirectEncode(Gradient(8, 8, 3), o));
    TJpegGraphic g;
    g.LoadFromStream(s);
    EXPECT_EQ(g.GetXDpi(), c.XDpi) << int(c.Unit) << " " << c.X;
    EXPECT_EQ(g.GetYDpi(), c.YDpi) << int(c.Unit) << " " << c.Y;
  }
}

TEST(Jpeg, StreamIsLeftAfterTheLastBlockRead) {
  const std::vector<uint8_t> jpeg = DirectEncode(Gradient(40, 40, 3));
  TMemoryStream s;
  const std::vector<uint8_t> prefix(100, 0x11), suffix(10000, 0x22);
  s.WriteBuffer(prefix.data(), prefix.size());
  s.WriteBuffer(jpeg.data(), jpeg.size());
  s.WriteBuffer(suffix.data(), suffix.size());
  s.SetPosition(100);
  TJpegGraphic g;
  g.LoadFrame(s, 1);
  const int64_t end = 100 + static_cast<int64_t>(jpeg.size());
  EXPECT_GE(s.GetPosition(), end);
  EXPECT_LT(s.GetPosition(), end + 4096);
  EXPECT_EQ((s.GetPosition() - 100) % 4096, 0);
  // The index makes no difference.
  s.SetPosition(100);
  TJpegGraphic h;
  h.LoadFrame(s, 7);
  EXPECT_EQ(PixelsOf(h), PixelsOf(g));
}

TEST(Jpeg, LibjpegFailuresRaiseItsMessage) {
  struct Case {
    const char* What;
    std::vector<uint8_t> Bytes;
    const char* Message;
  };
  const std::vector<Case> cases = {
      {"empty", {}, "Empty input file"},
      {"not a JPEG",
       {'G', 'I', 'F', '8', '9', 'a', 0, 0},
       "Not a JPEG file: starts with 0x47 0x49"},
  };
  for (const Case& c : cases) {
    TMemoryStream s;
    Fill(s, c.Bytes);
    TJpegGraphic g;
    try {
      g.LoadFromStream(s);
      ADD_FAILURE() << c.What << " loaded";
    } catch (const EJpegError& e) {
      EXPECT_STREQ(e.what(), c.Message) << c.What;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c.What << ": raised other than EJpegError: " << e.what();
    }
  }
}

// At a raised trace level libjpeg shows a line for every marker it reads: each one is
// kept, and the load goes on.
TEST(Jpeg, MessagesShownAreKeptNotRaised) {
  TMemoryStream s;
  Fill(s, DirectEncode(Gradient(32, 16, 3)));
  TJpegDecompressor d;
  d.Codec()->err->trace_level = 3;
  JpegStreamSource(d.Codec(), s);
  JpegReadHeader(d.Codec(), true);
  JpegStartDecompress(d.Codec());
  std::vector<uint8_t> row(32 * 3);
  uint8_t* rows[1] = {row.data()};
  for (int y = 0; y < 16; ++y)
    ASSERT_EQ(JpegReadScanlines(d.Codec(), rows, 1), 1u);
  JpegFinishDecompress(d.Codec());
  ASSERT_FALSE(d.Messages().empty());
  EXPECT_EQ(d.Messages().front(), "Start of Image");
}

TEST(Jpeg, CmykIsRefused) {
  TDirectPicture cmyk;
  cmyk.Width = cmyk.Height = 8;
  cmyk.Components = 4;
  cmyk.Pixels.assign(8 * 8 * 4, 100);
  TDirectOptions o;
  o.InColorSpace = JCS_CMYK;
  TMemoryStream s;
  Fill(s, DirectEncode(cmyk, o));
  TJpegGraphic g;
  try {
    g.LoadFromStream(s);
    ADD_FAILURE() << "a CMYK JPEG loaded";
  } catch (const EJpegError& e) {
    EXPECT_STREQ(e.what(), "Unsupported color conversion request");
  }
  EXPECT_TRUE(g.GetEmpty());
}

TEST(Jpeg, TruncatedFilesLoadWithCountedWarnings) {
  for (bool progressive : {false, true}) {
    TDirectOptions o;
    o.Progressive = progressive;
    std::vector<uint8_t> file = DirectEncode(Gradient(256, 256, 3), o);
    file.resize(file.size() * 3 / 4); // inside the scans, past the headers
    TMemoryStream s;
    Fill(s, file);
    TJpegGraphic g;
    ASSERT_NO_THROW(g.LoadFromStream(s)) << progressive;
    EXPECT_EQ(g.GetWidth(), 256);
    EXPECT_GT(g.WarningCount(), 0) << progressive;
  }
}

TEST(Jpeg, HugeDeclaredSizeIsRefusedBeforeDecoding) {
  std::vector<uint8_t> file = DirectEncode(Gradient(8, 8, 3));
  // The baseline frame header: FF C0, length, precision, height, width.
  std::size_t at = 0;
  while (!(file[at] == 0xFF && file[at + 1] == 0xC0))
    ++at;
  file[at + 5] = 0xEA; // 60000 x 60000
  file[at + 6] = 0x60;
  file[at + 7] = 0xEA;
  file[at + 8] = 0x60;
  TMemoryStream s;
  Fill(s, file);
  TJpegGraphic g;
  try {
    g.LoadFromStream(s);
    ADD_FAILURE() << "loaded";
  } catch (const EQuorvaneError& e) {
    EXPECT_STREQ(e.what(), "CreateDibSection failed");
  }
}

// A stream that fails as a file on a full or broken disk would.
class TFailingStream : public TMemoryStream {
public:
  std::size_t WriteLimit = SIZE_MAX;
  bool FailReads = false;
  std::size_t Read(void* Buffer, std::size_t Count) override {
    if (FailReads)
      throw EFileStreamError("Cannot read file \"card\". Input/output error", 5);
    return TMemoryStream::Read(Buffer, Count);
  }
  std::size_t Write(const void* Buffer, std::size_t Count) override {
    const std::size_t n = std::min(Count, WriteLimit);
    WriteLimit -= n;
    return TMemoryStream::Write(Buffer, n);
  }
};

TEST(Jpeg, StreamErrorsPassUnchanged) {
  TJpegGraphic g;
  g.NewImage(300, 300, ifTrueColor, nullptr, 0, 0);
  for (std::size_t limit : {std::size_t(0), std::size_t(1000)}) {
    TFailingStream s;
    s.WriteLimit = limit;
    EXPECT_THROW(g.SaveToStream(s), EStreamError) << limit;
  }
  TFailingStream r;
  const std::vector<uint8_t> file = DirectEncode(Gradient(8, 8, 3));
  r.WriteBuffer(file.data(), file.size());
  r.SetPosition(0);
  r.FailReads = true;
  TJpegGraphic h;
  try {
    h.LoadFromStream(r);
    ADD_FAILURE() << "loaded";
  } catch (const EFileStreamError& e) {
    EXPECT_EQ(e.Errno(), 5);
  }
}

TEST(Jpeg, Registration) {
  RegisterJpegGraphic();
  for (const char* ext : {"JPG", "jpeg", ".Jpg"}) {
    const TGraphicClass* cls = TPicture::FileFormatClass(ext);
    ASSERT_NE(cls, nullptr) << ext;
    EXPECT_EQ(cls, &TJpegGraphic::Class);
    EXPECT_EQ(cls->Create()->ClassName(), "TJpegGraphic");
  }
  bool described = false;
  for (const auto& f : TPicture::FileFormats())
    if (f.Extension == "JPEG")
      described = f.Description == "JPEG";
  EXPECT_TRUE(described);
}

} // namespace
