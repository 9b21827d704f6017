#include "DibGraphic.h"

#include "Clipboard.h"
#include "Format.h"
#include "IconGraphic.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gf {

const TGraphicClass TDibGraphic::Class = {
    "TDibGraphic", [] { return std::unique_ptr<TGraphic>(new TDibGraphic); }};

int BitsPerPixel(TImageFormat Format) {
  static const int bits[6] = {1, 4, 8, 4, 8, 24};
  if (Format > ifTrueColor)
    throw EQuorvaneError("Internal error: Invalid image format");
  return bits[Format];
}

std::string ImageFormatName(TImageFormat Format) {
  static const char* const names[6] = {"Black and white", "16 shades of gray", "256 shades of gray",
                                       "16 color",        "256 color",         "True color"};
  return Format > ifTrueColor ? std::string() : names[Format];
}

int32_t DpiToPixelsPerMetre(uint16_t Dpi) {
  return static_cast<int32_t>(std::nearbyint(Dpi * PixelsPerMetrePerDpi));
}

uint16_t PixelsPerMetreToDpi(int64_t PixelsPerMetre) {
  if (PixelsPerMetre <= 0)
    return 0;
  const double dpi = std::nearbyint(static_cast<double>(PixelsPerMetre) / PixelsPerMetrePerDpi);
  return dpi > 65535 ? 0 : static_cast<uint16_t>(dpi);
}

// --- Life ------------------------------------------------------------------------------

TDibGraphic::TDibGraphic() : FTimer(std::make_unique<TTimer>()) {
  FTimer->Enabled = false;
  FTimer->OnTimer = [this] { FrameTimerTick(); };
}

TDibGraphic::~TDibGraphic() {
  // The owners of the change and draw events may already be gone, and nothing
  // torn down here is a change they should hear about.
  OnChange = nullptr;
  OnAfterDraw = nullptr;
  FTimer->Enabled = false;
  FTimer->OnTimer = nullptr;
  FFrames.clear();
  FreeImage();
}

void TDibGraphic::NewImage(int Width, int Height, TImageFormat Format,
                           const TMaxLogPalette* Palette, uint16_t XDpi, uint16_t YDpi) {
  // The palette may be this image's own, which is cleared below before it is filled.
  TMaxLogPalette given;
  if (Palette) {
    given = *Palette;
    Palette = &given;
  }
  FreeImage();
  try {
    const int bits = BitsPerPixel(Format);
    FImageFormat = Format;
    const bool paletted = Format < ifTrueColor;
    if (paletted && !Palette)
      Palette = &DefaultPalette(Format);
    // Sizes from a file's header: 64 bits, bounded before anything is made.
    const int64_t row = RowBytes(Width, bits);
    if (Width <= 0 || Height <= 0 || row > MaxDibBytes / Height)
      throw EQuorvaneError("CreateDibSection failed");
    // A palette never holds more entries than the format can index.
    const int colours = paletted ? std::min<int>({Palette->palNumEntries, 256, 1 << bits}) : 0;

    TBitmapInfo256 info{};
    TBitmapInfoHeader& h = info.bmiHeader;
    h.biSize = sizeof(TBitmapInfoHeader);
    h.biWidth = Width;
    h.biHeight = Height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<uint16_t>(bits);
    h.biCompression = 0;
    h.biSizeImage = static_cast<uint32_t>(row * Height);
    h.biClrImportant = 0;
    h.biClrUsed = static_cast<uint32_t>(colours);
    for (int i = 0; i < colours; ++i) {
      const TPaletteEntry& e = Palette->palPalEntry[i];
      info.bmiColors[i] = TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0};
    }
    h.biXPelsPerMeter = DpiToPixelsPerMetre(XDpi > 0 ? XDpi : ScreenPixelsPerInch);
    h.biYPelsPerMeter = DpiToPixelsPerMetre(YDpi > 0 ? YDpi : ScreenPixelsPerInch);

    FDib = TDibSection::Create(info);
    if (!FDib)
      throw EQuorvaneError("CreateDibSection failed");
    FPixelGetter = PixelGetters[Format];
    FPixelSetter = PixelSetters[Format];

    std::memset(&FImagePalette, 0, sizeof FImagePalette);
    if (paletted) {
      FImagePalette.palVersion = 0x300;
      FImagePalette.palNumEntries = static_cast<uint16_t>(colours);
      std::memcpy(FImagePalette.palPalEntry, Palette->palPalEntry,
                  static_cast<std::size_t>(colours) * sizeof(TPaletteEntry));
      FConverter = std::make_unique<TRgbToPaletteConverter>(FImagePalette);
    }
    FCanvas = std::make_unique<TCanvas>(FDib.get());
  } catch (...) {
    FreeImage();
    throw;
  }
}

void TDibGraphic::FreeImage() {
  FCanvas.reset();
  FConverter.reset();
  FPaletteHandle.reset();
  FDib.reset();
}

void TDibGraphic::SetWidth(int) {
  throw EQuorvaneError("Dimensions must be change with the NewImage method");
}

void TDibGraphic::SetHeight(int) {
  throw EQuorvaneError("Dimensions must be change with the NewImage method");
}

void TDibGraphic::SetXDpi(uint16_t Value) {
  if (FDib)
    FDib->SetResolution(DpiToPixelsPerMetre(Value), FDib->Header().biYPelsPerMeter);
}

void TDibGraphic::SetYDpi(uint16_t Value) {
  if (FDib)
    FDib->SetResolution(FDib->Header().biXPelsPerMeter, DpiToPixelsPerMetre(Value));
}

const TBitmapInfo256& TDibGraphic::BitmapInfo() const {
  static const TBitmapInfo256 none{};
  return FDib ? FDib->Info() : none;
}

const TPaletteObject* TDibGraphic::GetPaletteHandle() {
  if (FImageFormat == ifTrueColor || !FDib)
    return nullptr;
  if (!FPaletteHandle)
    FPaletteHandle = std::make_unique<TPaletteObject>(FImagePalette);
  return FPaletteHandle.get();
}

// --- Pixels ------------------------------------------------------------------------------

TColor TDibGraphic::GetPixelColor(int X, int Y) const {
  if (FImageFormat == ifTrueColor)
    return FPixelGetter(ScanLine(Y), X);
  const TPaletteEntry& e = FImagePalette.palPalEntry[GetPixelIndex(X, Y)];
  return RGBToColor(e.peRed, e.peGreen, e.peBlue);
}

void TDibGraphic::SetPixelColor(int X, int Y, TColor Color) {
  if (FImageFormat == ifTrueColor)
    FPixelSetter(ScanLine(Y), X, Color);
  else
    SetPixelIndex(X, Y, static_cast<uint8_t>(FConverter->NearestIndex(Color)));
}

uint8_t TDibGraphic::GetPixelIndex(int X, int Y) const {
  if (FImageFormat == ifTrueColor)
    throw EQuorvaneError("The image does not have a palette");
  return static_cast<uint8_t>(FPixelGetter(ScanLine(Y), X));
}

void TDibGraphic::SetPixelIndex(int X, int Y, uint8_t Index) {
  if (FImageFormat == ifTrueColor)
    throw EQuorvaneError("The image does not have a palette");
  FPixelSetter(ScanLine(Y), X, Index);
}

// --- Drawing and assignment ------------------------------------------------------------

void TDibGraphic::Draw(TCanvas& Canvas, const TRect& Rect) {
  // The target is a true-colour surface, never palette-based, so no halftone palette
  // is realised. The canvas copies unscaled exactly when Rect has the image's size
  // (whatever its position) and stretches otherwise.
  if (FDib)
    Canvas.StretchDib(Rect, *FDib);
  if (OnAfterDraw)
    OnAfterDraw(*this);
}

void TDibGraphic::Assign(TPersistent* Source) {
  if (Source == this)
    return;
  auto* dib = dynamic_cast<TDibGraphic*>(Source);
  if (!Source || dib) {
    FreeImage();
    if (dib && dib->GetWidth() > 0 && dib->GetHeight() > 0) {
      NewImage(dib->GetWidth(), dib->GetHeight(), dib->FImageFormat, &dib->FImagePalette,
               dib->GetXDpi(), dib->GetYDpi());
      FFrameInterval = dib->FFrameInterval;
      std::memcpy(Bits(), dib->Bits(), dib->ImageSize());
    }
    return;
  }
  if (auto* clip = dynamic_cast<TClipboard*>(Source)) {
    clip->Open();
    try {
      LoadFromClipboardFormat(CF_BITMAP, clip->GetBitmap(), clip->GetPalette());
    } catch (...) {
      clip->Close();
      throw;
    }
    clip->Close();
    return;
  }
  if (auto* bmp = dynamic_cast<TBitmap*>(Source)) {
    LoadFromDIBHandle(bmp->Handle());
    return;
  }
  if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
    const int w = graphic->GetWidth(), h = graphic->GetHeight();
    NewImage(w, h, ifTrueColor, nullptr, 0, 0);
    std::memset(Bits(), 0, ImageSize());
    graphic->Draw(*FCanvas, TRect{0, 0, w, h});
    return;
  }
  TGraphic::Assign(Source);
}

void TDibGraphic::AssignTo(TPersistent& Dest) {
  if (auto* dib = dynamic_cast<TDibGraphic*>(&Dest)) {
    dib->Assign(this);
    return;
  }
  if (auto* bmp = dynamic_cast<TBitmap*>(&Dest)) {
    bmp->SetPixelFormat(TPixelFormat::pf24bit);
    bmp->SetSize(GetWidth(), GetHeight());
    Draw(bmp->Canvas(), TRect{0, 0, GetWidth(), GetHeight()});
    return;
  }
  if (auto* icon = dynamic_cast<TIcon*>(&Dest)) {
    TMemoryStream stream;
    if (auto* self = dynamic_cast<TIconGraphic*>(this)) {
      self->SaveToStream(stream);
    } else {
      TIconGraphic temp;
      temp.Assign(this);
      temp.SaveToStream(stream);
    }
    stream.SetPosition(0);
    icon->LoadFromStream(stream);
    return;
  }
  throw EQuorvaneError(Format("Cannot assign a %s to a %s", "TDibGraphic", Dest.ClassName()));
}

// --- Streams and frames ----------------------------------------------------------------

void TDibGraphic::ClearFrames() {
  FFrames.clear();
  FCurrentFrame = -1;
}

void TDibGraphic::LoadFromStream(TStream& Stream) {
  const bool animate = FAnimate;
  SetAnimate(false);
  try {
    // A new stream's frames replace the old ones, never follow them.
    ClearFrames();
    int count = 0;
    if (FLoadAllFrames) {
      const int64_t start = Stream.GetPosition();
      count = GetImageCount(Stream);
      Stream.SetPosition(start); // counting may leave the stream anywhere
      if (count == 1)
        FLoadAllFrames = false;
      if (FLoadAllFrames) {
        for (int i = 1; i <= count; ++i) {
          std::unique_ptr<TGraphic> made = ClassType().Create();
          std::unique_ptr<TDibGraphic> frame(dynamic_cast<TDibGraphic*>(made.get()));
          if (!frame)
            throw EQuorvaneError("Internal error: frame class is not a DIB image");
          made.release();
          Stream.SetPosition(start);
          frame->LoadFrame(Stream, i);
          FFrames.push_back(std::move(frame));
        }
        SetCurrentFrame(1);
      }
    }
    if (!FLoadAllFrames)
      LoadFrame(Stream, FFrameIndex);
  } catch (...) {
    SetAnimate(animate);
    throw;
  }
  SetAnimate(animate);
}

void TDibGraphic::SaveToStream(TStream&) {}

int TDibGraphic::GetImageCount(TStream&) {
  return 1;
}

std::optional<TImageSize> TDibGraphic::ReadImageSize(TStream&, int) {
  return std::nullopt;
}

void TDibGraphic::LoadFrame(TStream&, int) {}

void TDibGraphic::AppendToStream(TStream&) {
  throw EQuorvaneError(Format("The %s format does not support multiple images", ClassName()));
}

void TDibGraphic::SetCurrentFrame(int N) {
  if (N == FCurrentFrame)
    return;
  if (N < 1 || N > FrameCount())
    throw EQuorvaneError(Format("Frame %d does not exist", N));
  Assign(FFrames[static_cast<std::size_t>(N - 1)].get());
  Changed();
  // The library runs no message loop of its own: whoever owns the image repaints
  // when it hears of the change.
  FCurrentFrame = N;
}

void TDibGraphic::SetAnimate(bool Value) {
  FAnimate = Value;
  if (Value && !FFrames.empty()) {
    FTimer->Interval = static_cast<uint32_t>(std::max(FFrameInterval, 0));
    FTimer->Enabled = true;
  } else {
    FTimer->Enabled = false;
  }
}

void TDibGraphic::FrameTimerTick() {
  if (FFrames.empty())
    return;
  FTimer->Enabled = false;
  auto restart = [this] {
    FTimer->Interval = static_cast<uint32_t>(std::max(FFrameInterval, 0));
    FTimer->Enabled = true;
  };
  try {
    SetCurrentFrame(FCurrentFrame == FrameCount() ? 1 : FCurrentFrame + 1);
  } catch (...) {
    restart();
    throw;
  }
  restart();
}

// --- Platform bitmaps and the clipboard --------------------------------------------------

void InitBitmapInfoHeader(const TDibSection* Bitmap, TBitmapInfoHeader& Header) {
  // Every bitmap here is a DIB section, so the platform reports its full header.
  GetDibHeader(Bitmap, Header);
  Header.biBitCount = static_cast<uint16_t>(Header.biBitCount * Header.biPlanes);
  if (Header.biBitCount == 16 || Header.biBitCount == 32) {
    Header.biBitCount = 24;
    Header.biSizeImage = 0;
  }
  Header.biPlanes = 1;
  // Never trust a stored size that is smaller than the rows themselves.
  const int64_t rows =
      RowBytes(Header.biWidth, Header.biBitCount) * std::abs(static_cast<int64_t>(Header.biHeight));
  if (Header.biSizeImage < rows && rows <= MaxDibBytes)
    Header.biSizeImage = static_cast<uint32_t>(rows);
}

void GetBitmapInfoSizes(const TDibSection* Bitmap, uint32_t& InfoSize, uint32_t& ImageSize) {
  TBitmapInfoHeader h{};
  InitBitmapInfoHeader(Bitmap, h);
  if (h.biBitCount <= 8)
    InfoSize = 40 + 4 * (1u << h.biBitCount);
  else
    InfoSize = 40 + ((h.biCompression & 3) ? 12 : 0);
  ImageSize = h.biSizeImage;
}

bool ReadDIBBits(const TDibSection* Bitmap, TBitmapInfo256& Info, void* Bits) {
  InitBitmapInfoHeader(Bitmap, Info.bmiHeader);
  const TBitmapInfoHeader saved = Info.bmiHeader;
  const int lines = std::abs(Info.bmiHeader.biHeight);
  const bool ok = GetDIBits(Bitmap, 0, lines, Bits, Info) == lines;
  Info.bmiHeader = saved;
  return ok;
}

TImageFormat FormatFromBitCount(int BitCount) {
  switch (BitCount) {
  case 1:
    return ifBlackWhite;
  case 4:
    return ifColor16;
  case 8:
    return ifColor256;
  case 24:
    return ifTrueColor;
  default:
    throw EQuorvaneError("Unsupported bit count");
  }
}

void TDibGraphic::LoadFromDIBHandle(const TDibSection* Bitmap) {
  uint32_t infoSize = 0, imageSize = 0;
  GetBitmapInfoSizes(Bitmap, infoSize, imageSize);
  auto info = std::make_unique<TBitmapInfo256>();
  std::vector<uint8_t> bits(imageSize);
  if (!ReadDIBBits(Bitmap, *info, bits.data()))
    throw EQuorvaneError("GetDIB failed");
  const TBitmapInfoHeader& h = info->bmiHeader;
  if (h.biCompression != 0)
    throw EQuorvaneError("Unsupported compression");
  TMaxLogPalette palette{};
  const TMaxLogPalette* usePalette = nullptr;
  if (h.biClrUsed >= 1 && h.biClrUsed <= 256) {
    palette.palVersion = 0x300;
    palette.palNumEntries = static_cast<uint16_t>(h.biClrUsed);
    for (uint32_t i = 0; i < h.biClrUsed; ++i) {
      const TRGBQuad& q = info->bmiColors[i];
      palette.palPalEntry[i] = TPaletteEntry{q.rgbRed, q.rgbGreen, q.rgbBlue, 0};
    }
    usePalette = &palette;
  }
  const uint16_t xdpi = PixelsPerMetreToDpi(h.biXPelsPerMeter);
  const uint16_t ydpi = PixelsPerMetreToDpi(h.biYPelsPerMeter);
  const TImageFormat format = FormatFromBitCount(h.biBitCount);
  NewImage(h.biWidth, std::abs(h.biHeight), format, usePalette, xdpi, ydpi);
  std::memcpy(Bits(), bits.data(), std::min<std::size_t>(bits.size(), ImageSize()));
}

void TDibGraphic::LoadFromClipboardFormat(uint16_t Format, const TDibSection* Data,
                                          const TPaletteObject*) {
  if (Format != CF_BITMAP || !Data)
    throw EInvalidGraphic(gf::Format("Unknown clipboard format, %d", Format));
  // The screen is never palette-based here, so the bitmap's own colours are taken.
  LoadFromDIBHandle(Data);
}

void TDibGraphic::SaveToClipboardFormat(uint16_t& Format, std::unique_ptr<TDibSection>& Data,
                                        std::unique_ptr<TPaletteObject>&) {
  Format = CF_BITMAP;
  TBitmapInfo256 info{};
  info.bmiHeader.biSize = sizeof(TBitmapInfoHeader);
  info.bmiHeader.biWidth = GetWidth();
  info.bmiHeader.biHeight = GetHeight();
  info.bmiHeader.biPlanes = 1;
  if (FImageFormat == ifBlackWhite) {
    info.bmiHeader.biBitCount = 1; // monochrome: black and white
    info.bmiHeader.biClrUsed = 2;
    info.bmiColors[1] = TRGBQuad{255, 255, 255, 0};
  } else {
    info.bmiHeader.biBitCount = 24; // compatible with the true-colour screen
  }
  Data = TDibSection::Create(info);
  if (!Data)
    throw EQuorvaneError("CopyBitmap: CreateBitmap failed");
  TCanvas canvas(Data.get());
  canvas.StretchDib(TRect{0, 0, GetWidth(), GetHeight()}, *FDib);
}

void RegisterGraphicFormat(std::string_view Extension, std::string_view Description,
                           const TGraphicClass& GraphicClass) {
  TPicture::RegisterFileFormat(Extension, Description, GraphicClass);
}

void RegisterDibGraphic() {
  TPicture::RegisterClipboardFormat(CF_BITMAP, TDibGraphic::Class);
}

void UnregisterDibGraphic() {
  TPicture::UnregisterGraphicClass(TDibGraphic::Class);
}

} // namespace gf
