// The thumbnail maker: the fit, the decoders by extension, the fixed pictures, and
// hostile sizes refused before decoding.
#include "Thumbs.h"
#include "Debug.h"
#include "DibGraphic.h"
#include "JpegGraphic.h"
#include "LoggedTest.h"
#include "PngGraphic.h"
#include "Streams.h"
#include "TiffGraphic.h"

#include <QtCore/QBuffer>
#include <QtGui/QImageReader>
#include <QtGui/QImageWriter>
#include <QtGui/QPainter>

#include <gtest/gtest.h>

#include <zlib.h>

#include <functional>

using namespace gf;

namespace {

std::vector<uint8_t>
Encode(const QImage& Image, const char* Format,
       QImageIOHandler::Transformations Turn = QImageIOHandler::TransformationNone) {
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  QImageWriter writer(&buf, Format);
  writer.setTransformation(Turn);
  EXPECT_TRUE(writer.write(Image)) << writer.errorString().toStdString();
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

QImage Solid(int Width, int Height, QColor Color) {
  QImage img(Width, Height, QImage::Format_RGB32);
  img.fill(Color);
  return img;
}

// A TIFF written by the image library itself (Qt has no TIFF writer here).
std::vector<uint8_t> Tiff(const QImage& Image) {
  TTiffGraphic tiff;
  tiff.NewImage(Image.width(), Image.height(), ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < Image.height(); ++y) {
    uint8_t* row = tiff.ScanLine(y);
    for (int x = 0; x < Image.width(); ++x) {
      QRgb c = Image.pixel(x, y);
      row[3 * x] = static_cast<uint8_t>(qBlue(c));
      row[3 * x + 1] = static_cast<uint8_t>(qGreen(c));
      row[3 * x + 2] = static_cast<uint8_t>(qRed(c));
    }
  }
  TMemoryStream s;
  tiff.SaveToStream(s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.GetSize());
}

std::unique_ptr<TMemoryStream> StreamOf(const std::vector<uint8_t>& Bytes) {
  auto s = std::make_unique<TMemoryStream>();
  if (!Bytes.empty())
    s->WriteBuffer(Bytes.data(), Bytes.size());
  s->SetPosition(Bytes.size() / 2); // the maker must read from the start
  return s;
}

QImage Thumb(const std::vector<uint8_t>& Bytes, const std::string& Name) {
  auto s = StreamOf(Bytes);
  std::optional<QImage> t = MakeThumbnail(*s, Name, 80, 80);
  EXPECT_TRUE(t.has_value());
  return t ? *t : QImage();
}

bool Near(QRgb A, QColor B) {
  return std::abs(qRed(A) - B.red()) < 40 && std::abs(qGreen(A) - B.green()) < 40 &&
         std::abs(qBlue(A) - B.blue()) < 40;
}

int CountLines(const std::string& Tag) {
  int n = 0;
  for (auto& line : TDebugLines::Instance().Snapshot())
    n += line.rfind(Tag, 0) == 0;
  return n;
}

// A stream that is not in memory (as a saved file is not), counting what is read.
class TCountingStream : public TStream {
public:
  explicit TCountingStream(const std::vector<uint8_t>& Bytes) {
    FBytes.WriteBuffer(Bytes.data(), Bytes.size());
    FBytes.SetPosition(0);
  }
  std::size_t Read(void* Buffer, std::size_t Count) override {
    const std::size_t n = FBytes.Read(Buffer, Count);
    BytesRead += static_cast<int64_t>(n);
    return n;
  }
  std::size_t Write(const void* Buffer, std::size_t Count) override {
    return FBytes.Write(Buffer, Count);
  }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override { return FBytes.Seek(Offset, Origin); }
  int64_t GetSize() override { return FBytes.GetSize(); }
  void SetSize(int64_t NewSize) override { FBytes.SetSize(NewSize); }
  int64_t BytesRead = 0;

private:
  TMemoryStream FBytes;
};

class ThumbsTest : public test::TLoggedTest {};

} // namespace

TEST_F(ThumbsTest, FitRectangles) {
  struct TCase {
    int W, H;
    TThumbRect Rect;
  };
  for (TCase c :
       {TCase{160, 120, {0, 10, 79, 69}}, TCase{120, 160, {10, 0, 69, 79}},
        TCase{100, 100, {0, 0, 79, 79}}, TCase{1, 1, {0, 0, 79, 79}}, TCase{0, 0, {0, 0, 79, 79}},
        TCase{6000, 4000, {0, 13, 79, 65}}, TCase{2000000000, 1, {0, 40, 79, 39}}}) {
    SCOPED_TRACE(std::to_string(c.W) + "x" + std::to_string(c.H));
    EXPECT_EQ(ThumbnailRect(c.W, c.H, 80, 80), c.Rect);
  }
}

// The picture covers the rectangle without its right column and bottom row, and the
// rest stays blank (white); it is right side up, and the camera's orientation is
// applied first.
TEST_F(ThumbsTest, PicturesAreDrawnIntoTheirRectangle) {
  auto halves = [](int W, int H) { // red on top, blue below, as stored
    QImage img(W, H, QImage::Format_RGB32);
    img.fill(Qt::blue);
    QPainter(&img).fillRect(0, 0, W, H / 2, Qt::red);
    return img;
  };
  const QColor none, red(Qt::red), blue(Qt::blue);
  struct TCase {
    const char* What;
    std::vector<uint8_t> Bytes;
    std::string Name;
    TThumbRect Rect;
    QColor Top, Bottom, Left, Right; // inside, near the middle of each edge
  };
  const TCase cases[] = {
      {"160 x 120 JPEG",
       Encode(halves(160, 120), "JPG"),
       "a.JPG",
       {0, 10, 79, 69},
       red,
       blue,
       none,
       none},
      {"120 x 160 JPEG",
       Encode(halves(120, 160), "JPG"),
       "a.JPG",
       {10, 0, 69, 79},
       red,
       blue,
       none,
       none},
      {"square BMP", Encode(halves(64, 64), "BMP"), "a.bmp", {0, 0, 79, 79}, red, blue, none, none},
      {"lower-case jpg",
       Encode(halves(300, 100), "JPG"),
       "dir.x/a.jpg",
       {0, 27, 79, 52},
       red,
       blue,
       none,
       none},
      {"JPEG turned a quarter by the camera",
       Encode(halves(160, 120), "JPG", QImageIOHandler::TransformationRotate90),
       "a.JPG",
       {10, 0, 69, 79},
       none,
       none,
       blue,
       red},
      {"160 x 120 PNG",
       Encode(halves(160, 120), "PNG"),
       "a.PNG",
       {0, 10, 79, 69},
       red,
       blue,
       none,
       none},
      {"large PNG",
       Encode(halves(3000, 2000), "PNG"),
       "a.png",
       {0, 13, 79, 65},
       red,
       blue,
       none,
       none},
      {"120 x 160 TIFF", Tiff(halves(120, 160)), "a.TIF", {10, 0, 69, 79}, red, blue, none, none},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    QImage t = Thumb(c.Bytes, c.Name);
    ASSERT_EQ(t.size(), QSize(80, 80));
    const TThumbRect& r = c.Rect;
    int midX = (r.Left + r.Right) / 2, midY = (r.Top + r.Bottom) / 2;
    if (c.Top.isValid()) {
      EXPECT_TRUE(Near(t.pixel(midX, r.Top + 3), c.Top));
      EXPECT_TRUE(Near(t.pixel(midX, r.Bottom - 4), c.Bottom));
    }
    if (c.Left.isValid()) {
      EXPECT_TRUE(Near(t.pixel(r.Left + 3, midY), c.Left));
      EXPECT_TRUE(Near(t.pixel(r.Right - 4, midY), c.Right));
    }
    EXPECT_EQ(t.pixel(r.Right, midY), qRgb(255, 255, 255));  // exclusive right edge
    EXPECT_EQ(t.pixel(midX, r.Bottom), qRgb(255, 255, 255)); // exclusive bottom edge
    if (r.Top > 0) {
      EXPECT_EQ(t.pixel(midX, r.Top - 1), qRgb(255, 255, 255));
    }
    if (r.Left > 0) {
      EXPECT_EQ(t.pixel(r.Left - 1, midY), qRgb(255, 255, 255));
    }
  }
  EXPECT_TRUE(Lines().empty());
}

// JPEG thumbnails rest on the JPEG reader reducing in the decoder (libjpeg's DCT
// scaling), which makes a 24-megapixel photo several times cheaper than decoding it
// whole; a reader that only scaled after decoding would lose that without a sign.
TEST_F(ThumbsTest, TheJpegReaderReducesInTheDecoder) {
  std::vector<uint8_t> jpeg = Encode(Solid(640, 480, Qt::green), "JPG");
  QByteArray bytes(reinterpret_cast<const char*>(jpeg.data()), static_cast<int>(jpeg.size()));
  QBuffer buf(&bytes);
  buf.open(QIODevice::ReadOnly);
  QImageReader reader(&buf, "JPEG");
  EXPECT_TRUE(reader.supportsOption(QImageIOHandler::ScaledSize));
  reader.setScaledSize(QSize(80, 60));
  EXPECT_EQ(reader.read().size(), QSize(80, 60));
}

TEST_F(ThumbsTest, FixedPicturesByExtension) {
  QImage unknown = Thumb({}, "x.NOSUCHTYPE");
  std::optional<QImage> broken = BrokenThumbnail(80, 80);
  ASSERT_TRUE(broken.has_value());
  EXPECT_NE(unknown, *broken);
  struct TCase {
    std::string Name;
    bool Unknown;
  };
  for (const TCase& c :
       {TCase{"a.jpeg", true}, TCase{"a.RIFF", true}, TCase{"a.MP3", true}, TCase{"a.CRW", true},
        TCase{"noextension", true}, TCase{"a.GIF", false}, TCase{"a.AVI", false},
        TCase{"a.mov", false}, TCase{"a.MPG", false}, TCase{"a.WAV", false}}) {
    SCOPED_TRACE(c.Name);
    // Valid JPEG bytes do not matter: the extension alone decides.
    QImage t = Thumb(Encode(Solid(16, 16, Qt::red), "JPG"), c.Name);
    EXPECT_EQ(t == unknown, c.Unknown);
    EXPECT_NE(t, *broken);
  }
  EXPECT_NE(Thumb({}, "a.GIF"), Thumb({}, "a.AVI"));
  EXPECT_EQ(CountLines("THUMBS:"), 0);
}

// Damaged bytes and sizes no card holds: the broken picture and one log line each,
// and nothing decoded.
TEST_F(ThumbsTest, DamagedAndHostilePicturesGiveTheBrokenPicture) {
  std::vector<uint8_t> png = Encode(Solid(40, 30, Qt::green), "PNG");
  std::vector<uint8_t> truncatedPng(png.begin(), png.begin() + static_cast<long>(png.size() / 2));
  std::vector<uint8_t> tiff = Tiff(Solid(40, 30, Qt::green));
  std::vector<uint8_t> truncatedTiff(tiff.begin(), tiff.begin() + 200);
  // The IHDR chunk's width and height set (its CRC made to match), so that only the
  // size is wrong.
  auto pngOfSize = [&png](uint32_t Width, uint32_t Height) {
    std::vector<uint8_t> b = png;
    for (int k = 0; k < 4; ++k) {
      b[16 + static_cast<std::size_t>(k)] = static_cast<uint8_t>(Width >> (24 - 8 * k));
      b[20 + static_cast<std::size_t>(k)] = static_cast<uint8_t>(Height >> (24 - 8 * k));
    }
    const auto crc = static_cast<uint32_t>(crc32(0, &b[12], 17));
    for (int k = 0; k < 4; ++k)
      b[29 + static_cast<std::size_t>(k)] = static_cast<uint8_t>(crc >> (24 - 8 * k));
    return b;
  };
  std::vector<uint8_t> hugePng = pngOfSize(100000, 100000);
  std::vector<uint8_t> widestPng = pngOfSize(0xFFFFFFFF, 0xFFFFFFFF); // a product that overflows
  std::vector<uint8_t> jpeg = Encode(Solid(40, 30, Qt::green), "JPG");
  std::vector<uint8_t> hugeJpeg = jpeg;
  for (std::size_t i = 2; i + 9 < hugeJpeg.size(); ++i)
    if (hugeJpeg[i] == 0xFF && hugeJpeg[i + 1] == 0xC0) { // SOF0: height, width 65000
      for (std::size_t k = i + 5; k < i + 9; k += 2)
        hugeJpeg[k] = 0xFD, hugeJpeg[k + 1] = 0xE8;
      break;
    }
  std::vector<uint8_t> bmp = Encode(Solid(40, 30, Qt::green), "BMP");
  std::vector<uint8_t> hugeBmp = bmp;
  for (int i : {18, 22}) // width and height: 12000
    hugeBmp[i] = 0xE0, hugeBmp[i + 1] = 0x2E, hugeBmp[i + 2] = 0, hugeBmp[i + 3] = 0;
  // A whole TIFF whose first directory declares 100000 x 100000 pixels: its width and
  // length entries made 32-bit values of 100000.
  std::vector<uint8_t> hugeTiff = tiff;
  ASSERT_EQ(hugeTiff[0], 'I'); // the entries below are read little-endian
  const std::size_t dir = hugeTiff[4] | hugeTiff[5] << 8 | hugeTiff[6] << 16 | hugeTiff[7] << 24;
  for (std::size_t e = dir + 2, n = hugeTiff[dir] | hugeTiff[dir + 1] << 8; n > 0; --n, e += 12)
    if (hugeTiff[e + 1] == 1 && (hugeTiff[e] == 0 || hugeTiff[e] == 1)) { // tags 256 and 257
      const uint8_t entry[10] = {4, 0, 1, 0, 0, 0, 0xA0, 0x86, 1, 0};
      std::copy(entry, entry + 10, hugeTiff.begin() + static_cast<long>(e) + 2);
    }
  struct TCase {
    const char* What;
    std::vector<uint8_t> Bytes;
    std::string Name;
    std::string Says; // part of the log line
  };
  const TCase cases[] = {
      {"truncated PNG", truncatedPng, "t.PNG", ""},
      {"truncated TIFF", truncatedTiff, "t.TIF", ""},
      {"empty JPEG", {}, "e.JPG", ""},
      {"JPEG of other bytes", std::vector<uint8_t>(5000, 0x41), "g.JPG", ""},
      {"JPEG declaring 65000 x 65000", hugeJpeg, "h.JPG", "declares 65000 x 65000 pixels"},
      {"PNG declaring 100000 x 100000", hugePng, "h.PNG", "declares 100000 x 100000 pixels"},
      // libpng itself refuses sizes above 2^31 - 1, before the bound sees them.
      {"PNG declaring 2^32-1 x 2^32-1", widestPng, "w.PNG", "out of range"},
      {"BMP declaring 12000 x 12000", hugeBmp, "h.BMP", "declares 12000 x 12000 pixels"},
      {"TIFF declaring 100000 x 100000", hugeTiff, "h.TIF", "declares 100000 x 100000 pixels"},
  };
  std::optional<QImage> broken = BrokenThumbnail(80, 80);
  ASSERT_TRUE(broken.has_value());
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TDebugLines::Instance().Clear();
    EXPECT_EQ(Thumb(c.Bytes, c.Name), *broken);
    auto lines = TDebugLines::Instance().Snapshot();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("THUMBS: Error thumbnailing " + c.Name + ": ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(c.Says), std::string::npos) << lines[0];
  }
}

// A TIFF read from a stream that is not in memory is copied into memory once, for its
// load, and the copy counts in the memory that the decodes share, as libtiff's RGBA
// raster does; its size is read from the stream itself.
TEST_F(ThumbsTest, ATiffIsCopiedOnceAndWithinTheDecodesMemory) {
  const int w = 300, h = 200;
  struct TCase {
    const char* What;
    TTiffCompression Compression; // JPEG is read through libtiff's RGBA raster
    bool InMemory;
  };
  const TCase cases[] = {{"strips from a file", tcNone, false},
                         {"strips from memory", tcNone, true},
                         {"JPEG from a file", tcJpeg, false},
                         {"JPEG from memory", tcJpeg, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TTiffGraphic tiff;
    tiff.NewImage(w, h, ifTrueColor, nullptr, 0, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        tiff.SetPixelColor(x, y, RGBToColor(uint8_t(x / 2), uint8_t(y), 200));
    tiff.SetCompression(c.Compression);
    TMemoryStream saved;
    tiff.SaveToStream(saved);
    const std::vector<uint8_t> bytes(saved.Memory(), saved.Memory() + saved.GetSize());
    const auto size = static_cast<int64_t>(bytes.size());

    TThumbMemory memory(int64_t{1} << 30);
    TCountingStream file(bytes);
    auto memoryStream = StreamOf(bytes);
    TStream& in = c.InMemory ? static_cast<TStream&>(*memoryStream) : file;
    std::optional<QImage> t = MakeThumbnail(in, "f.TIF", 80, 80, &memory);
    ASSERT_TRUE(t.has_value());
    EXPECT_NE(*t, *BrokenThumbnail(80, 80));
    EXPECT_TRUE(Near(t->pixel(40, 40), QColor(75, 100, 200))) << std::hex << t->pixel(40, 40);
    if (!c.InMemory) {
      EXPECT_LE(file.BytesRead, size + 4096); // the copy, and the directory once more
    }
    const int64_t pixels = 2 * 3 * int64_t{w} * h;
    const int64_t raster = c.Compression == tcJpeg ? 4 * int64_t{w} * h : 0;
    EXPECT_EQ(memory.Peak(), pixels + raster + (c.InMemory ? 0 : size));
    EXPECT_EQ(memory.InUse(), 0);
  }
}
