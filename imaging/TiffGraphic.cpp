#include "TiffGraphic.h"

#include "Format.h"
#include "TiffBinding.h"
#include "Transforms.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>

namespace gf {

const TGraphicClass TTiffGraphic::Class = {
    "TTiffGraphic", [] { return std::unique_ptr<TGraphic>(new TTiffGraphic); }};

void RegisterTiffGraphic() {
  RegisterGraphicFormat("TIF", "TIFF file", TTiffGraphic::Class);
  RegisterGraphicFormat("TIFF", "TIFF file", TTiffGraphic::Class);
}

void RaiseTiffError(const std::string& Text) {
  throw ETiffError("ETiffError " + Text);
}

bool IsCcittCompression(int Code) {
  return Code == COMPRESSION_CCITTRLE || Code == COMPRESSION_CCITTFAX3 ||
         Code == COMPRESSION_CCITTFAX4 || Code == COMPRESSION_CCITTRLEW;
}

std::string CompressionName(TTiffCompression Compression) {
  static const char* const names[] = {
      "None", "Packbits", "CCITT Group 3, 1D", "CCITT Group 3, 2D", "CCITT Group 4",
      "ZLib", "JPEG"};
  return Compression <= tcJpeg ? names[Compression] : "";
}

int ColormapBits(int N, const uint16_t* Red, const uint16_t* Green, const uint16_t* Blue) {
  for (int i = 0; i < N; ++i)
    if (Red[i] >= 256 || Green[i] >= 256 || Blue[i] >= 256)
      return 16;
  return 8;
}

namespace {

[[noreturn]] void RaiseCompressionNotSupported(TImageFormat Format, TTiffCompression Compression) {
  throw EQuorvaneError(gf::Format("%s compression not supported with %s images",
                                  CompressionName(Compression), ImageFormatName(Format)));
}

bool CompressionAllowed(TImageFormat Format, TTiffCompression C) {
  switch (Format) {
  case ifBlackWhite:
    return C <= tcZLib;
  case ifGray16:
  case ifColor16:
  case ifColor256:
    return C == tcNone || C == tcPackbits || C == tcZLib;
  case ifGray256:
  case ifTrueColor:
    return C == tcNone || C == tcPackbits || C == tcZLib || C == tcJpeg;
  }
  return false;
}

uint16_t CompressionCode(TTiffCompression C) {
  static const uint16_t codes[] = {COMPRESSION_NONE,      COMPRESSION_PACKBITS,
                                   COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX3,
                                   COMPRESSION_CCITTFAX4, COMPRESSION_ADOBE_DEFLATE,
                                   COMPRESSION_JPEG};
  return codes[C];
}

// A resolution in dots per inch that fits 16 bits; anything else (NaN, infinite,
// negative, too large) is 0, so that the screen's is taken.
uint16_t ResolutionDpi(float Value, uint16_t Unit) {
  const double dpi = std::nearbyint(Unit == RESUNIT_INCH ? Value : Value * 2.54);
  return std::isfinite(dpi) && dpi >= 0 && dpi <= 65535 ? static_cast<uint16_t>(dpi) : 0;
}

// A required tag; raises "TIFFGetField: Tag = N" when it is missing.
template <typename... T> void GetRequired(TIFF* Tif, uint32_t Tag, T*... Values) {
  if (!TIFFGetField(Tif, Tag, Values...))
    RaiseTiffError(Format("TIFFGetField: Tag = %d", Tag));
}

// An optional tag: its default when missing.
template <typename T> T GetOptional(TIFF* Tif, uint32_t Tag, T Default) {
  T value{};
  return TIFFGetField(Tif, Tag, &value) ? value : Default;
}

template <typename T> void SetTag(TIFF* Tif, uint32_t Tag, T Value, const char* Entry) {
  if (!TIFFSetField(Tif, Tag, Value))
    RaiseTiffError(Format("%s: Tag = %d", Entry, Tag));
}

// A libtiff call failed: the stream's own error when a client procedure kept one,
// else libtiff's, named by the entry.
[[noreturn]] void RaiseFailed(TTiffHandle& Handle, const std::string& Entry) {
  Handle.Rethrow();
  RaiseTiffError(Entry);
}

// A colour sample of unassociated alpha A over black, rounded as libtiff's RGBA
// reader rounds it.
constexpr uint8_t OverBlack(unsigned Value, unsigned Alpha) {
  return static_cast<uint8_t>((Value * Alpha + 127) / 255);
}

// libtiff's RGBA reader takes these pages; the others are read row by row here.
bool ReadsAsRgba(uint16_t Compression, bool Tiled, uint16_t Photometric, uint16_t Bits,
                 uint16_t Planar) {
  return Compression == COMPRESSION_JPEG || Tiled || Photometric == PHOTOMETRIC_SEPARATED ||
         Photometric == PHOTOMETRIC_YCBCR || Bits > 8 || Planar > PLANARCONFIG_CONTIG;
}

// The tags whose values a load reads, itself or through libtiff's decoding. One of
// these whose value lies past the end fails the page: libtiff would drop it and decode
// the page without it, or patch it up from defaults. The values of all other tags
// (descriptions, dates, profiles, private blocks) may be cut off, as libtiff's own
// tools allow: libtiff drops them with a warning and the pixels are the same.
constexpr uint16_t DecodingTags[] = {
    // Size and sample layout, as the class and libtiff's strip and tile sizes read them.
    TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL,
    TIFFTAG_EXTRASAMPLES, TIFFTAG_SAMPLEFORMAT, TIFFTAG_PLANARCONFIG, TIFFTAG_ROWSPERSTRIP,
    TIFFTAG_TILEWIDTH, TIFFTAG_TILELENGTH, TIFFTAG_PHOTOMETRIC, TIFFTAG_ORIENTATION,
    TIFFTAG_FILLORDER,
    // Older and rarer forms of the same, which libtiff folds into the tags above or
    // refuses the directory over: a directory it gave up on is only half read.
    TIFFTAG_MATTEING, TIFFTAG_DATATYPE, TIFFTAG_IMAGEDEPTH, TIFFTAG_TILEDEPTH,
    TIFFTAG_MINSAMPLEVALUE, TIFFTAG_MAXSAMPLEVALUE, TIFFTAG_SMINSAMPLEVALUE,
    TIFFTAG_SMAXSAMPLEVALUE,
    // Where the data lies.
    TIFFTAG_STRIPOFFSETS, TIFFTAG_STRIPBYTECOUNTS, TIFFTAG_TILEOFFSETS, TIFFTAG_TILEBYTECOUNTS,
    // The codecs' own tags.
    TIFFTAG_COMPRESSION, TIFFTAG_T4OPTIONS, TIFFTAG_T6OPTIONS, TIFFTAG_PREDICTOR,
    TIFFTAG_JPEGTABLES,
    // Colour: the palette, and what the RGBA reader converts YCbCr, CIELab and CMYK by.
    TIFFTAG_COLORMAP, TIFFTAG_YCBCRSUBSAMPLING, TIFFTAG_YCBCRPOSITIONING, TIFFTAG_YCBCRCOEFFICIENTS,
    TIFFTAG_REFERENCEBLACKWHITE, TIFFTAG_WHITEPOINT, TIFFTAG_INKSET,
    // The resolution that the image keeps.
    TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION, TIFFTAG_RESOLUTIONUNIT};

// Hands libtiff's texts of one load or save to To whichever way it ends.
struct TKeepMessages {
  std::vector<std::string>& To;
  TTiffHandle& From;
  ~TKeepMessages() { To = From.TakeMessages(); }
};

} // namespace

// --- The class ---------------------------------------------------------------------

void TTiffGraphic::SetCompression(TTiffCompression Value) {
  if (Value > tcJpeg || !CompressionAllowed(ImageFormat(), Value))
    RaiseCompressionNotSupported(ImageFormat(), Value);
  FCompression = Value;
}

void TTiffGraphic::Assign(TPersistent* Source) {
  TDibGraphic::Assign(Source);
  if (auto* tiff = dynamic_cast<TTiffGraphic*>(Source))
    RowsPerStrip = tiff->RowsPerStrip;
}

void TTiffGraphic::NewImage(int Width, int Height, TImageFormat Format,
                            const TMaxLogPalette* Palette, uint16_t XDpi, uint16_t YDpi) {
  TDibGraphic::NewImage(Width, Height, Format, Palette, XDpi, YDpi);
  SetCompression(Format == ifBlackWhite ? tcGroup4 : tcPackbits);
}

void TTiffGraphic::LoadFrame(TStream& Stream, int Index) {
  ReadImage(Stream, Index);
}

int TTiffGraphic::GetImageCount(TStream& Stream) {
  FMessages.clear();
  auto handle = TTiffHandle::Open(Stream, TTiffHandle::ReadTagsMode);
  if (!handle)
    RaiseTiffError("TIFFOpen");
  const int count = TiffCountDirectories(handle->Tif());
  FMessages = handle->TakeMessages();
  handle->Rethrow();
  return count;
}

std::optional<TImageSize> TTiffGraphic::ReadImageSize(TStream& Stream, int Index) {
  FMessages.clear();
  const int64_t copy = TTiffHandle::CopyBytes(Stream);
  auto handle = TTiffHandle::Open(Stream, TTiffHandle::ReadTagsMode);
  if (!handle)
    RaiseTiffError("TIFFOpen");
  TIFF* tif = handle->Tif();
  const TKeepMessages keep{FMessages, *handle};
  TIFFSetDirectory(tif, static_cast<uint16_t>(Index - 1)); // as a load selects it
  uint32_t width = 0, height = 0;
  GetRequired(tif, TIFFTAG_IMAGEWIDTH, &width);
  GetRequired(tif, TIFFTAG_IMAGELENGTH, &height);
  const bool rgba =
      ReadsAsRgba(GetOptional<uint16_t>(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE),
                  TIFFIsTiled(tif), GetOptional<uint16_t>(tif, TIFFTAG_PHOTOMETRIC, 0),
                  GetOptional<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE, 1),
                  GetOptional<uint16_t>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG));
  handle->Rethrow();
  return TImageSize{width, height, copy + (rgba ? int64_t{4} * width * height : 0)};
}

void TTiffGraphic::SaveToStream(TStream& Stream) {
  if (Stream.GetPosition() == 0) {
    WriteImage(Stream, TTiffHandle::WriteMode);
    return;
  }
  // Built apart first, so that a failed save leaves the stream as it was.
  TMemoryStream temp;
  WriteImage(temp, TTiffHandle::WriteMode);
  temp.SetPosition(0);
  Stream.CopyFrom(temp, temp.GetSize());
}

void TTiffGraphic::AppendToStream(TStream& Stream) {
  if (Stream.GetSize() == 0) {
    SaveToStream(Stream);
    return;
  }
  Stream.SetPosition(0);
  WriteImage(Stream, TTiffHandle::AppendMode);
}

// --- Reading -----------------------------------------------------------------------

void TTiffGraphic::ReadImage(TStream& Stream, int Index) {
  FMessages.clear();
  auto handle = TTiffHandle::Open(Stream, TTiffHandle::ReadMode);
  if (!handle)
    RaiseTiffError("TIFFOpen");
  TIFF* tif = handle->Tif();
  const TKeepMessages keep{FMessages, *handle};

  TIFFSetDirectory(tif, static_cast<uint16_t>(Index - 1)); // unchecked, as callers rely on
  if (!handle->DirectoryWhole(DecodingTags))
    RaiseFailed(*handle, "TIFFReadDirectory");

  uint32_t width = 0, height = 0;
  GetRequired(tif, TIFFTAG_IMAGEWIDTH, &width);
  GetRequired(tif, TIFFTAG_IMAGELENGTH, &height);
  uint16_t photometric = GetOptional<uint16_t>(tif, TIFFTAG_PHOTOMETRIC, 0);
  uint16_t compression = 0;
  GetRequired(tif, TIFFTAG_COMPRESSION, &compression);
  const bool ccitt = IsCcittCompression(compression);
  uint16_t bits = 0;
  if (!TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits)) {
    if (!ccitt)
      RaiseTiffError(Format("TIFFGetField: Tag = %d", TIFFTAG_BITSPERSAMPLE));
    bits = 1;
  }
  uint16_t planar = 0;
  GetRequired(tif, TIFFTAG_PLANARCONFIG, &planar);
  const auto unit = GetOptional<uint16_t>(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  float xres = 0, yres = 0;
  const uint16_t xdpi =
      TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) ? ResolutionDpi(xres, unit) : 0;
  const uint16_t ydpi =
      TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) ? ResolutionDpi(yres, unit) : 0;

  if (compression == COMPRESSION_LZW)
    RaiseLzwNotSupported();

  // CCITT strips are read row by row; CCITT tiles, as all tiles, by the RGBA reader.
  const bool tiled = TIFFIsTiled(tif) != 0;
  const bool scanlines = ccitt && !tiled;
  const bool rgba = !scanlines && ReadsAsRgba(compression, tiled, photometric, bits, planar);
  // RGB of 1, 2 or 4 bits a sample has no bitmap row layout, and libtiff's RGBA reader
  // cannot read it: strips are unpacked here, anything else is refused.
  const auto samples = GetOptional<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  const bool packedRgb =
      photometric == PHOTOMETRIC_RGB && (bits == 1 || bits == 2 || bits == 4) && samples >= 3;
  if (packedRgb && rgba)
    RaiseTiffError(Format("Unsupported bit count: %d", bits * samples));

  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
    RaiseTiffError("Invalid image size");
  const tmsize_t scanline = TIFFScanlineSize(tif);
  if (scanline <= 0)
    RaiseTiffError("TIFFScanlineSize");
  // Both factors come from the file: kept in 64 bits, the product cannot overflow.
  const auto perPixel = static_cast<int64_t>(std::nearbyint(static_cast<double>(scanline) / width));
  const int bytesPerPixel = static_cast<int>(std::clamp<int64_t>(perPixel, 1, 1 << 16));
  const auto bitCount = static_cast<int>(std::min<int64_t>(int64_t{bits} * bytesPerPixel, 24));
  // The RGBA reader converts every layout it accepts and copies no rows, and the scan
  // line of subsampled YCbCr says nothing about the bits of a pixel: the test is for
  // the row copies only.
  if (!rgba && !packedRgb && bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24)
    RaiseTiffError(Format("Unsupported bit count: %d", bitCount));

  TImageFormat format = ifTrueColor;
  TMaxLogPalette palette{};
  const TMaxLogPalette* usePalette = nullptr;
  bool negate = false;
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  if (grey && (bits == 1 || bits == 4 || bits == 8)) {
    format = bits == 1 ? ifBlackWhite : bits == 4 ? ifGray16 : ifGray256;
    palette = DefaultPalette(format);
    usePalette = &palette;
    negate = photometric == PHOTOMETRIC_MINISWHITE;
  }
  if (photometric == PHOTOMETRIC_PALETTE) {
    format = bits <= 4 ? ifColor16 : ifColor256;
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
      RaiseTiffError(Format("TIFFGetField3: Tag = %d", TIFFTAG_COLORMAP));
    // libtiff holds 2^bits entries; the palette record holds 256.
    const int count = bits >= 8 ? 256 : 1 << bits;
    palette.palVersion = 0x300;
    palette.palNumEntries = static_cast<uint16_t>(count);
    const bool wide = ColormapBits(count, r, g, b) == 16;
    for (int i = 0; i < count; ++i)
      palette.palPalEntry[i] =
          wide ? TPaletteEntry{Scale16To8(r[i]), Scale16To8(g[i]), Scale16To8(b[i]), 0}
               : TPaletteEntry{static_cast<uint8_t>(r[i]), static_cast<uint8_t>(g[i]),
                               static_cast<uint8_t>(b[i]), 0};
    usePalette = &palette;
  }
  if (photometric == PHOTOMETRIC_MINISWHITE && compression == COMPRESSION_JPEG)
    negate = true;
  // libtiff's RGBA reader already turns min-is-white into min-is-black.
  if (rgba)
    negate = false;

  NewImage(static_cast<int>(width), static_cast<int>(height), format, usePalette, xdpi, ydpi);

  switch (compression) {
  case COMPRESSION_NONE:
    SetCompression(tcNone);
    break;
  case COMPRESSION_CCITTRLE:
  case COMPRESSION_CCITTRLEW:
    SetCompression(tcGroup3_1D);
    break;
  case COMPRESSION_CCITTFAX3: // T4Options may be missing: 1D
    SetCompression((GetOptional<uint32_t>(tif, TIFFTAG_T4OPTIONS, 0) & 1) ? tcGroup3_2D
                                                                          : tcGroup3_1D);
    break;
  case COMPRESSION_CCITTFAX4:
    SetCompression(tcGroup4);
    break;
  case COMPRESSION_ADOBE_DEFLATE:
  case COMPRESSION_DEFLATE: // the older Deflate code reads alike
    SetCompression(tcZLib);
    break;
  case COMPRESSION_PACKBITS:
    SetCompression(tcPackbits);
    break;
  case COMPRESSION_JPEG:
    SetCompression(tcJpeg);
    break;
  default:
    throw ETiffError(Format("Unsupported compression tag, %d", compression));
  }

  uint32_t fileRows = 0;
  const bool hasRows = TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &fileRows) != 0;
  // A missing count means one strip; 2^32 - 1 (the default) and anything above the
  // height too. Clamped, the strip loop always moves forward and ends.
  const auto rows = static_cast<int>(std::clamp<uint32_t>(hasRows ? fileRows : height, 1, height));
  RowsPerStrip = hasRows ? rows : 16;

  const int w = static_cast<int>(width), h = static_cast<int>(height);
  if (scanlines) {
    // A row copy never goes past the image row.
    if (static_cast<uint64_t>(scanline) > RowSize())
      RaiseTiffError("Scan line longer than the image row");
    std::vector<uint8_t> buffer(static_cast<std::size_t>(scanline));
    for (int y = 0; y < h; ++y) {
      if (TIFFReadScanline(tif, buffer.data(), static_cast<uint32_t>(y), 0) < 0)
        RaiseFailed(*handle, "TIFFReadScanline");
      std::memcpy(ScanLine(y), buffer.data(), buffer.size());
    }
  } else if (rgba) {
    // Not cleared first: libtiff fills every word or fails.
    auto raster =
        std::make_unique_for_overwrite<uint32_t[]>(static_cast<std::size_t>(width) * height);
    if (!TIFFReadRGBAImage(tif, width, height, raster.get(), 1))
      RaiseFailed(*handle, "TIFFReadRGBAImage");
    // The raster's first row is the image's bottom row.
    for (int y = 0; y < h; ++y) {
      const uint32_t* src = raster.get() + static_cast<std::size_t>(h - 1 - y) * width;
      if (format == ifTrueColor) {
        uint8_t* dst = ScanLine(y);
        for (int x = 0; x < w; ++x, dst += 3) {
          dst[0] = static_cast<uint8_t>(TIFFGetB(src[x]));
          dst[1] = static_cast<uint8_t>(TIFFGetG(src[x]));
          dst[2] = static_cast<uint8_t>(TIFFGetR(src[x]));
        }
      } else {
        for (int x = 0; x < w; ++x)
          SetPixelColor(x, y,
                        RGBToColor(static_cast<uint8_t>(TIFFGetR(src[x])),
                                   static_cast<uint8_t>(TIFFGetG(src[x])),
                                   static_cast<uint8_t>(TIFFGetB(src[x]))));
      }
    }
  } else {
    const bool pixels = bytesPerPixel == 3 || bytesPerPixel == 4;
    // Two-colour palettes become 16-colour images: each index bit a pixel of 4 bits.
    const bool unpack = format == ifColor16 && bits == 1;
    if (unpack && samples != 1)
      RaiseTiffError(Format("Unsupported bit count: %d", bits * samples));
    if (!pixels && !packedRgb && static_cast<uint64_t>(scanline) > RowSize())
      RaiseTiffError("Scan line longer than the image row");
    if (packedRgb && static_cast<uint64_t>(scanline) * 8 < uint64_t{width} * bits * samples)
      RaiseTiffError("Scan line shorter than its pixels");
    if (pixels && static_cast<uint64_t>(scanline) < static_cast<uint64_t>(width) * bytesPerPixel)
      RaiseTiffError("Scan line shorter than its pixels");
    // A fourth sample of unassociated alpha is multiplied in, as libtiff's RGBA reader
    // does for tiles; associated alpha is in the colour already.
    uint16_t extraCount = 0;
    const uint16_t* extra = nullptr;
    const bool multiply = bytesPerPixel == 4 && bits == 8 && samples == 4 &&
                          format == ifTrueColor &&
                          TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) &&
                          extraCount == 1 && extra && extra[0] == EXTRASAMPLE_UNASSALPHA;
    const tmsize_t stripSize = TIFFStripSize(tif);
    if (stripSize <= 0)
      RaiseTiffError("TIFFStripSize");
    std::vector<uint8_t> buffer(static_cast<std::size_t>(stripSize));
    for (int row = 0; row < h; row += rows) {
      const int n = std::min(rows, h - row);
      const tmsize_t want = static_cast<tmsize_t>(n) * scanline;
      if (want > stripSize)
        RaiseTiffError("TIFFReadEncodedStrip");
      const uint32_t strip = TIFFComputeStrip(tif, static_cast<uint32_t>(row), 0);
      if (TIFFReadEncodedStrip(tif, strip, buffer.data(), want) != want)
        RaiseFailed(*handle, "TIFFReadEncodedStrip");
      for (int i = 0; i < n; ++i) {
        const uint8_t* src =
            buffer.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(scanline);
        if (packedRgb) {
          const unsigned mask = (1u << bits) - 1;
          auto sample = [&](uint64_t At) {
            const uint64_t bit = At * bits;
            const unsigned v = (src[bit >> 3] >> (8 - bits - (bit & 7))) & mask;
            return static_cast<uint8_t>(v * 255 / mask);
          };
          uint8_t* dst = ScanLine(row + i);
          for (int x = 0; x < w; ++x, dst += 3) {
            const uint64_t first = uint64_t(x) * samples;
            dst[0] = sample(first + 2);
            dst[1] = sample(first + 1);
            dst[2] = sample(first);
          }
        } else if (unpack) {
          for (int x = 0; x < w; ++x)
            SetPixelIndex(x, row + i, static_cast<uint8_t>((src[x >> 3] >> (7 - (x & 7))) & 1));
        } else if (!pixels) {
          std::memcpy(ScanLine(row + i), src, static_cast<std::size_t>(scanline));
        } else if (multiply) {
          uint8_t* dst = ScanLine(row + i);
          for (int x = 0; x < w; ++x, dst += 3, src += 4) {
            dst[0] = OverBlack(src[2], src[3]);
            dst[1] = OverBlack(src[1], src[3]);
            dst[2] = OverBlack(src[0], src[3]);
          }
        } else if (format == ifTrueColor) {
          uint8_t* dst = ScanLine(row + i);
          for (int x = 0; x < w; ++x, dst += 3, src += bytesPerPixel) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
          }
        } else {
          for (int x = 0; x < w; ++x, src += bytesPerPixel)
            SetPixelColor(x, row + i, RGBToColor(src[0], src[1], src[2]));
        }
      }
    }
  }
  handle->Rethrow();

  if (negate)
    TNegativeTransform().Apply(*this);
}

// --- Writing -----------------------------------------------------------------------

void TTiffGraphic::WriteImage(TStream& Stream, int Mode) {
  FMessages.clear();
  if (GetEmpty())
    RaiseTiffError("Image is empty");
  // Refused before anything is written: libjpeg would fail on the first row, after
  // libtiff has begun the file.
  if (FCompression == tcJpeg && GetWidth() > TiffJpegMaxWidth)
    RaiseTiffError(Format("JPEG compression takes at most %d pixels a row", TiffJpegMaxWidth));
  auto handle = TTiffHandle::Open(Stream, static_cast<TTiffHandle::TMode>(Mode));
  if (!handle)
    RaiseTiffError("TIFFOpen");
  const TKeepMessages keep{FMessages, *handle};
  TIFF* tif = handle->Tif();
  const TImageFormat format = ImageFormat();

  const uint16_t code = CompressionCode(FCompression);
  if (FCompression == tcGroup3_1D || FCompression == tcGroup3_2D) {
    SetTag<int>(tif, TIFFTAG_COMPRESSION, code, "TIFFSetIntField");
    SetTag<int>(tif, TIFFTAG_T4OPTIONS, FCompression == tcGroup3_2D ? 1 : 0, "TIFFSetIntField");
  }
  const int32_t rows = FCompression == tcJpeg ? 8 : RowsPerStrip;
  if (rows > 0)
    SetTag<int>(tif, TIFFTAG_ROWSPERSTRIP, rows, "TIFFSetIntField");
  SetTag<int>(tif, TIFFTAG_COMPRESSION, code, "TIFFSetIntField");
  SetTag<int>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG, "TIFFSetIntField");
  SetTag<const char*>(tif, TIFFTAG_SOFTWARE, "Quorvane Image Library", "TIFFSetField");
  // The DateTime tag's form is fixed by TIFF, whatever the locale's separators.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string stamp =
      FormatDateWith("yyyy':'mm':'dd", local) + " " + FormatTimeWith("hh':'nn':'ss", local);
  SetTag<const char*>(tif, TIFFTAG_DATETIME, stamp.c_str(), "TIFFSetField");
  SetTag<int>(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH, "TIFFSetIntField");
  SetTag<double>(tif, TIFFTAG_XRESOLUTION, static_cast<float>(GetXDpi()), "TIFFSetFloatField");
  SetTag<double>(tif, TIFFTAG_YRESOLUTION, static_cast<float>(GetYDpi()), "TIFFSetFloatField");
  SetTag<uint32_t>(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(GetWidth()), "TIFFSetIntField");
  SetTag<uint32_t>(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(GetHeight()), "TIFFSetIntField");

  const bool ccitt =
      FCompression == tcGroup3_1D || FCompression == tcGroup3_2D || FCompression == tcGroup4;
  int bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  switch (format) {
  case ifBlackWhite:
    bits = 1;
    photometric = ccitt ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
    break;
  case ifGray16:
    bits = 4;
    break;
  case ifGray256:
    break;
  case ifColor16:
  case ifColor256:
    bits = format == ifColor16 ? 4 : 8;
    photometric = PHOTOMETRIC_PALETTE;
    break;
  case ifTrueColor:
    samples = 3;
    photometric = PHOTOMETRIC_RGB;
    break;
  }
  SetTag<int>(tif, TIFFTAG_BITSPERSAMPLE, bits, "TIFFSetIntField");
  SetTag<int>(tif, TIFFTAG_SAMPLESPERPIXEL, samples, "TIFFSetIntField");
  SetTag<int>(tif, TIFFTAG_PHOTOMETRIC, photometric, "TIFFSetIntField");
  if (photometric == PHOTOMETRIC_PALETTE) {
    // libtiff reads 2^bits entries, so that many are written (0 past the palette);
    // 8 bits become 16 by x 257, so 255 is 65535.
    std::vector<uint16_t> r(std::size_t{1} << bits), g(r.size()), b(r.size());
    TPaletteEntry entries[256] = {};
    const TPaletteObject* pal = GetPaletteHandle();
    const int n = pal ? pal->GetEntries(0, static_cast<int>(r.size()), entries) : 0;
    for (int i = 0; i < n; ++i) {
      r[static_cast<std::size_t>(i)] = static_cast<uint16_t>(entries[i].peRed * 257);
      g[static_cast<std::size_t>(i)] = static_cast<uint16_t>(entries[i].peGreen * 257);
      b[static_cast<std::size_t>(i)] = static_cast<uint16_t>(entries[i].peBlue * 257);
    }
    if (!TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data()))
      RaiseTiffError("TIFFSetColormap");
  }

  const bool copy = (format == ifBlackWhite && ccitt) || format == ifTrueColor;
  std::vector<uint8_t> row(copy ? RowSize() : 0);
  for (int y = 0; y < GetHeight(); ++y) {
    uint8_t* data = ScanLine(y);
    if (copy) {
      std::memcpy(row.data(), data, row.size());
      if (format == ifBlackWhite)
        for (auto& v : row)
          v = static_cast<uint8_t>(~v);
      else
        SwapRedBlue(row.data(), row.size());
      data = row.data();
    }
    if (TIFFWriteScanline(tif, data, static_cast<uint32_t>(y), 0) < 0)
      RaiseFailed(*handle, "TIFFWriteScanLine");
  }
  handle->Rethrow();
  if (!handle->Close())
    RaiseTiffError("TIFFFlush");
}

} // namespace gf
