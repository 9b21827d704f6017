// Module QvJpgGr.
// TJpegGraphic: JPEG images through libjpeg. A load decodes the JPEG at the stream's
// position into a 256-grey or true-colour bitmap; a save writes a 256-grey or
// true-colour bitmap as a baseline or progressive JPEG at the stream's position.
#pragma once

#include "DibGraphic.h"

#include <stdexcept>

namespace gf {

class EJpegError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TJpegGraphic : public TDibGraphic {
public:
  static const TGraphicClass Class;
  const TGraphicClass& ClassType() const override { return Class; }

  // Decodes the JPEG that starts at the stream's position; Index is not used. The
  // stream is left after the last 4096-byte block read, which may lie past the
  // JPEG's end. Data that ends early loads with what was decoded (a counted warning).
  // libjpeg's failures raise EJpegError with its message, the stream's its own
  // exceptions.
  void LoadFrame(TStream& Stream, int Index) override;
  // Raises EJpegError for images that are neither 256 grey nor true colour.
  void SaveToStream(TStream& Stream) override;

  // Only saving reads these.
  uint8_t Quality = 80; // 0..100, libjpeg's quality scaling
  bool Progressive = false;
  bool Optimize = false; // optimal Huffman tables

  // libjpeg's warnings during the last load or save; they never stop either.
  long WarningCount() const { return FWarnings; }

private:
  long FWarnings = 0;
};

// Registers "JPG" and "JPEG" with the picture registry.
void RegisterJpegGraphic();

} // namespace gf
