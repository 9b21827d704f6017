#include "Transforms.h"

#include "Format.h"

#include <cstring>
#include <vector>

namespace gf {

void TImageTransform::Apply(TDibGraphic& Image) {
  TDibGraphic temp;
  ApplyOnDest(Image, temp);
  Image.Assign(&temp);
}

void TImageTransform::ApplyOnDest(TDibGraphic&, TDibGraphic&) {
  throw EQuorvaneError(
      Format("Method %s not implemented for %s class", "\"ApplyOnDest\"", ClassName()));
}

void TNegativeTransform::ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) {
  Dest.Assign(&Source);
  Apply(Dest);
}

// Every pixel keeps its index; the palette's colours are inverted.
static void InvertPalette(TDibGraphic& Image) {
  std::vector<uint8_t> pixels(Image.Bits(), Image.Bits() + Image.ImageSize());
  TMaxLogPalette palette{};
  palette.palVersion = 0x300;
  palette.palNumEntries = Image.ImagePalette().palNumEntries;
  for (int i = 0; i < palette.palNumEntries && i < 256; ++i) {
    const TPaletteEntry& e = Image.ImagePalette().palPalEntry[i];
    palette.palPalEntry[i] =
        TPaletteEntry{static_cast<uint8_t>(255 - e.peRed), static_cast<uint8_t>(255 - e.peGreen),
                      static_cast<uint8_t>(255 - e.peBlue), 0};
  }
  Image.NewImage(Image.GetWidth(), Image.GetHeight(), Image.ImageFormat(), &palette,
                 Image.GetXDpi(), Image.GetYDpi());
  std::memcpy(Image.Bits(), pixels.data(), std::min(pixels.size(), Image.ImageSize()));
}

void TNegativeTransform::Apply(TDibGraphic& Image) {
  LastPercent = 255;
  Report(0, 0, 100);
  const int height = Image.GetHeight();
  switch (Image.ImageFormat()) {
  case ifBlackWhite:
  case ifGray16:
  case ifGray256:
    // Inverting every bit inverts a 1-bit pixel, turns a 4-bit value v into 15 - v
    // and a byte v into 255 - v; the grey palettes are ramps, so that is the negative.
    // The fill bytes at the row's end are inverted too.
    for (int y = 0; y < height; ++y) {
      Report(y, 0, height - 1);
      uint8_t* row = Image.ScanLine(y);
      for (uint32_t i = 0; i < Image.RowSize(); ++i)
        row[i] = static_cast<uint8_t>(~row[i]);
    }
    break;
  case ifColor16:
  case ifColor256:
    if (!Image.GetEmpty())
      InvertPalette(Image);
    break;
  case ifTrueColor:
    // 255 - v for each of the three bytes of every pixel; the fill bytes stay.
    for (int y = 0; y < height; ++y) {
      Report(y, 0, height - 1);
      uint8_t* row = Image.ScanLine(y);
      const std::size_t n = 3 * static_cast<std::size_t>(Image.GetWidth());
      for (std::size_t i = 0; i < n; ++i)
        row[i] = static_cast<uint8_t>(255 - row[i]);
    }
    break;
  }
  Report(100, 0, 100);
}

} // namespace gf
