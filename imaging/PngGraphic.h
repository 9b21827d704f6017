// Module QvPngGr.
// TPngGraphic: PNG images through libpng. A load decodes the PNG at the stream's
// position into the bitmap (transparency composited against a background); a save
// writes the bitmap as a PNG at the stream's position.
#pragma once

#include "DibGraphic.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace gf {

class EPNGError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TPngGraphic : public TDibGraphic {
public:
  static const TGraphicClass Class;
  const TGraphicClass& ClassType() const override { return Class; }

  // Decodes the PNG that starts at the stream's position; Index is not used.
  void LoadFrame(TStream& Stream, int Index) override;
  // From the header of the PNG at the stream's position; Index is not used.
  std::optional<TImageSize> ReadImageSize(TStream& Stream, int Index) override;
  void SaveToStream(TStream& Stream) override;

  double Gamma = 0.5;         // file gamma: the file's gAMA after a load, 0.5 without one
  TColor BackgroundColor = 0; // what transparency is composited against
  TColor TransparentColor = 0;
  bool IgnoreFileBackground = false; // composite against BackgroundColor even with bKGD
  uint8_t CompressionLevel = 1;      // 0, 1, 2: zlib levels 1, 5, 9; others: libpng's
  bool Interlaced = true;
  bool SaveBackground = false;
  bool SaveTransparency = false;

  // libpng's warnings during the last load or save; they never stop either.
  const std::vector<std::string>& Warnings() const { return FWarnings; }

private:
  std::vector<std::string> FWarnings;
};

// Registers "PNG" with the picture registry.
void RegisterPngGraphic();

[[noreturn]] void RaisePngError(const std::string& Text);
// 0 (grey) for the grey formats and black and white, 3 (palette) for the colour
// formats, 2 (RGB) for true colour; "Internal error: Invalid image format" otherwise.
int PngColorType(TImageFormat Format);
// Sample X of a row of 2-bit samples (leftmost in the high bits).
constexpr uint8_t Get2BitSample(const uint8_t* Row, int X) {
  return static_cast<uint8_t>((Row[X >> 2] >> (6 - 2 * (X & 3))) & 3);
}

} // namespace gf
