#include "Graphics.h"

#include "Descriptor.h"
#include "Format.h"
#include "PartFile.h"
#include "Pixels.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace gf {

// --- Bitmaps in memory -------------------------------------------------------------

int64_t DibRowBytes(int64_t Width, int BitCount) {
  if (Width < 0 || BitCount <= 0 || BitCount > 32)
    return -1;
  return RowBytes(Width, BitCount);
}

static bool SupportedBitCount(int BitCount) {
  return BitCount == 1 || BitCount == 4 || BitCount == 8 || BitCount == 24;
}

std::unique_ptr<TDibSection> TDibSection::Create(const TBitmapInfo256& Info) {
  const TBitmapInfoHeader& h = Info.bmiHeader;
  if (h.biSize != sizeof(TBitmapInfoHeader) || h.biPlanes != 1 || h.biCompression != 0 ||
      !SupportedBitCount(h.biBitCount) || h.biWidth <= 0 || h.biHeight <= 0)
    return nullptr;
  const int64_t row = DibRowBytes(h.biWidth, h.biBitCount);
  if (row <= 0 || row > MaxDibBytes / h.biHeight)
    return nullptr;
  const std::size_t size = static_cast<std::size_t>(row) * static_cast<std::size_t>(h.biHeight);
  // calloc: large blocks come as untouched zero pages, so a big image costs nothing
  // until it is drawn on.
  auto* bits = static_cast<uint8_t*>(std::calloc(size, 1));
  if (!bits)
    return nullptr;
  std::unique_ptr<TDibSection> dib(new TDibSection);
  dib->FInfo.bmiHeader = h;
  dib->FInfo.bmiHeader.biSizeImage = static_cast<uint32_t>(size);
  if (h.biBitCount <= 8) {
    const uint32_t max = 1u << h.biBitCount;
    const uint32_t used = h.biClrUsed == 0 || h.biClrUsed > max ? max : h.biClrUsed;
    dib->FInfo.bmiHeader.biClrUsed = used;
    std::memcpy(dib->FInfo.bmiColors, Info.bmiColors, used * sizeof(TRGBQuad));
  } else {
    dib->FInfo.bmiHeader.biClrUsed = 0;
  }
  dib->FRowBytes = static_cast<std::size_t>(row);
  dib->FBits = bits;
  return dib;
}

TDibSection::~TDibSection() {
  std::free(FBits);
}

int TDibSection::ColorCount() const {
  return BitCount() <= 8 ? static_cast<int>(FInfo.bmiHeader.biClrUsed) : 0;
}

static TColorRef QuadColor(const TRGBQuad& Q) {
  return RGB(Q.rgbRed, Q.rgbGreen, Q.rgbBlue);
}

TColorRef TDibSection::PixelColor(int X, int Y) const {
  const uint8_t* row = Row(Y);
  if (BitCount() == 24)
    return Pixel24ToColorRef(GetPixel24(row, X));
  const uint32_t index = GetIndexPixel(row, X, BitCount());
  return index < FInfo.bmiHeader.biClrUsed ? QuadColor(FInfo.bmiColors[index]) : 0;
}

std::unique_ptr<TDibSection> TDibSection::Clone() const {
  auto copy = Create(FInfo);
  if (copy)
    std::memcpy(copy->FBits, FBits, ImageBytes());
  return copy;
}

void TDibSection::SetColorTable(const TRGBQuad* Entries, int Count) {
  if (BitCount() > 8)
    return;
  Count = std::clamp(Count, 0, 1 << BitCount());
  std::memset(FInfo.bmiColors, 0, sizeof FInfo.bmiColors);
  std::memcpy(FInfo.bmiColors, Entries, static_cast<std::size_t>(Count) * sizeof(TRGBQuad));
  FInfo.bmiHeader.biClrUsed = static_cast<uint32_t>(Count);
}

void GetDibHeader(const TDibSection* Bitmap, TBitmapInfoHeader& Header) {
  if (!Bitmap)
    throw EInvalidGraphic("Invalid bitmap");
  Header = Bitmap->Header();
}

int GetDIBits(const TDibSection* Bitmap, int StartScan, int Lines, void* Bits,
              TBitmapInfo256& Info) {
  if (!Bitmap || !Bits || StartScan < 0 || Lines < 0 || StartScan > Bitmap->Height())
    return 0;
  if (Info.bmiHeader.biBitCount != Bitmap->BitCount() || Info.bmiHeader.biCompression != 0)
    return 0;
  Lines = std::min(Lines, Bitmap->Height() - StartScan);
  const std::size_t row = Bitmap->RowBytes();
  std::memcpy(Bits, Bitmap->Bits() + static_cast<std::size_t>(StartScan) * row,
              row * static_cast<std::size_t>(Lines));
  std::memset(Info.bmiColors, 0, sizeof Info.bmiColors);
  std::memcpy(Info.bmiColors, Bitmap->Colors(),
              static_cast<std::size_t>(Bitmap->ColorCount()) * sizeof(TRGBQuad));
  Info.bmiHeader = Bitmap->Header();
  return Lines;
}

TPaletteObject::TPaletteObject(const TMaxLogPalette& Palette) : FPalette(Palette) {
  FPalette.palNumEntries = std::min<uint16_t>(FPalette.palNumEntries, 256);
}

int TPaletteObject::GetEntries(int Start, int Count, TPaletteEntry* Entries) const {
  if (Start < 0 || Count <= 0 || Start >= EntryCount())
    return 0;
  const int n = std::min(Count, EntryCount() - Start);
  std::memcpy(Entries, FPalette.palPalEntry + Start, static_cast<std::size_t>(n) * 4);
  return n;
}

// --- Canvas ------------------------------------------------------------------------

namespace {

int Distance(const TRGBQuad& Q, int R, int G, int B) {
  return (R - Q.rgbRed) * (R - Q.rgbRed) + (G - Q.rgbGreen) * (G - Q.rgbGreen) +
         (B - Q.rgbBlue) * (B - Q.rgbBlue);
}
int Distance(const TPaletteEntry& E, int R, int G, int B) {
  return (R - E.peRed) * (R - E.peRed) + (G - E.peGreen) * (G - E.peGreen) +
         (B - E.peBlue) * (B - E.peBlue);
}

template <class TEntry> int Nearest(const TEntry* Entries, int Count, int R, int G, int B) {
  int best = INT32_MAX;
  int result = 0;
  for (int i = 0; i < Count; ++i) {
    const int d = Distance(Entries[i], R, G, B);
    if (d < best) {
      result = i;
      if (d == 0)
        break;
      best = d;
    }
  }
  return result;
}

} // namespace

int NearestColorIndex(const TRGBQuad* Entries, int Count, int R, int G, int B) {
  return Nearest(Entries, Count, R, G, B);
}

int NearestColorIndex(const TPaletteEntry* Entries, int Count, int R, int G, int B) {
  return Nearest(Entries, Count, R, G, B);
}

static uint32_t NearestQuad(const TDibSection& Dib, TColorRef Color) {
  return static_cast<uint32_t>(NearestColorIndex(Dib.Colors(), Dib.ColorCount(), Color & 0xFF,
                                                 (Color >> 8) & 0xFF, (Color >> 16) & 0xFF));
}

void TCanvas::SetPixel(int X, int Y, TColorRef Color) {
  if (!FSurface || X < 0 || Y < 0 || X >= FSurface->Width() || Y >= FSurface->Height())
    return;
  uint8_t* row = FSurface->Row(Y);
  if (FSurface->BitCount() == 24)
    SetPixel24(row, X, ColorRefToPixel24(Color));
  else
    SetIndexPixel(row, X, FSurface->BitCount(), NearestQuad(*FSurface, Color));
}

TColorRef TCanvas::GetPixel(int X, int Y) const {
  if (!FSurface || X < 0 || Y < 0 || X >= FSurface->Width() || Y >= FSurface->Height())
    return 0;
  return FSurface->PixelColor(X, Y);
}

void TCanvas::FillRect(const TRect& Rect) {
  if (!FSurface)
    return;
  const int x0 = std::max(Rect.Left, 0), x1 = std::min(Rect.Right, FSurface->Width());
  const int y0 = std::max(Rect.Top, 0), y1 = std::min(Rect.Bottom, FSurface->Height());
  if (x0 >= x1 || y0 >= y1)
    return;
  if (FSurface->BitCount() == 24) {
    const uint32_t pixel = ColorRefToPixel24(BrushColor);
    for (int y = y0; y < y1; ++y) {
      uint8_t* row = FSurface->Row(y);
      for (int x = x0; x < x1; ++x)
        SetPixel24(row, x, pixel);
    }
    return;
  }
  const uint32_t index = NearestQuad(*FSurface, BrushColor);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      SetIndexPixel(FSurface->Row(y), x, FSurface->BitCount(), index);
}

void TCanvas::StretchDib(const TRect& Dest, const TDibSection& Source) {
  if (!FSurface)
    return;
  const int dw = Dest.Width(), dh = Dest.Height();
  const int sw = Source.Width(), sh = Source.Height();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
    return;
  const int x0 = std::max(Dest.Left, 0), x1 = std::min(Dest.Right, FSurface->Width());
  const int y0 = std::max(Dest.Top, 0), y1 = std::min(Dest.Bottom, FSurface->Height());
  if (x0 >= x1 || y0 >= y1)
    return;
  const bool unscaled = dw == sw && dh == sh;
  const int sbits = Source.BitCount();
  const bool dest24 = FSurface->BitCount() == 24;

  // Source colours as the target stores them: B, G, R bytes, or a target index.
  uint8_t lut[256][3] = {};
  uint32_t indexLut[256] = {};
  if (sbits <= 8) {
    for (int i = 0; i < Source.ColorCount(); ++i) {
      const TRGBQuad& q = Source.Colors()[i];
      lut[i][0] = q.rgbBlue;
      lut[i][1] = q.rgbGreen;
      lut[i][2] = q.rgbRed;
      if (!dest24)
        indexLut[i] = NearestQuad(*FSurface, QuadColor(q));
    }
  }
  std::vector<int> srcX(static_cast<std::size_t>(x1 - x0));
  for (int x = x0; x < x1; ++x)
    srcX[static_cast<std::size_t>(x - x0)] =
        unscaled ? x - Dest.Left : static_cast<int>(static_cast<int64_t>(x - Dest.Left) * sw / dw);

  for (int y = y0; y < y1; ++y) {
    const int sy =
        unscaled ? y - Dest.Top : static_cast<int>(static_cast<int64_t>(y - Dest.Top) * sh / dh);
    const uint8_t* src = Source.Row(sy);
    uint8_t* dst = FSurface->Row(y);
    if (unscaled && dest24 && sbits == 24) {
      std::memcpy(dst + 3 * x0, src + 3 * srcX[0], 3 * static_cast<std::size_t>(x1 - x0));
      continue;
    }
    for (int x = x0; x < x1; ++x) {
      const int sx = srcX[static_cast<std::size_t>(x - x0)];
      if (dest24) {
        const uint8_t* c = sbits == 24 ? src + 3 * sx : lut[GetIndexPixel(src, sx, sbits) & 0xFF];
        std::memcpy(dst + 3 * x, c, 3);
      } else if (sbits == 24) {
        SetIndexPixel(dst, x, FSurface->BitCount(),
                      NearestQuad(*FSurface, Pixel24ToColorRef(GetPixel24(src, sx))));
      } else {
        SetIndexPixel(dst, x, FSurface->BitCount(), indexLut[GetIndexPixel(src, sx, sbits) & 0xFF]);
      }
    }
  }
}

void TCanvas::Draw(int X, int Y, TGraphic& Graphic) {
  Graphic.Draw(*this, TRect{X, Y, X + Graphic.GetWidth(), Y + Graphic.GetHeight()});
}

void TCanvas::StretchDraw(const TRect& Rect, TGraphic& Graphic) {
  Graphic.Draw(*this, Rect);
}

// --- Persistent objects and graphics ------------------------------------------------

void TPersistent::Assign(TPersistent* Source) {
  if (!Source)
    throw EConvertError(Format("Cannot assign a %s to a %s", "nil", ClassName()));
  Source->AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& Dest) {
  throw EConvertError(Format("Cannot assign a %s to a %s", ClassName(), Dest.ClassName()));
}

void TGraphic::LoadFromClipboardFormat(uint16_t Format, const TDibSection*, const TPaletteObject*) {
  throw EInvalidGraphic(gf::Format("Unknown clipboard format, %d", Format));
}

void TGraphic::SaveToClipboardFormat(uint16_t&, std::unique_ptr<TDibSection>&,
                                     std::unique_ptr<TPaletteObject>&) {
  throw EInvalidGraphic("Clipboard format not supported");
}

void TGraphic::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, TFileMode::OpenRead);
  LoadFromStream(stream);
}

namespace {

[[noreturn]] void CannotCreate(const std::string& FileName, int Errno) {
  throw EFileStreamError("Cannot create file \"" + FileName + "\". " + std::strerror(Errno), Errno);
}

[[noreturn]] void CannotWrite(const std::string& FileName, int Errno) {
  throw EFileStreamError("Cannot write file \"" + FileName + "\". " + std::strerror(Errno), Errno);
}

// The file that a save to FileName writes: through links, what the last one names,
// which need not exist yet (a dangling link names the file to create).
std::string FollowLinks(const std::string& FileName) {
  namespace fs = std::filesystem;
  fs::path name(FileName);
  for (int hops = 0; hops < 40; ++hops) { // as many as the system follows in a path
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
      return name.string();
    std::error_code ec;
    const fs::path to = fs::read_symlink(name, ec);
    if (ec)
      return name.string();
    name = to.is_absolute() ? to : name.parent_path() / to;
  }
  CannotCreate(FileName, ELOOP);
}

// A pipe whose reader left fails the write with EPIPE instead of ending the process.
int WriteAllNoSigPipe(int Fd, const uint8_t* Data, std::size_t Size) {
  sigset_t pipe, old;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, &old);
  const int e = WriteAll(Fd, Data, Size);
  if (e == EPIPE && !sigismember(&old, SIGPIPE)) {
    const timespec now{};
    while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return e;
}

// Writes the bytes into the file Target as it stands, for what replacing would change:
// a device or a pipe stays what it is, a file its other names and its owner. The open
// never waits: a pipe without a reader is refused.
void WriteInPlace(const std::string& FileName, const std::string& Target, TMemoryStream& Bytes) {
  int opened;
  do
    opened = ::open(Target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  while (opened < 0 && errno == EINTR);
  if (opened < 0)
    CannotCreate(FileName, errno);
  TFd fd(opened);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0)
    CannotCreate(FileName, errno);
  const uint8_t* data = Bytes.Memory();
  const auto size = static_cast<std::size_t>(Bytes.GetSize());
  if (!S_ISREG(st.st_mode)) {
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags >= 0)
      ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    if (const int e = WriteAllNoSigPipe(fd.Get(), data, size))
      CannotWrite(FileName, e);
  } else {
    // Where the file system reserves space, a full disk is found before a byte of the
    // old picture has changed.
    if (size > 0 && ::fallocate(fd.Get(), 0, 0, static_cast<off_t>(size)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
      const int e = errno;
      (void)!::ftruncate(fd.Get(), st.st_size); // the old bytes are there; only the size grew
      CannotWrite(FileName, e);
    }
    // Opened at its start: the new bytes go over the old ones from there.
    if (const int e = WriteAll(fd.Get(), data, size))
      CannotWrite(FileName, e);
    if (::ftruncate(fd.Get(), static_cast<off_t>(size)) != 0 || ::fsync(fd.Get()) != 0)
      CannotWrite(FileName, errno);
  }
  if (::close(fd.Release()) != 0 && errno != EINTR)
    CannotWrite(FileName, errno);
}

} // namespace

// The picture is written beside the file and takes its place only once it is whole:
// a save that fails, or a process killed halfway, leaves the old file as it was. Where
// a new file could not be what the old one is (a device or pipe, a file of several
// names, of an owner or with attributes that cannot be given to a new file, in a
// folder that takes no new files), the picture is made in memory first and written
// into the old file: a refused save still leaves it as it was.
void TGraphic::SaveToFile(const std::string& FileName) {
  const std::string target = FollowLinks(FileName);
  struct stat old {};
  const bool exists = ::lstat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT)
    CannotCreate(FileName, errno);
  if (exists && S_ISDIR(old.st_mode))
    CannotCreate(FileName, EISDIR);
  // What could not be opened for writing is not replaced either.
  if (exists && S_ISREG(old.st_mode) &&
      ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
    CannotCreate(FileName, errno);
  auto inPlace = [&] {
    TMemoryStream bytes;
    SaveToStream(bytes);
    WriteInPlace(FileName, target, bytes);
  };
  if (exists && (!S_ISREG(old.st_mode) || old.st_nlink > 1))
    return inPlace();
  const std::string folder = std::filesystem::path(target).parent_path().string();
  RemoveLeftoverPartFiles(folder);
  std::unique_ptr<TPartFile> part;
  try {
    part = std::make_unique<TPartFile>(folder, TWriteOut::Durable);
  } catch (const EFileStreamError& e) {
    // A folder that takes no new file may still let its files be written.
    if (exists && (e.Errno() == EACCES || e.Errno() == EPERM || e.Errno() == EROFS))
      return inPlace();
    CannotCreate(FileName, e.Errno());
  }
  if (exists && !part->TakeOver(target, old)) {
    part.reset();
    return inPlace();
  }
  try {
    SaveToStream(part->Stream());
    part->Finish();
  } catch (const EFileStreamError& e) {
    CannotWrite(FileName, e.Errno());
  }
  if (const int e = part->Replace(target))
    CannotCreate(FileName, e);
}

void TGraphic::Changed() {
  if (OnChange)
    OnChange(*this);
}

// --- TBitmap -------------------------------------------------------------------------

const TGraphicClass TBitmap::Class = {"TBitmap",
                                      [] { return std::unique_ptr<TGraphic>(new TBitmap); }};

static int FormatBits(TPixelFormat Format) {
  switch (Format) {
  case TPixelFormat::pf1bit:
    return 1;
  case TPixelFormat::pf4bit:
    return 4;
  case TPixelFormat::pf8bit:
    return 8;
  default:
    return 24;
  }
}

// A new bitmap of 1, 4 or 8 bits starts with a grey ramp (black and white for 1 bit).
static std::vector<TRGBQuad> RampTable(int BitCount) {
  std::vector<TRGBQuad> table;
  if (BitCount > 8)
    return table;
  const int n = 1 << BitCount;
  for (int i = 0; i < n; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / (n - 1));
    table.push_back(TRGBQuad{v, v, v, 0});
  }
  return table;
}

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

void TBitmap::Rebuild(int Width, int Height, TPixelFormat Format) {
  const int bits = FormatBits(Format);
  if (bits != FormatBits(FPixelFormat) || FColorTable.empty())
    FColorTable = RampTable(bits);
  FPixelFormat = Format;
  std::unique_ptr<TDibSection> dib;
  if (Width > 0 && Height > 0) {
    TBitmapInfo256 info{};
    info.bmiHeader.biSize = sizeof(TBitmapInfoHeader);
    info.bmiHeader.biWidth = Width;
    info.bmiHeader.biHeight = Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<uint16_t>(bits);
    info.bmiHeader.biClrUsed = static_cast<uint32_t>(FColorTable.size());
    std::copy(FColorTable.begin(), FColorTable.end(), info.bmiColors);
    dib = TDibSection::Create(info);
    if (!dib)
      throw EOutOfResources("Out of system resources");
    if (FDib) {
      TCanvas copy(dib.get());
      copy.StretchDib(TRect{0, 0, FDib->Width(), FDib->Height()}, *FDib);
    }
  }
  FDib = std::move(dib);
  FCanvas.SetSurface(FDib.get());
  Changed();
}

void TBitmap::SetSize(int Width, int Height) {
  if (Width == GetWidth() && Height == GetHeight())
    return;
  Rebuild(Width, Height, FPixelFormat);
}

void TBitmap::SetPixelFormat(TPixelFormat Value) {
  if (Value == FPixelFormat)
    return;
  Rebuild(GetWidth(), GetHeight(), Value);
}

void TBitmap::SetColorTable(const TRGBQuad* Colors, int Count) {
  const int bits = FormatBits(FPixelFormat);
  if (bits > 8)
    return;
  Count = std::clamp(Count, 0, 1 << bits);
  FColorTable.assign(Colors, Colors + Count);
  if (FDib)
    FDib->SetColorTable(Colors, Count);
}

void TBitmap::Assign(TPersistent* Source) {
  if (!Source) {
    FDib.reset();
    FCanvas.SetSurface(nullptr);
    Changed();
    return;
  }
  if (auto* bmp = dynamic_cast<TBitmap*>(Source)) {
    if (bmp == this)
      return;
    FPixelFormat = bmp->FPixelFormat;
    FColorTable = bmp->FColorTable;
    FDib = bmp->FDib ? bmp->FDib->Clone() : nullptr;
    if (bmp->FDib && !FDib)
      throw EOutOfResources("Out of system resources");
    FCanvas.SetSurface(FDib.get());
    Changed();
    return;
  }
  TGraphic::Assign(Source);
}

void TBitmap::Draw(TCanvas& Canvas, const TRect& Rect) {
  if (FDib)
    Canvas.StretchDib(Rect, *FDib);
}

void TBitmap::LoadFromStream(TStream&) {
  throw EInvalidGraphic("Bitmap streams are not supported by TBitmap");
}

void TBitmap::SaveToStream(TStream&) {
  throw EInvalidGraphic("Bitmap streams are not supported by TBitmap");
}

// --- Picture registry -----------------------------------------------------------------

namespace {
struct TRegistry {
  std::mutex Lock;
  std::vector<TPicture::TFileFormat> Files;
  std::vector<std::pair<uint16_t, const TGraphicClass*>> Clipboard;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

std::string ExtensionKey(std::string_view Extension) {
  if (!Extension.empty() && Extension.front() == '.')
    Extension.remove_prefix(1);
  std::string key(Extension);
  for (char& c : key)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}
} // namespace

void TPicture::RegisterFileFormat(std::string_view Extension, std::string_view Description,
                                  const TGraphicClass& GraphicClass) {
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  const std::string key = ExtensionKey(Extension);
  for (auto& f : r.Files)
    if (f.Extension == key) {
      f.Description = Description;
      f.GraphicClass = &GraphicClass;
      return;
    }
  r.Files.push_back(TFileFormat{key, std::string(Description), &GraphicClass});
}

void TPicture::RegisterClipboardFormat(uint16_t Format, const TGraphicClass& GraphicClass) {
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (auto& c : r.Clipboard)
    if (c.first == Format) {
      c.second = &GraphicClass;
      return;
    }
  r.Clipboard.emplace_back(Format, &GraphicClass);
}

void TPicture::UnregisterGraphicClass(const TGraphicClass& GraphicClass) {
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  std::erase_if(r.Files, [&](const TFileFormat& f) { return f.GraphicClass == &GraphicClass; });
  std::erase_if(r.Clipboard, [&](const auto& c) { return c.second == &GraphicClass; });
}

const TGraphicClass* TPicture::FileFormatClass(std::string_view Extension) {
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  const std::string key = ExtensionKey(Extension);
  for (auto& f : r.Files)
    if (f.Extension == key)
      return f.GraphicClass;
  return nullptr;
}

const TGraphicClass* TPicture::ClipboardFormatClass(uint16_t Format) {
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (auto& c : r.Clipboard)
    if (c.first == Format)
      return c.second;
  return nullptr;
}

std::vector<TPicture::TFileFormat> TPicture::FileFormats() {
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  return r.Files;
}

} // namespace gf
