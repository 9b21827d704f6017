// libpng is reached through its binding (PngBinding), which turns libpng's errors and
// the stream's into exceptions once libpng's frames are left.
#include "PngGraphic.h"

#include "PngBinding.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
// the image data, through R, which reads the same stream.
void ReadPngInfo(TStream& Stream, TPngReader& R) {
  png_byte signature[8] = {};
  Stream.ReadFully(signature, sizeof signature);
  if (png_sig_cmp(signature, 0, sizeof signature) != 0)
    RaisePngError("PNG file is not valid or corrupted");
  R.SetSigBytes(8);
  R.ReadInfo();
}

} // namespace

std::optional<TImageSize> TPngGraphic::ReadImageSize(TStream& Stream, int) {
  FWarnings.clear();
  TPngReader r(Stream, FWarnings);
  ReadPngInfo(Stream, r);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  r.GetIHDR(width, height, depth, colorType, interlace);
  return TImageSize{width, height};
}

void TPngGraphic::LoadFrame(TStream& Stream, int) {
  FWarnings.clear();
  TPngReader r(Stream, FWarnings);
  ReadPngInfo(Stream, r);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  r.GetIHDR(width, height, depth, colorType, interlace);

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

  if (depth == 16) {
    r.SetStrip16();
    r.SetSwap();
  }
  if (format == ifTrueColor)
    r.SetBgr();
  int intent = 0;
  if (r.GetSRGB(intent)) {
    r.SetSRGB(intent); // no gamma correction
  } else if (depth > 2) {
    if (r.GetGAMA(Gamma) && Gamma != 0) {
      r.SetGamma(ScreenGamma, Gamma);
    } else {
      Gamma = 0.5;
      r.SetGamma(ScreenGamma, 0.5);
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
  if (r.GetBKGD(file) && !IgnoreFileBackground)
    r.SetBackground(file, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
  else
    r.SetBackground(&own, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
  uint16_t xdpi = 0, ydpi = 0;
  png_uint_32 xppu = 0, yppu = 0;
  int unit = 0;
  if (r.GetPHYs(xppu, yppu, unit) && unit == PNG_RESOLUTION_METER) {
    xdpi = PngDpi(xppu);
    ydpi = PngDpi(yppu);
  }
  const int passes = interlace == PNG_INTERLACE_ADAM7 ? r.SetInterlaceHandling() : 1;
  r.ReadUpdateInfo();
  TMaxLogPalette palette{};
  if (colorType & PNG_COLOR_MASK_PALETTE) {
    png_colorp entries = nullptr;
    int count = 0;
    if (!r.GetPLTE(entries, count))
      RaisePngError("png_get_PLTE failed");
    PngPaletteToLogPalette(entries, count, palette);
  }
  const std::size_t rowBytes = r.GetRowbytes();

  NewImage(static_cast<int>(std::min<png_uint_32>(width, INT32_MAX)),
           static_cast<int>(std::min<png_uint_32>(height, INT32_MAX)), format,
           (colorType & PNG_COLOR_MASK_PALETTE) ? &palette : nullptr, xdpi, ydpi);

  if (!twoBit) {
    // libpng writes each row straight into the bitmap, so its row must fit there.
    if (rowBytes > RowSize())
      RaisePngError("PNG row is longer than the image row");
    const int h = GetHeight();
    for (int pass = 0; pass < passes; ++pass)
      for (int y = 0; y < h; ++y)
        r.ReadRow(ScanLine(y));
    return;
  }

  // 2-bit samples have no bitmap format: decode whole, then spread to 4 bits.
  if (rowBytes < (static_cast<std::size_t>(width) * 2 + 7) / 8)
    RaisePngError("PNG row is shorter than its pixels");
  std::vector<uint8_t> pixels(rowBytes * height);
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y)
    rows[y] = pixels.data() + y * rowBytes;
  r.ReadImage(rows.data());
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

  TPngWriter w(Stream, FWarnings);

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
  w.SetIHDR(static_cast<png_uint_32>(GetWidth()), static_cast<png_uint_32>(h), depth, colorType,
            Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE);
  if (colorType == PNG_COLOR_TYPE_PALETTE)
    w.SetPLTE(plte, entries);
  w.SetPHYs(static_cast<png_uint_32>(std::nearbyint(GetXDpi() / 0.0254)),
            static_cast<png_uint_32>(std::nearbyint(GetYDpi() / 0.0254)), PNG_RESOLUTION_METER);
  w.SetGAMA(Gamma);
  if (SaveBackground)
    w.SetBKGD(&background);
  if (SaveTransparency) {
    if (format == ifTrueColor)
      w.SetTRNS(nullptr, 1, &transparent);
    else // one alpha value per palette entry: libpng refuses more
      w.SetTRNS(alpha, entries, nullptr);
  }
  if (CompressionLevel <= 2)
    w.SetCompressionLevel(CompressionLevel == 0 ? 1 : CompressionLevel == 1 ? 5 : 9);
  w.WriteInfo();
  if (format == ifTrueColor)
    w.SetBgr();
  const int passes = Interlaced ? w.SetInterlaceHandling() : 1;
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < h; ++y)
      w.WriteRow(ScanLine(y));
  w.WriteEnd();
}

} // namespace gf
