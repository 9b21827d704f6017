#include "JpegGraphic.h"

#include "JpegBinding.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace gf {

namespace {

// JFIF densities in dots per inch: unit 1 as they stand, unit 2 (dots per
// centimetre) times 2.54 rounded; anything else, and anything above 65535 dpi, 0.
uint16_t DensityToDpi(uint8_t Unit, uint16_t Density) {
  if (Unit == 1)
    return Density;
  if (Unit != 2)
    return 0;
  const double dpi = std::nearbyint(Density * 2.54);
  return dpi > 65535 ? 0 : static_cast<uint16_t>(dpi);
}

} // namespace

const TGraphicClass TJpegGraphic::Class = {
    "TJpegGraphic", [] { return std::unique_ptr<TGraphic>(new TJpegGraphic); }};

void TJpegGraphic::LoadFrame(TStream& Stream, int) {
  FWarnings = 0;
  TJpegDecompressor d;
  struct TCount { // the warnings reach the image however the load ends
    TJpegGraphic& Image;
    TJpegDecompressor& D;
    ~TCount() { Image.FWarnings = D.Warnings(); }
  } count{*this, d};

  JpegStreamSource(d.Codec(), Stream);
  JpegReadHeader(d.Codec(), true);
  TJpegInfo info;
  JpegGetDecompressInfo(d.Codec(), info);
  JpegSetOutColorSpace(d.Codec(), info.ColorSpace == JpegGrayscale ? JpegGrayscale : JpegRgb);
  // The picture's size is known now: one the bitmap could not hold is refused before
  // libjpeg allocates for it.
  const int64_t components = info.ColorSpace == JpegGrayscale ? 1 : 3;
  const uint32_t width = d.Codec()->image_width, height = d.Codec()->image_height;
  if (height == 0 || RowBytes(width, 8 * components) > MaxDibBytes / height)
    throw EQuorvaneError("CreateDibSection failed");

  JpegStartDecompress(d.Codec());
  JpegGetDecompressInfo(d.Codec(), info);
  TImageFormat format;
  if (info.Components == 1)
    format = ifGray256;
  else if (info.Components == 3)
    format = ifTrueColor;
  else
    throw EJpegError("Invalid number of samples, " + std::to_string(info.Components));

  NewImage(static_cast<int>(info.Width), static_cast<int>(info.Height), format, nullptr,
           DensityToDpi(info.DensityUnit, info.XDensity),
           DensityToDpi(info.DensityUnit, info.YDensity));
  for (uint32_t y = 0; y < info.Height; ++y) {
    uint8_t* row = ScanLine(static_cast<int>(y));
    if (JpegReadScanlines(d.Codec(), &row, 1) != 1)
      break; // our source never suspends; nothing more would come
    if (format == ifTrueColor)
      SwapRedBlue(row, std::size_t{info.Width} * 3);
  }
  JpegFinishDecompress(d.Codec());
}

void TJpegGraphic::SaveToStream(TStream& Stream) {
  int components, colorSpace;
  if (ImageFormat() == ifGray256) {
    components = 1;
    colorSpace = JpegGrayscale;
  } else if (ImageFormat() == ifTrueColor) {
    components = 3;
    colorSpace = JpegRgb;
  } else {
    throw EJpegError("JPEG image must be gray scale or true color");
  }
  FWarnings = 0;
  const uint32_t width = static_cast<uint32_t>(GetWidth());
  const uint32_t height = static_cast<uint32_t>(GetHeight());
  std::vector<uint8_t> buffer(std::size_t{width} * static_cast<std::size_t>(components));
  TJpegCompressor c;
  struct TCount {
    TJpegGraphic& Image;
    TJpegCompressor& C;
    ~TCount() { Image.FWarnings = C.Warnings(); }
  } count{*this, c};

  JpegStreamDest(c.Codec(), Stream);
  JpegSetCompressParams(c.Codec(), width, height, components, 1, GetXDpi(), GetYDpi(), colorSpace,
                        Quality, Progressive, Optimize);
  JpegStartCompress(c.Codec(), true);
  for (uint32_t y = 0; y < height; ++y) {
    std::memcpy(buffer.data(), ScanLine(static_cast<int>(y)), buffer.size());
    if (components == 3)
      SwapRedBlue(buffer.data(), buffer.size());
    uint8_t* row = buffer.data();
    JpegWriteScanlines(c.Codec(), &row, 1);
  }
  JpegFinishCompress(c.Codec());
}

void RegisterJpegGraphic() {
  RegisterGraphicFormat("JPG", "JPEG", TJpegGraphic::Class);
  RegisterGraphicFormat("JPEG", "JPEG", TJpegGraphic::Class);
}

} // namespace gf
