// libpng reports errors through a callback that must not return. C++ exceptions
// cannot be thrown through libpng's C frames with defined behaviour, so the error
// callback jumps back (png_longjmp) to a setjmp in PngProtected, which the caller
// turns into EPNGError. Everything a jump can pass over (libpng's frames, our
// callbacks, PngProtected's body) holds no object with a destructor at that
// moment; an exception from the stream is caught in the callback, kept, and
// rethrown after the jump.
#include "PngGraphic.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace gf {

const TGraphicClass TPngGraphic::Class = {
    "TPngGraphic", [] { return std::unique_ptr<TGraphic>(new TPngGraphic); }};

void RaisePngError(const std::string& Text) {
  throw EPNGError(Text);
}

int PngColorType(TImageFormat Format) {
  switch (Format) {
  case ifBlackWhite:
  case ifGray16:
  case ifGray256:
    return PNG_COLOR_TYPE_GRAY;
  case ifColor16:
  case ifColor256:
    return PNG_COLOR_TYPE_PALETTE;
  case ifTrueColor:
    return PNG_COLOR_TYPE_RGB;
  }
  throw EQuorvaneError("Internal error: Invalid image format");
}

void RegisterPngGraphic() {
  RegisterGraphicFormat("PNG", "Portable Network Graphic", TPngGraphic::Class);
}

namespace {

// What the callbacks share with the call that runs libpng (libpng's error pointer).
struct TPngContext {
  std::exception_ptr Error; // from the stream, rethrown after the jump
  char Message[256] = {};   // libpng's error text
  std::vector<std::string>* Warnings = nullptr;
};

TPngContext& ContextOf(png_structp Png) {
  return *static_cast<TPngContext*>(png_get_error_ptr(Png));
}

extern "C" void PngErrorCallback(png_structp Png, png_const_charp Message) {
  TPngContext& ctx = ContextOf(Png);
  std::snprintf(ctx.Message, sizeof ctx.Message, "%s", Message ? Message : "libpng error");
  png_longjmp(Png, 1);
}

extern "C" void PngWarningCallback(png_structp Png, png_const_charp Message) {
  try {
    ContextOf(Png).Warnings->emplace_back(Message ? Message : "");
  } catch (...) {
    // Out of memory for a warning's text: the warning is lost, the image is not.
  }
}

extern "C" void PngReadCallback(png_structp Png, png_bytep Data, size_t Length) {
  bool failed = false;
  try {
    static_cast<TStream*>(png_get_io_ptr(Png))->ReadBuffer(Data, Length);
  } catch (...) {
    ContextOf(Png).Error = std::current_exception();
    failed = true;
  }
  if (failed)
    png_error(Png, "Stream read error");
}

extern "C" void PngWriteCallback(png_structp Png, png_bytep Data, size_t Length) {
  bool failed = false;
  try {
    // A short write must not end in a PNG reported as saved.
    static_cast<TStream*>(png_get_io_ptr(Png))->WriteBuffer(Data, Length);
  } catch (...) {
    ContextOf(Png).Error = std::current_exception();
    failed = true;
  }
  if (failed)
    png_error(Png, "Stream write error");
}

extern "C" void PngFlushCallback(png_structp) {}

// Runs Body, which calls libpng, with the jump target in place; false after an
// error. Body must not keep objects with destructors alive across libpng calls.
template <typename F> bool PngProtected(png_structp Png, F&& Body) {
  if (setjmp(png_jmpbuf(Png)))
    return false;
  Body();
  return true;
}

[[noreturn]] void RaiseFailure(TPngContext& Ctx) {
  if (Ctx.Error)
    std::rethrow_exception(Ctx.Error);
  RaisePngError(Ctx.Message);
}

struct TReadStructs {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  ~TReadStructs() {
    if (Png)
      png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
  }
};

struct TWriteStructs {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  ~TWriteStructs() {
    if (Png)
      png_destroy_write_struct(&Png, Info ? &Info : nullptr);
  }
};

void PngPaletteToLogPalette(const png_color* Entries, int Count, TMaxLogPalette& Palette) {
  std::memset(&Palette, 0, sizeof Palette);
  Palette.palVersion = 0x300;
  Count = std::clamp(Count, 0, 256); // the record holds 256
  Palette.palNumEntries = static_cast<uint16_t>(Count);
  for (int i = 0; i < Count; ++i)
    Palette.palPalEntry[i] = TPaletteEntry{Entries[i].red, Entries[i].green, Entries[i].blue, 0};
}

void LogPaletteToPngPalette(const TMaxLogPalette& Palette, png_color (&Buffer)[256]) {
  std::memset(Buffer, 0, sizeof Buffer);
  for (int i = 0; i < Palette.palNumEntries && i < 256; ++i)
    Buffer[i] = png_color{Palette.palPalEntry[i].peRed, Palette.palPalEntry[i].peGreen,
                          Palette.palPalEntry[i].peBlue};
}

uint16_t PngDpi(png_uint_32 PixelsPerMetre) {
  const double dpi = std::nearbyint(PixelsPerMetre * 0.0254);
  return dpi > 65535 ? 0 : static_cast<uint16_t>(dpi);
}

// Checks the signature of the PNG at the stream's position and reads its chunks up to
// the image data into S, with Ctx as libpng's error pointer.
void ReadPngInfo(TStream& Stream, TPngContext& Ctx, TReadStructs& S) {
  png_byte signature[8] = {};
  Stream.Read(signature, sizeof signature);
  if (png_sig_cmp(signature, 0, sizeof signature) != 0)
    RaisePngError("PNG file is not valid or corrupted");
  S.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &Ctx, PngErrorCallback, PngWarningCallback);
  if (!S.Png)
    RaisePngError("png_create_read_struct failed");
  S.Info = png_create_info_struct(S.Png);
  if (!S.Info)
    RaisePngError("png_create_info_struct failed");
  if (!PngProtected(S.Png, [&] {
        png_set_read_fn(S.Png, &Stream, PngReadCallback);
        png_set_sig_bytes(S.Png, 8);
        png_read_info(S.Png, S.Info);
      }))
    RaiseFailure(Ctx);
}

} // namespace

std::optional<TImageSize> TPngGraphic::ReadImageSize(TStream& Stream, int) {
  FWarnings.clear();
  TPngContext ctx;
  ctx.Warnings = &FWarnings;
  TReadStructs s;
  ReadPngInfo(Stream, ctx, s);
  return TImageSize{png_get_image_width(s.Png, s.Info), png_get_image_height(s.Png, s.Info)};
}

void TPngGraphic::LoadFrame(TStream& Stream, int) {
  FWarnings.clear();
  TPngContext ctx;
  ctx.Warnings = &FWarnings;
  TReadStructs s;
  ReadPngInfo(Stream, ctx, s);

  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(s.Png, s.Info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);

  TImageFormat format = ifTrueColor;
  bool twoBit = false;
  switch (depth) {
  case 1:
    if (colorType != PNG_COLOR_TYPE_GRAY && colorType != PNG_COLOR_TYPE_PALETTE)
      RaisePngError("Invalid color type for bit depth");
    format = ifBlackWhite;
    break;
  case 2:
  case 4:
    if (colorType == PNG_COLOR_TYPE_GRAY)
      format = ifGray16;
    else if (colorType == PNG_COLOR_TYPE_PALETTE)
      format = ifColor16;
    else
      RaisePngError("Invalid color type for bit depth");
    twoBit = depth == 2;
    break;
  case 8:
  case 16:
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
      format = ifGray256;
    else if (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_RGB_ALPHA)
      format = ifTrueColor;
    else if (colorType == PNG_COLOR_TYPE_PALETTE)
      format = ifColor256;
    else
      RaisePngError("Invalid color type for bit depth");
    break;
  default:
    RaisePngError("Invalid bit depth");
  }
  if (interlace != PNG_INTERLACE_NONE && interlace != PNG_INTERLACE_ADAM7)
    RaisePngError("Interlace type not valid");

  int passes = 1;
  uint16_t xdpi = 0, ydpi = 0;
  bool gotPalette = true;
  TMaxLogPalette palette{};
  std::size_t rowBytes = 0;
  if (!PngProtected(s.Png, [&] {
        if (depth == 16) {
          png_set_strip_16(s.Png);
          png_set_swap(s.Png);
        }
        if (format == ifTrueColor)
          png_set_bgr(s.Png);
        int intent = 0;
        if (png_get_sRGB(s.Png, s.Info, &intent)) {
          png_set_sRGB(s.Png, s.Info, intent); // no gamma correction
        } else if (depth > 2) {
          if (png_get_gAMA(s.Png, s.Info, &Gamma) && Gamma != 0) {
            png_set_gamma(s.Png, ScreenGamma, Gamma);
          } else {
            Gamma = 0.5;
            png_set_gamma(s.Png, ScreenGamma, 0.5);
          }
        }
        png_color_16 own{};
        own.red = ColorRed(BackgroundColor);
        own.green = ColorGreen(BackgroundColor);
        own.blue = ColorBlue(BackgroundColor);
        // Grey images composite against the grey field, in the output's bit depth.
        const int level = (own.red + own.green + own.blue) / 3;
        own.gray = static_cast<png_uint_16>(depth >= 8 ? level : level * ((1 << depth) - 1) / 255);
        png_color_16p file = nullptr;
        if (png_get_bKGD(s.Png, s.Info, &file) && file && !IgnoreFileBackground)
          png_set_background(s.Png, file, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
        else
          png_set_background(s.Png, &own, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
        png_uint_32 xppu = 0, yppu = 0;
        int unit = 0;
        if (png_get_pHYs(s.Png, s.Info, &xppu, &yppu, &unit) && unit == PNG_RESOLUTION_METER) {
          xdpi = PngDpi(xppu);
          ydpi = PngDpi(yppu);
        }
        if (interlace == PNG_INTERLACE_ADAM7)
          passes = png_set_interlace_handling(s.Png);
        png_read_update_info(s.Png, s.Info);
        if (colorType & PNG_COLOR_MASK_PALETTE) {
          png_colorp entries = nullptr;
          int count = 0;
          gotPalette = png_get_PLTE(s.Png, s.Info, &entries, &count) != 0 && entries;
          if (gotPalette)
            PngPaletteToLogPalette(entries, count, palette);
        }
        rowBytes = png_get_rowbytes(s.Png, s.Info);
      }))
    RaiseFailure(ctx);
  if (!gotPalette)
    RaisePngError("png_get_PLTE failed");

  NewImage(static_cast<int>(std::min<png_uint_32>(width, INT32_MAX)),
           static_cast<int>(std::min<png_uint_32>(height, INT32_MAX)), format,
           (colorType & PNG_COLOR_MASK_PALETTE) ? &palette : nullptr, xdpi, ydpi);

  if (!twoBit) {
    // libpng writes each row straight into the bitmap, so its row must fit there.
    if (rowBytes > RowSize())
      RaisePngError("PNG row is longer than the image row");
    const int h = GetHeight();
    if (!PngProtected(s.Png, [&] {
          for (int pass = 0; pass < passes; ++pass)
            for (int y = 0; y < h; ++y)
              png_read_row(s.Png, ScanLine(y), nullptr);
        }))
      RaiseFailure(ctx);
    return;
  }

  // 2-bit samples have no bitmap format: decode whole, then spread to 4 bits.
  if (rowBytes < (static_cast<std::size_t>(width) * 2 + 7) / 8)
    RaisePngError("PNG row is shorter than its pixels");
  std::vector<uint8_t> pixels(rowBytes * height);
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y)
    rows[y] = pixels.data() + y * rowBytes;
  if (!PngProtected(s.Png, [&] { png_read_image(s.Png, rows.data()); }))
    RaiseFailure(ctx);
  const int scale = format == ifGray16 ? 5 : 1; // grey levels 0..3 are ramp entries 0, 5, 10, 15
  for (int y = 0; y < GetHeight(); ++y)
    for (int x = 0; x < GetWidth(); ++x)
      SetPixelIndex(x, y, static_cast<uint8_t>(Get2BitSample(rows[y], x) * scale));
}

void TPngGraphic::SaveToStream(TStream& Stream) {
  FWarnings.clear();
  // An empty image has no converter for the background and transparency indices.
  if (GetEmpty())
    RaisePngError("Image is empty");
  const TImageFormat format = ImageFormat();
  const int colorType = PngColorType(format);
  const int depth = std::min(BitsPerPixel(format), 8);
  const bool grey = format <= ifGray256;
  if (SaveTransparency && grey)
    RaisePngError("Gray scale transparent PNG images are not supported.\r"
                  "Use the ifColor16 or ifColor256 image format instead.");

  TPngContext ctx;
  ctx.Warnings = &FWarnings;
  TWriteStructs s;
  s.Png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, PngErrorCallback, PngWarningCallback);
  if (!s.Png)
    RaisePngError("png_create_write_struct failed");
  s.Info = png_create_info_struct(s.Png);
  if (!s.Info)
    RaisePngError("png_create_info_struct failed");

  png_color plte[256];
  LogPaletteToPngPalette(ImagePalette(), plte);
  const int entries = ImagePalette().palNumEntries;
  png_color_16 background{};
  if (SaveBackground) {
    if (format == ifTrueColor) {
      background.red = ColorRed(BackgroundColor);
      background.green = ColorGreen(BackgroundColor);
      background.blue = ColorBlue(BackgroundColor);
    } else if (grey) {
      background.gray = Converter()->NearestIndex(BackgroundColor);
    } else {
      background.index = static_cast<png_byte>(Converter()->NearestIndex(BackgroundColor));
    }
  }
  png_byte alpha[256];
  std::memset(alpha, 255, sizeof alpha);
  png_color_16 transparent{};
  if (SaveTransparency) {
    if (format == ifTrueColor) {
      transparent.red = ColorRed(TransparentColor);
      transparent.green = ColorGreen(TransparentColor);
      transparent.blue = ColorBlue(TransparentColor);
    } else {
      const uint16_t index = Converter()->NearestIndex(TransparentColor);
      if (index < (format == ifColor16 ? 16 : 256))
        alpha[index] = 0;
    }
  }

  const int h = GetHeight();
  if (!PngProtected(s.Png, [&] {
        png_set_write_fn(s.Png, &Stream, PngWriteCallback, PngFlushCallback);
        png_set_IHDR(s.Png, s.Info, static_cast<png_uint_32>(GetWidth()),
                     static_cast<png_uint_32>(h), depth, colorType,
                     Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (colorType == PNG_COLOR_TYPE_PALETTE)
          png_set_PLTE(s.Png, s.Info, plte, entries);
        png_set_pHYs(s.Png, s.Info, static_cast<png_uint_32>(std::nearbyint(GetXDpi() / 0.0254)),
                     static_cast<png_uint_32>(std::nearbyint(GetYDpi() / 0.0254)),
                     PNG_RESOLUTION_METER);
        png_set_gAMA(s.Png, s.Info, Gamma);
        if (SaveBackground)
          png_set_bKGD(s.Png, s.Info, &background);
        if (SaveTransparency) {
          if (format == ifTrueColor)
            png_set_tRNS(s.Png, s.Info, nullptr, 1, &transparent);
          else // one alpha value per palette entry: libpng refuses more
            png_set_tRNS(s.Png, s.Info, alpha, entries, nullptr);
        }
        if (CompressionLevel <= 2)
          png_set_compression_level(s.Png, CompressionLevel == 0   ? 1
                                           : CompressionLevel == 1 ? 5
                                                                   : 9);
        png_write_info(s.Png, s.Info);
        if (format == ifTrueColor)
          png_set_bgr(s.Png);
        const int passes = Interlaced ? png_set_interlace_handling(s.Png) : 1;
        for (int pass = 0; pass < passes; ++pass)
          for (int y = 0; y < h; ++y)
            png_write_row(s.Png, ScanLine(y));
        png_write_end(s.Png, s.Info);
      }))
    RaiseFailure(ctx);
}

} // namespace gf
