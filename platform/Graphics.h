// Stand-ins for the platform's graphics services that the image library needs:
// device-independent bitmaps in memory (header, colour table, rows bottom-up and
// padded to 4 bytes), logical palettes, a canvas that copies, stretches and fills,
// the class library's graphic classes (TGraphic with a virtual constructor,
// TBitmap, TIcon) and its picture-format registry, and the screen's fixed metrics.
// Nothing here knows a toolkit: a window copies a TBitmap's rows into its own image.
#pragma once

#include "Streams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace gf {

// --- Exceptions of the class library ------------------------------------------

class EInvalidGraphic : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class EOutOfResources : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// An assignment between classes that do not know each other.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// --- Records in the platform's layout ------------------------------------------
// Every field sits at its natural alignment, so the layouts need no packing.

struct TBitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight; // positive: rows bottom-up
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};

struct TRGBQuad {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};

// Header followed by a full 256-entry colour table.
struct TBitmapInfo256 {
  TBitmapInfoHeader bmiHeader;
  TRGBQuad bmiColors[256];
};

struct TPaletteEntry {
  uint8_t peRed;
  uint8_t peGreen;
  uint8_t peBlue;
  uint8_t peFlags;
};

// A logical palette record with room for 256 entries; palNumEntries says how many count.
struct TMaxLogPalette {
  uint16_t palVersion;
  uint16_t palNumEntries;
  TPaletteEntry palPalEntry[256];
};

static_assert(sizeof(TBitmapInfoHeader) == 40);
static_assert(sizeof(TBitmapInfo256) == 40 + 1024);
static_assert(sizeof(TMaxLogPalette) == 4 + 1024);

// Platform colour: 00BBGGRR (red in the low byte).
using TColorRef = uint32_t;
constexpr TColorRef RGB(uint8_t R, uint8_t G, uint8_t B) {
  return static_cast<TColorRef>(R) | static_cast<TColorRef>(G) << 8 |
         static_cast<TColorRef>(B) << 16;
}
// A 24-bit pixel's value (blue | green << 8 | red << 16, as GetPixel24 gives it) as a
// platform colour, and back: red and blue change places.
constexpr TColorRef Pixel24ToColorRef(uint32_t Pixel) {
  return (Pixel & 0x00FF00) | (Pixel & 0xFF) << 16 | (Pixel >> 16 & 0xFF);
}
constexpr uint32_t ColorRefToPixel24(TColorRef Color) {
  return Pixel24ToColorRef(Color);
}

// The entry nearest to the colour (R, G, B): the least sum of squared differences,
// the lowest index among equals; 0 when there are no entries.
int NearestColorIndex(const TRGBQuad* Entries, int Count, int R, int G, int B);
int NearestColorIndex(const TPaletteEntry* Entries, int Count, int R, int G, int B);

constexpr uint16_t CF_BITMAP = 2;
constexpr uint16_t CF_PALETTE = 9;

// --- The screen ------------------------------------------------------------------

constexpr int ScreenPixelsPerInch = 96;
constexpr bool ScreenIsPaletteBased = false; // a true-colour desktop
constexpr int SystemIconWidth = 32;
constexpr int SystemIconHeight = 32;

// --- Bitmaps in memory -------------------------------------------------------------

// The largest pixel block a bitmap may have. Sizes come from files, so they are
// computed in 64 bits and anything above this is refused before allocating.
constexpr int64_t MaxDibBytes = int64_t{1} << 30;

// RowBytes (Pixels.h) for a width of at least 0 and 1 to 32 bits per pixel; -1 otherwise.
int64_t DibRowBytes(int64_t Width, int BitCount);

// The pixel memory of one bitmap with its header and colour table (a DIB section).
// Only uncompressed, bottom-up bitmaps of 1, 4, 8 or 24 bits are made.
class TDibSection {
public:
  // Allocates zeroed pixels; nullptr when the header is not one of the above or its
  // size is zero or above MaxDibBytes. The colours used count decides how many
  // colour-table entries are taken from Info (all 2^bits when it is 0).
  static std::unique_ptr<TDibSection> Create(const TBitmapInfo256& Info);
  ~TDibSection();
  TDibSection(const TDibSection&) = delete;
  TDibSection& operator=(const TDibSection&) = delete;

  const TBitmapInfoHeader& Header() const { return FInfo.bmiHeader; }
  const TBitmapInfo256& Info() const { return FInfo; }
  TRGBQuad* Colors() { return FInfo.bmiColors; }
  const TRGBQuad* Colors() const { return FInfo.bmiColors; }
  int ColorCount() const; // colour-table entries in use (0 for 24 bits)

  int Width() const { return FInfo.bmiHeader.biWidth; }
  int Height() const { return FInfo.bmiHeader.biHeight; }
  int BitCount() const { return FInfo.bmiHeader.biBitCount; }
  std::size_t RowBytes() const { return FRowBytes; }
  std::size_t ImageBytes() const { return FRowBytes * static_cast<std::size_t>(Height()); }
  uint8_t* Bits() { return FBits; }
  const uint8_t* Bits() const { return FBits; }
  // Row Y counted from the top.
  uint8_t* Row(int Y) { return FBits + static_cast<std::size_t>(Height() - 1 - Y) * FRowBytes; }
  const uint8_t* Row(int Y) const {
    return FBits + static_cast<std::size_t>(Height() - 1 - Y) * FRowBytes;
  }
  // Colour of pixel (X, Y) in the platform's order; no range test.
  TColorRef PixelColor(int X, int Y) const;
  std::unique_ptr<TDibSection> Clone() const;
  // Replaces the colour table with Count entries (clamped to 2^bits; none for 24 bits).
  void SetColorTable(const TRGBQuad* Entries, int Count);
  // The resolution the header records; the pixels stay as they are.
  void SetResolution(int32_t XPelsPerMeter, int32_t YPelsPerMeter) {
    FInfo.bmiHeader.biXPelsPerMeter = XPelsPerMeter;
    FInfo.bmiHeader.biYPelsPerMeter = YPelsPerMeter;
  }

private:
  TDibSection() = default;
  TBitmapInfo256 FInfo{};
  std::size_t FRowBytes = 0;
  uint8_t* FBits = nullptr;
};

// Fills Header (and the colour table when Info is given) from a bitmap, as the
// platform reports it; raises EInvalidGraphic "Invalid bitmap" for no bitmap.
void GetDibHeader(const TDibSection* Bitmap, TBitmapInfoHeader& Header);
// Copies Lines rows from row StartScan (counted from the bottom) into Bits in the
// layout Info's header asks for, and the colour table into Info. Only the bitmap's
// own bit count can be asked for. Returns the rows copied, 0 on failure.
int GetDIBits(const TDibSection* Bitmap, int StartScan, int Lines, void* Bits,
              TBitmapInfo256& Info);

// A logical palette object (what a palette handle stands for).
class TPaletteObject {
public:
  explicit TPaletteObject(const TMaxLogPalette& Palette);
  int EntryCount() const { return FPalette.palNumEntries; }
  // Copies up to Count entries from Start; returns how many were copied.
  int GetEntries(int Start, int Count, TPaletteEntry* Entries) const;
  const TMaxLogPalette& LogPalette() const { return FPalette; }

private:
  TMaxLogPalette FPalette{};
};

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0; // exclusive
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};

class TGraphic;

// Drawing on a bitmap: fill, copy and nearest-neighbour stretch. Every write is
// clipped to the surface. On a palette surface a colour becomes the nearest entry of
// its colour table.
class TCanvas {
public:
  explicit TCanvas(TDibSection* Surface = nullptr) : FSurface(Surface) {}
  void SetSurface(TDibSection* Surface) { FSurface = Surface; }
  TDibSection* Surface() const { return FSurface; }

  TColorRef BrushColor = RGB(255, 255, 255);
  void FillRect(const TRect& Rect);
  // Draws the whole of Source into Dest: a straight copy when the sizes agree,
  // otherwise each target pixel takes the nearest source pixel.
  void StretchDib(const TRect& Dest, const TDibSection& Source);
  // Lets a graphic draw itself at its own size, or stretched into Rect.
  void Draw(int X, int Y, TGraphic& Graphic);
  void StretchDraw(const TRect& Rect, TGraphic& Graphic);
  TColorRef GetPixel(int X, int Y) const; // 0 outside the surface
  void SetPixel(int X, int Y, TColorRef Color);

private:
  TDibSection* FSurface; // not owned
};

// --- The class library's persistent objects and graphics --------------------------

class TPersistent {
public:
  virtual ~TPersistent() = default;
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;

  virtual std::string ClassName() const = 0;
  // Copies Source into this object; the default asks Source to do it (AssignTo).
  virtual void Assign(TPersistent* Source);
  // Copies this object into Dest; the default refuses with EConvertError.
  virtual void AssignTo(TPersistent& Dest);
};

class TGraphic;

// A class reference with a virtual constructor.
struct TGraphicClass {
  const char* Name;
  std::unique_ptr<TGraphic> (*Create)();
};

class TGraphic : public TPersistent {
public:
  virtual const TGraphicClass& ClassType() const = 0;
  std::string ClassName() const override { return ClassType().Name; }

  virtual void Draw(TCanvas& Canvas, const TRect& Rect) = 0;
  virtual bool GetEmpty() const = 0;
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  virtual void SetWidth(int Value) = 0;
  virtual void SetHeight(int Value) = 0;
  virtual void LoadFromStream(TStream& Stream) = 0;
  virtual void SaveToStream(TStream& Stream) = 0;
  virtual void LoadFromClipboardFormat(uint16_t Format, const TDibSection* Data,
                                       const TPaletteObject* Palette);
  virtual void SaveToClipboardFormat(uint16_t& Format, std::unique_ptr<TDibSection>& Data,
                                     std::unique_ptr<TPaletteObject>& Palette);
  void LoadFromFile(const std::string& FileName);
  // Saves into a new file beside FileName, which takes FileName's place (keeping the
  // old file's owner, group, permissions and extended attributes) only when the save
  // succeeded; a failed save leaves the old file as it was. Through a link, the file
  // it names is saved, also one that does not exist yet; the link stays. What a new
  // file could not stand in for is written into instead, once the picture is made in
  // memory: what is not a regular file (a device; a pipe, which needs a reader), a file
  // of several names, one whose owner, group or attributes cannot be given to a new
  // file, one whose folder takes no new file; space for it is reserved first where the
  // file system can, so that a full disk leaves the old file, else only a write error
  // midway would cut it. A file that could not be opened for writing is refused.
  // Every error names FileName.
  void SaveToFile(const std::string& FileName);

  // Called (Sender = the graphic) when the picture changed; only when set.
  std::function<void(TGraphic& Sender)> OnChange;

protected:
  virtual void Changed();
};

enum class TPixelFormat { pf1bit, pf4bit, pf8bit, pf24bit };

// A platform bitmap: 24 bits by default, also 1, 4 or 8 bits with a colour table.
class TBitmap : public TGraphic {
public:
  static const TGraphicClass Class;
  TBitmap();
  ~TBitmap() override;
  const TGraphicClass& ClassType() const override { return Class; }

  void Assign(TPersistent* Source) override;
  void Draw(TCanvas& Canvas, const TRect& Rect) override;
  bool GetEmpty() const override { return !FDib; }
  int GetWidth() const override { return FDib ? FDib->Width() : 0; }
  int GetHeight() const override { return FDib ? FDib->Height() : 0; }
  void SetWidth(int Value) override { SetSize(Value, GetHeight()); }
  void SetHeight(int Value) override { SetSize(GetWidth(), Value); }
  // Bitmap streams belong to the bitmap codec; this stand-in refuses them.
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) override;

  // Resizes, keeping the overlapping part of the picture; new pixels are black.
  // Raises EOutOfResources for a size the platform cannot make.
  void SetSize(int Width, int Height);
  TPixelFormat GetPixelFormat() const { return FPixelFormat; }
  // Converts the picture to another pixel format.
  void SetPixelFormat(TPixelFormat Value);
  // The colour table of a 1-, 4- or 8-bit bitmap (up to 2^bits entries).
  void SetColorTable(const TRGBQuad* Colors, int Count);
  TCanvas& Canvas() { return FCanvas; }
  // Row Y counted from the top; BytesPerLine bytes, pixels as the format stores them.
  uint8_t* ScanLine(int Y) { return FDib->Row(Y); }
  std::size_t BytesPerLine() const { return FDib ? FDib->RowBytes() : 0; }
  // The bitmap handle; nullptr when empty.
  const TDibSection* Handle() const { return FDib.get(); }

private:
  void Rebuild(int Width, int Height, TPixelFormat Format);
  TPixelFormat FPixelFormat = TPixelFormat::pf24bit;
  std::vector<TRGBQuad> FColorTable;
  std::unique_ptr<TDibSection> FDib;
  TCanvas FCanvas;
};

// What an icon handle stands for: a colour picture and its transparency mask.
struct TIconImage {
  int Width = 0;
  int Height = 0;
  std::vector<TColorRef> Color; // per pixel, top row first
  std::vector<uint8_t> Alpha;   // 0..255 per pixel; empty when the mask decides
  std::vector<uint8_t> Mask;    // 1 = transparent, per pixel, top row first
};

struct TIconInfo {
  bool fIcon = true;
  int xHotspot = 0;
  int yHotspot = 0;
  const TDibSection* hbmMask = nullptr;
  const TDibSection* hbmColor = nullptr;
};

// Builds an icon from a mask and a colour bitmap of one size; nullptr when they are
// missing or differ in size.
std::unique_ptr<TIconImage> CreateIconIndirect(const TIconInfo& Info);

// A platform icon: reads the first image of an icon file (bitmaps of 1, 4, 8, 24 or
// 32 bits with their masks) and writes a true-colour icon.
class TIcon : public TGraphic {
public:
  static const TGraphicClass Class;
  const TGraphicClass& ClassType() const override { return Class; }

  // Draws the icon stretched into Rect: opaque pixels replace the target, masked
  // ones leave it, and 32-bit pixels are blended by their alpha.
  void Draw(TCanvas& Canvas, const TRect& Rect) override;
  bool GetEmpty() const override { return !FImage; }
  int GetWidth() const override { return FImage ? FImage->Width : 0; }
  int GetHeight() const override { return FImage ? FImage->Height : 0; }
  // An icon's size comes from its picture.
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  // Raises EInvalidGraphic "Invalid icon" for anything it cannot read.
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) override;
  void SetHandle(std::unique_ptr<TIconImage> Image);
  const TIconImage* Handle() const { return FImage.get(); }

private:
  std::unique_ptr<TIconImage> FImage;
};

// The registry of graphic classes by file extension and by clipboard format.
class TPicture {
public:
  struct TFileFormat {
    std::string Extension; // upper case, no dot
    std::string Description;
    const TGraphicClass* GraphicClass;
  };
  // A later registration of the same extension replaces the earlier one.
  static void RegisterFileFormat(std::string_view Extension, std::string_view Description,
                                 const TGraphicClass& GraphicClass);
  static void RegisterClipboardFormat(uint16_t Format, const TGraphicClass& GraphicClass);
  static void UnregisterGraphicClass(const TGraphicClass& GraphicClass);
  // The class registered for an extension (case ignored, with or without the dot).
  static const TGraphicClass* FileFormatClass(std::string_view Extension);
  static const TGraphicClass* ClipboardFormatClass(uint16_t Format);
  static std::vector<TFileFormat> FileFormats();
};

} // namespace gf
