// Module QvDiGrph.
// The image library's base image class, TDibGraphic: one device-independent bitmap
// in one of six formats with its palette and resolution, pixel access, drawing,
// conversion from and to platform bitmaps, icons and the clipboard, and frames for
// streams that hold several images. Also the palette and pixel machinery it rests
// on: the nearest-colour converter, the default palettes and the pixel routines
// picked by image format.
//
// Colours are 00RRGGBB (red in bits 16-23). Rows are stored bottom-up, padded to 4
// bytes; ScanLine counts rows from the top.
#pragma once

#include "Graphics.h"
#include "LibrarySupport.h"
#include "Pixels.h"
#include "Timer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gf {

enum TImageFormat : uint8_t {
  ifBlackWhite = 0, // 1 bit, 2 palette entries
  ifGray16 = 1,     // 4 bits, 16 greys
  ifGray256 = 2,    // 8 bits, 256 greys
  ifColor16 = 3,    // 4 bits, 16 colours
  ifColor256 = 4,   // 8 bits, 256 colours
  ifTrueColor = 5   // 24 bits: blue, green, red bytes
};

using TColor = uint32_t; // the library's colour, 00RRGGBB

constexpr TColor RGBToColor(uint8_t R, uint8_t G, uint8_t B) {
  return (static_cast<TColor>(R) << 16 | static_cast<TColor>(G) << 8 | B) & 0xFFFFFF;
}
constexpr uint8_t ColorRed(TColor C) {
  return static_cast<uint8_t>(C >> 16);
}
constexpr uint8_t ColorGreen(TColor C) {
  return static_cast<uint8_t>(C >> 8);
}
constexpr uint8_t ColorBlue(TColor C) {
  return static_cast<uint8_t>(C);
}

// Raises "Internal error: Invalid image format" for a value above 5.
int BitsPerPixel(TImageFormat Format);
// "Black and white" ... "True color"; empty for a value above 5.
std::string ImageFormatName(TImageFormat Format);

// Resolutions are kept in pixels per metre and offered in dots per inch.
constexpr double PixelsPerMetrePerDpi = 39.370078740157480317;
int32_t DpiToPixelsPerMetre(uint16_t Dpi);
// 0 for a value that is not positive or gives more than 65535 dpi.
uint16_t PixelsPerMetreToDpi(int64_t PixelsPerMetre);

// --- Palettes and pixel formats ----------------------------------------------------

constexpr int LogPaletteSize(int N) {
  return 4 + 4 * N;
}

// Maps colours to the nearest entry of a palette, remembering recent answers in a
// cache of 1020 slots keyed by the whole colour value.
class TRgbToPaletteConverter {
public:
  static constexpr int CacheSlots = 1020;
  explicit TRgbToPaletteConverter(const TMaxLogPalette& Palette); // not owned
  uint16_t NearestIndex(TColor Color);
  uint32_t Hits = 0;
  uint32_t Misses = 0;

private:
  struct TSlot {
    uint32_t Key;
    int16_t Index; // -1: empty
  };
  const TMaxLogPalette& FPalette;
  std::array<TSlot, CacheSlots> FCache;
};

void MakeBlackWhitePalette(TMaxLogPalette& Palette);
void MakeGray16Palette(TMaxLogPalette& Palette);
void MakeGray256Palette(TMaxLogPalette& Palette);
void MakeColor16Palette(TMaxLogPalette& Palette);
void MakeColor256Palette(TMaxLogPalette& Palette);
// The default palette of a palette format (ifBlackWhite .. ifColor256); raises
// "Internal error: Invalid image format" for true colour and above.
const TMaxLogPalette& DefaultPalette(TImageFormat Format);

// Exchanges the first and third byte of every whole 3-byte group.
void SwapRedBlue(void* Buffer, std::size_t ByteCount);

// The pixel routines SetPixel1 ... GetPixel24 and RowBytes are the bitmap rows' own
// (Pixels.h); these tables pick them by image format: setters, then getters.
using TPixelSetter = void (*)(uint8_t* Row, int X, uint32_t Value);
using TPixelGetter = uint32_t (*)(const uint8_t* Row, int X);
extern const TPixelSetter PixelSetters[6];
extern const TPixelGetter PixelGetters[6];

// The display gamma the PNG reader corrects for.
inline double ScreenGamma = 2.2;

// --- The image class ------------------------------------------------------------------

// A picture's size in pixels, as its file declares it, and the memory in bytes that
// its load holds beside the picture's own pixels (a copy of the stream, a raster that
// the decoder fills first).
struct TImageSize {
  int64_t Width = 0, Height = 0;
  int64_t WorkBytes = 0;
};

class TDibGraphic : public TGraphic {
public:
  static const TGraphicClass Class;
  TDibGraphic();
  ~TDibGraphic() override;
  const TGraphicClass& ClassType() const override { return Class; }

  void AssignTo(TPersistent& Dest) override;
  void Assign(TPersistent* Source) override;
  // Copies the picture into Rect: unscaled when Rect has the image's size,
  // stretched otherwise; then OnAfterDraw.
  void Draw(TCanvas& Canvas, const TRect& Rect) override;
  bool GetEmpty() const override { return !FDib; }
  int GetWidth() const override { return FDib ? FDib->Width() : 0; }
  int GetHeight() const override { return FDib ? FDib->Height() : 0; }
  // The size changes only through NewImage.
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) override;
  void LoadFromClipboardFormat(uint16_t Format, const TDibSection* Data,
                               const TPaletteObject* Palette) override;
  void SaveToClipboardFormat(uint16_t& Format, std::unique_ptr<TDibSection>& Data,
                             std::unique_ptr<TPaletteObject>& Palette) override;

  // Number of images in Stream (1 here).
  virtual int GetImageCount(TStream& Stream);
  // The size that image Index (1-based) of Stream declares, read from the stream's
  // position without decoding any pixel, so that a caller can refuse or make room for
  // the picture first; nothing where the class cannot tell before it decodes (here).
  // Bytes that are not of the class's format raise its error, as a load would.
  virtual std::optional<TImageSize> ReadImageSize(TStream& Stream, int Index);
  // Reads image number Index (1-based); nothing here.
  virtual void LoadFrame(TStream& Stream, int Index);
  // Adds the image to a multi-image stream; refused here.
  virtual void AppendToStream(TStream& Stream);
  // (Re)creates the bitmap. A palette format without a palette takes the format's
  // default; a palette longer than the format holds is cut to 2^bits entries. A
  // resolution of 0 takes the screen's. Raises "CreateDibSection failed" for a size
  // that is not positive or whose pixels would exceed MaxDibBytes; the image is
  // empty after any failure.
  virtual void NewImage(int Width, int Height, TImageFormat Format, const TMaxLogPalette* Palette,
                        uint16_t XDpi, uint16_t YDpi);
  void FreeImage();

  // Row Y counted from the top; no range test. Null when the image is empty.
  uint8_t* ScanLine(int Y) { return FDib ? FDib->Row(Y) : nullptr; }
  const uint8_t* ScanLine(int Y) const { return FDib ? FDib->Row(Y) : nullptr; }
  // Pixels by coordinates (X from the left, Y from the top); no range tests.
  TColor GetPixelColor(int X, int Y) const;
  void SetPixelColor(int X, int Y, TColor Color);
  uint8_t GetPixelIndex(int X, int Y) const;
  void SetPixelIndex(int X, int Y, uint8_t Index);

  // The resolution lives in the bitmap's header: 0, and not kept, while the image is empty.
  uint16_t GetXDpi() const { return PixelsPerMetreToDpi(BitmapInfo().bmiHeader.biXPelsPerMeter); }
  uint16_t GetYDpi() const { return PixelsPerMetreToDpi(BitmapInfo().bmiHeader.biYPelsPerMeter); }
  void SetXDpi(uint16_t Value);
  void SetYDpi(uint16_t Value);

  // The platform palette, made on first request; nullptr for true colour.
  const TPaletteObject* GetPaletteHandle();
  // Builds the image from a platform bitmap.
  void LoadFromDIBHandle(const TDibSection* Bitmap);

  TImageFormat ImageFormat() const { return FImageFormat; }
  // The bitmap's pixels, row size, pixel bytes and header with its colour table; null,
  // 0, 0 and all zero while the image is empty.
  uint8_t* Bits() { return FDib ? FDib->Bits() : nullptr; }
  const uint8_t* Bits() const { return FDib ? FDib->Bits() : nullptr; }
  uint32_t RowSize() const { return FDib ? static_cast<uint32_t>(FDib->RowBytes()) : 0; }
  std::size_t ImageSize() const { return FDib ? FDib->ImageBytes() : 0; }
  const TBitmapInfo256& BitmapInfo() const;
  const TMaxLogPalette& ImagePalette() const { return FImagePalette; }
  TCanvas* Canvas() { return FCanvas.get(); }
  TRgbToPaletteConverter* Converter() { return FConverter.get(); }

  // Frames: with LoadAllFrames, LoadFromStream reads every image of the stream into
  // Frames and shows the first; otherwise it reads image FrameIndex into itself.
  bool GetLoadAllFrames() const { return FLoadAllFrames; }
  void SetLoadAllFrames(bool Value) { FLoadAllFrames = Value; }
  int GetFrameIndex() const { return FFrameIndex; }
  void SetFrameIndex(int Value) { FFrameIndex = Value; }
  int GetFrameInterval() const { return FFrameInterval; }
  void SetFrameInterval(int Value) { FFrameInterval = Value; }
  bool GetAnimate() const { return FAnimate; }
  void SetAnimate(bool Value);
  int GetCurrentFrame() const { return FCurrentFrame; }
  // Shows frame N (1-based); raises "Frame %d does not exist" outside 1..FrameCount.
  void SetCurrentFrame(int N);
  int FrameCount() const { return static_cast<int>(FFrames.size()); }
  TDibGraphic& Frame(int Index) { return *FFrames.at(static_cast<std::size_t>(Index)); }
  // The animation timer; its driver calls Tick every FrameInterval ms.
  TTimer& FrameTimer() { return *FTimer; }

  std::function<void(TDibGraphic& Sender)> OnAfterDraw;

private:
  void FrameTimerTick();
  void ClearFrames();

  std::unique_ptr<TDibSection> FDib; // the image: header, colour table and rows
  std::unique_ptr<TPaletteObject> FPaletteHandle;
  TImageFormat FImageFormat = ifBlackWhite;
  TMaxLogPalette FImagePalette{};
  std::unique_ptr<TCanvas> FCanvas;
  int FFrameIndex = 1;
  bool FLoadAllFrames = false;
  std::vector<std::unique_ptr<TDibGraphic>> FFrames;
  int FFrameInterval = 200;
  bool FAnimate = false;
  std::unique_ptr<TTimer> FTimer;
  int FCurrentFrame = -1;
  TPixelGetter FPixelGetter = nullptr;
  TPixelSetter FPixelSetter = nullptr;
  std::unique_ptr<TRgbToPaletteConverter> FConverter;
};

// Registers a file extension with its description and graphic class.
void RegisterGraphicFormat(std::string_view Extension, std::string_view Description,
                           const TGraphicClass& GraphicClass);
// Registers TDibGraphic for the clipboard's bitmap format, and removes it again.
void RegisterDibGraphic();
void UnregisterDibGraphic();

// Header routines behind LoadFromDIBHandle.
void InitBitmapInfoHeader(const TDibSection* Bitmap, TBitmapInfoHeader& Header);
void GetBitmapInfoSizes(const TDibSection* Bitmap, uint32_t& InfoSize, uint32_t& ImageSize);
bool ReadDIBBits(const TDibSection* Bitmap, TBitmapInfo256& Info, void* Bits);
// 1, 4, 8, 24 bits; raises "Unsupported bit count" for any other.
TImageFormat FormatFromBitCount(int BitCount);

} // namespace gf
