#include "Thumbs.h"

#include "Debug.h"
#include "DibGraphic.h"
#include "Format.h"
#include "Graphics.h"
#include "Streams.h"

#include <QtCore/QFile>
#include <QtCore/QIODevice>
#include <QtGui/QImageReader>
#include <QtGui/QPainter>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace gf {

namespace {

// Lets Qt's image reader read one of our streams, from its start.
class TStreamDevice : public QIODevice {
public:
  explicit TStreamDevice(TStream& Stream) : FStream(Stream), FSize(Stream.GetSize()) {
    FStream.SetPosition(0);
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }
  bool isSequential() const override { return false; }
  qint64 size() const override { return FSize; }
  bool seek(qint64 Pos) override {
    if (Pos < 0 || !QIODevice::seek(Pos))
      return false;
    try {
      FStream.SetPosition(Pos);
    } catch (const EStreamError&) {
      return false;
    }
    return true;
  }

protected:
  qint64 readData(char* Data, qint64 MaxSize) override {
    try {
      return static_cast<qint64>(FStream.Read(Data, static_cast<std::size_t>(MaxSize)));
    } catch (const EStreamError&) {
      return -1;
    }
  }
  qint64 writeData(const char*, qint64) override { return -1; }

private:
  TStream& FStream;
  qint64 FSize;
};

void CheckPixels(TImageSize Size) {
  // Divided, not multiplied: two 32-bit sizes can overflow even a 64-bit product.
  if (Size.Width > 0 && Size.Height > 0 && Size.Width > MaxThumbnailPixels / Size.Height)
    throw std::runtime_error(Format("The picture declares %d x %d pixels, more than %d", Size.Width,
                                    Size.Height, MaxThumbnailPixels));
}

// JPEG and BMP: Qt's reader reads the size from the header, then decodes at about the
// thumbnail's size (JPEG in the decoder itself), turned as the camera recorded it.
[[noreturn]] void Unreadable(const char* Type, const QImageReader& Reader) {
  throw std::runtime_error(
      Format("Not a readable %s picture (%s)", Type, Reader.errorString().toStdString()));
}

// Bytes of a picture of Size at 32 bits a pixel.
int64_t Rgb32Bytes(QSize Size) {
  return int64_t{Size.width()} * Size.height() * 4;
}

QImage ReadWithQt(TStream& Stream, const char* Type, QSize Box, QSize& FullSize,
                  TThumbShare& Share) {
  TStreamDevice device(Stream);
  QImageReader reader(&device, Type);
  reader.setAutoTransform(true);
  QSize stored = reader.size();
  if (!stored.isValid())
    Unreadable(Type, reader);
  CheckPixels({stored.width(), stored.height()});
  bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
  FullSize = turned ? stored.transposed() : stored;
  // Decoded at the size it is drawn at, when that is smaller, so no second scaling.
  TThumbRect r = ThumbnailRect(FullSize.width(), FullSize.height(), Box.width(), Box.height());
  QSize fit(r.Width(), r.Height());
  if (turned)
    fit.transpose();
  const bool reduced = fit.width() > 0 && fit.height() > 0 && fit.width() < stored.width() &&
                       fit.height() < stored.height();
  if (reduced)
    reader.setScaledSize(fit);
  // The JPEG decoder itself reduces by up to 8 in each direction (libjpeg's DCT
  // scaling), to no less than the size asked for; the BMP reader decodes the whole
  // picture and scales it after. Either way a turned copy may follow.
  QSize decoded = stored;
  if (reduced && std::strcmp(Type, "JPEG") == 0)
    for (int d = 0;
         d < 3 && decoded.width() / 2 >= fit.width() && decoded.height() / 2 >= fit.height(); ++d)
      decoded = QSize((decoded.width() + 1) / 2, (decoded.height() + 1) / 2);
  Share.Reserve(2 * Rgb32Bytes(decoded));
  QImage image = reader.read();
  if (image.isNull())
    Unreadable(Type, reader);
  return image;
}

QImage ReadJpeg(TStream& Stream, QSize Box, QSize& FullSize, TThumbShare& Share) {
  return ReadWithQt(Stream, "JPEG", Box, FullSize, Share);
}

QImage ReadBmp(TStream& Stream, QSize Box, QSize& FullSize, TThumbShare& Share) {
  return ReadWithQt(Stream, "BMP", Box, FullSize, Share);
}

// The library's bitmap (24 bits, rows from the top, blue-green-red) as a Qt picture,
// averaged over square blocks down to about twice the box, which keeps the copy small
// and the later smooth scaling sharp.
QImage CopyReduced(TBitmap& Bitmap, QSize Box) {
  const int w = Bitmap.GetWidth(), h = Bitmap.GetHeight();
  const int k =
      std::max(1, std::min(w / std::max(1, 2 * Box.width()), h / std::max(1, 2 * Box.height())));
  const int ow = (w + k - 1) / k, oh = (h + k - 1) / k;
  QImage out(ow, oh, QImage::Format_RGB32);
  if (out.isNull())
    throw std::runtime_error("Not enough memory for the thumbnail");
  std::vector<uint32_t> sums(static_cast<std::size_t>(ow) * 3);
  for (int oy = 0; oy < oh; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    const int y0 = oy * k, y1 = std::min(h, y0 + k);
    for (int y = y0; y < y1; ++y) {
      const uint8_t* row = Bitmap.ScanLine(y);
      for (int x = 0; x < w; ++x) {
        uint32_t* s = &sums[static_cast<std::size_t>(x / k) * 3];
        s[0] += row[3 * x + 2];
        s[1] += row[3 * x + 1];
        s[2] += row[3 * x];
      }
    }
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(oy));
    for (int ox = 0; ox < ow; ++ox) {
      const uint32_t n = static_cast<uint32_t>((std::min(w, ox * k + k) - ox * k) * (y1 - y0));
      const uint32_t* s = &sums[static_cast<std::size_t>(ox) * 3];
      line[ox] =
          qRgb(static_cast<int>(s[0] / n), static_cast<int>(s[1] / n), static_cast<int>(s[2] / n));
    }
  }
  return out;
}

// PNG and TIFF: the image library's class for the type, found through the picture
// registry, reads the picture's size (without a copy of the bytes), then loads the
// bytes and is assigned to a bitmap, which the thumbnail copies.
QImage ReadWithLibrary(TStream& Stream, const char* Ext, QSize Box, QSize& FullSize,
                       TThumbShare& Share) {
  const TGraphicClass* type = TPicture::FileFormatClass(Ext);
  if (!type)
    throw std::runtime_error(Format("No image class for %s pictures is registered", Ext));
  std::unique_ptr<TGraphic> graphic = type->Create();
  std::optional<TImageSize> size;
  if (auto* dib = dynamic_cast<TDibGraphic*>(graphic.get())) {
    Stream.SetPosition(0);
    size = dib->ReadImageSize(Stream, dib->GetFrameIndex());
  }
  if (size)
    CheckPixels(*size);
  // The class's picture and the bitmap it is assigned to, 24 bits a pixel each, and
  // what the load holds beside them (a TIFF's copy of a file); a size that the class
  // cannot tell in advance takes all there is, so it decodes alone.
  Share.Reserve(size ? 2 * 3 * size->Width * size->Height + size->WorkBytes : INT64_MAX);
  Stream.SetPosition(0);
  graphic->LoadFromStream(Stream);
  TBitmap bitmap;
  bitmap.Assign(graphic.get());
  graphic.reset(); // its pixels are not needed any more
  if (bitmap.GetEmpty() || bitmap.GetPixelFormat() != TPixelFormat::pf24bit)
    throw std::runtime_error(Format("The %s picture holds no image", Ext));
  FullSize = QSize(bitmap.GetWidth(), bitmap.GetHeight());
  return CopyReduced(bitmap, Box);
}

QImage ReadPng(TStream& Stream, QSize Box, QSize& FullSize, TThumbShare& Share) {
  return ReadWithLibrary(Stream, "PNG", Box, FullSize, Share);
}

QImage ReadTiff(TStream& Stream, QSize Box, QSize& FullSize, TThumbShare& Share) {
  return ReadWithLibrary(Stream, "TIF", Box, FullSize, Share);
}

std::string UpperExtension(const std::string& FileName) {
  std::size_t slash = FileName.find_last_of('/');
  std::string name = slash == std::string::npos ? FileName : FileName.substr(slash + 1);
  std::size_t dot = name.find_last_of('.');
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  for (char& ch : ext)
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return ext;
}

enum class TLoad { Loaded, Missing, Failed };

TLoad LoadFixedPicture(const std::string& Name, QImage& Picture) {
  QString path = QString(":/%1.bmp").arg(QString::fromStdString(Name));
  if (!QFile::exists(path))
    return TLoad::Missing;
  Picture = QImage(path);
  return Picture.isNull() ? TLoad::Failed : TLoad::Loaded;
}

std::optional<QImage> Fit(const QImage& Source, QSize Full, int Height, int Width) {
  QImage result(Width, Height, QImage::Format_RGB32);
  result.fill(Qt::white);
  TThumbRect r = ThumbnailRect(Full.width(), Full.height(), Width, Height);
  if (r.Width() > 0 && r.Height() > 0) {
    // Qt's smooth scaling averages the pixels it drops, where a painter's would skip them.
    QSize drawn(r.Width(), r.Height());
    QImage scaled = Source.size() == drawn
                        ? Source
                        : Source.scaled(drawn, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter(&result).drawImage(r.Left, r.Top, scaled);
  }
  return result;
}

} // namespace

bool TThumbMemory::Take(int64_t Bytes) {
  std::unique_lock lock(FMutex);
  FChanged.wait(lock, [&] { return FCancelled || FInUse == 0 || Bytes <= FLimit - FInUse; });
  if (FCancelled)
    return false;
  FInUse += Bytes;
  FPeak = std::max(FPeak, FInUse);
  return true;
}

void TThumbMemory::Give(int64_t Bytes) {
  {
    std::lock_guard lock(FMutex);
    FInUse -= Bytes;
  }
  FChanged.notify_all();
}

void TThumbMemory::Cancel() {
  {
    std::lock_guard lock(FMutex);
    FCancelled = true;
  }
  FChanged.notify_all();
}

int64_t TThumbMemory::InUse() const {
  std::lock_guard lock(FMutex);
  return FInUse;
}

int64_t TThumbMemory::Peak() const {
  std::lock_guard lock(FMutex);
  return FPeak;
}

TThumbShare::~TThumbShare() {
  if (FMemory && FHeld > 0)
    FMemory->Give(FHeld);
}

void TThumbShare::Reserve(int64_t Bytes) {
  if (!FMemory || Bytes <= 0)
    return;
  // Never more than the whole: a bigger share would be the same as the whole anyway.
  Bytes = std::min(Bytes, FMemory->Limit());
  if (!FMemory->Take(Bytes))
    throw EThumbAbandoned();
  FHeld += Bytes;
}

const TThumbnailFormat ThumbnailFormats[4] = {
    {"JPG", ReadJpeg},
    {"BMP", ReadBmp},
    {"PNG", ReadPng},
    {"TIF", ReadTiff},
};

const TThumbnailFormat* FindThumbnailFormat(const std::string& FileName) {
  std::string ext = UpperExtension(FileName);
  for (const TThumbnailFormat& f : ThumbnailFormats)
    if (ext == f.Ext)
      return &f;
  return nullptr;
}

TThumbRect ThumbnailRect(int SourceWidth, int SourceHeight, int BoxWidth, int BoxHeight) {
  int64_t w, h;
  if (SourceWidth > SourceHeight) {
    w = BoxWidth;
    h = SourceWidth == 0 ? BoxHeight : int64_t{SourceHeight} * BoxHeight / SourceWidth;
  } else {
    h = BoxHeight;
    w = SourceHeight == 0 ? BoxWidth : int64_t{SourceWidth} * BoxWidth / SourceHeight;
  }
  int left = static_cast<int>((BoxWidth - w) / 2);
  int top = static_cast<int>((BoxHeight - h) / 2);
  return {left, top, static_cast<int>(left + w - 1), static_cast<int>(top + h - 1)};
}

std::optional<QImage> BrokenThumbnail(int Height, int Width) {
  QImage broken;
  if (LoadFixedPicture("THUMB_BROKEN", broken) != TLoad::Loaded) {
    DebugLog("MAIN: Couldn't load \"Broken Image\" thumbnail: %s",
             "no picture THUMB_BROKEN in the resources");
    return std::nullopt;
  }
  return Fit(broken, broken.size(), Height, Width);
}

std::optional<QImage> MakeThumbnail(TStream& Stream, const std::string& FileName, int Height,
                                    int Width, TThumbMemory* Memory) {
  QImage source;
  QSize full;
  bool dropped = false;
  if (const TThumbnailFormat* format = FindThumbnailFormat(FileName)) {
    try {
      TThumbShare share(Memory);
      source = format->GraphicClass(Stream, QSize(Width, Height), full, share);
    } catch (const EThumbAbandoned&) {
      return std::nullopt;
    } catch (const std::exception& e) {
      DebugLog("THUMBS: Error thumbnailing %s: %s", FileName, e.what());
      dropped = true;
    }
  } else {
    TLoad own = LoadFixedPicture("THUMB_" + UpperExtension(FileName), source);
    if (own == TLoad::Missing) {
      if (LoadFixedPicture("THUMB_UNKNOWN", source) != TLoad::Loaded) {
        DebugLog("MAIN: Couldn't load \"Unknown Format\" thumbnail: %s",
                 "no picture THUMB_UNKNOWN in the resources");
        dropped = true;
      }
    } else if (own == TLoad::Failed) {
      dropped = true;
    }
    full = source.size();
  }
  if (dropped)
    return BrokenThumbnail(Height, Width);
  return Fit(source, full, Height, Width);
}

} // namespace gf
