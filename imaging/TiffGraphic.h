// Module QvTifGr.
// TTiffGraphic: TIFF images through libtiff. A load reads one image (directory) of
// the TIFF at the stream's position; a save writes a one-image TIFF; pages can be
// counted and appended. With LoadAllFrames the pages become frames.
//
// A page loads whole or not at all: one whose directory, or the value of a tag that
// decoding reads (the strip layout, samples, colour map, JPEG tables ...), lies past
// the end of the stream raises "TIFFReadDirectory". A value that decoding does not
// read (a description, a date, an ICC profile, XMP, private tags) may be cut off:
// libtiff drops it with a warning, and the page loads.
//
// Black-and-white and grey pages, CCITT ones among them, in strips or tiles, show
// their samples as the Photometric tag says (min-is-white is inverted).
//
// The image has no alpha: colour with an alpha sample is composited over black, from
// strips and tiles alike. Associated alpha stores just that; unassociated alpha is
// multiplied in, as libtiff's RGBA reader does.
#pragma once

#include "DibGraphic.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace gf {

class ETiffError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum TTiffCompression : uint8_t {
  tcNone = 0,
  tcPackbits = 1,
  tcGroup3_1D = 2,
  tcGroup3_2D = 3,
  tcGroup4 = 4,
  tcZLib = 5,
  tcJpeg = 6
};

// The widest image a JPEG-compressed save takes: libjpeg's limit. The height is free,
// as every strip of 8 rows is a JPEG picture of its own.
constexpr int TiffJpegMaxWidth = 65500;

// "None" ... "JPEG"; empty for any other value.
std::string CompressionName(TTiffCompression Compression);

class TTiffGraphic : public TDibGraphic {
public:
  static const TGraphicClass Class;
  const TGraphicClass& ClassType() const override { return Class; }

  void Assign(TPersistent* Source) override;
  void NewImage(int Width, int Height, TImageFormat Format, const TMaxLogPalette* Palette,
                uint16_t XDpi, uint16_t YDpi) override;
  // Reads page Index (1-based). The page index is not checked: a page that does not
  // exist leaves the first one selected.
  void LoadFrame(TStream& Stream, int Index) override;
  int GetImageCount(TStream& Stream) override;
  // From page Index's directory, read through the stream without copying it; raises
  // ETiffError where a load would fail to find its width and length. The work bytes
  // are the stream's copy that a load makes (TTiffHandle::CopyBytes) and libtiff's
  // RGBA raster for the pages it reads.
  std::optional<TImageSize> ReadImageSize(TStream& Stream, int Index) override;
  // Writes a one-image TIFF at the stream's position. A JPEG-compressed image wider
  // than TiffJpegMaxWidth is refused before anything is written.
  void SaveToStream(TStream& Stream) override;
  // Adds the image as a further page of the TIFF that begins the stream.
  void AppendToStream(TStream& Stream) override;

  TTiffCompression GetCompression() const { return FCompression; }
  // Refuses a compression the image format cannot have ("%s compression not
  // supported with %s images").
  void SetCompression(TTiffCompression Value);
  int32_t RowsPerStrip = 16;

  // libtiff's error and warning texts of the last operation.
  const std::vector<std::string>& Messages() const { return FMessages; }

private:
  void ReadImage(TStream& Stream, int Index);
  void WriteImage(TStream& Stream, int Mode);
  TTiffCompression FCompression = tcNone;
  std::vector<std::string> FMessages;
};

// Registers "TIF" and "TIFF" with the picture registry.
void RegisterTiffGraphic();

[[noreturn]] void RaiseTiffError(const std::string& Text);
bool IsCcittCompression(int Code);
// 16 when any of the first N entries of a colour map is 256 or more, else 8.
int ColormapBits(int N, const uint16_t* Red, const uint16_t* Green, const uint16_t* Blue);
constexpr uint8_t Scale16To8(uint32_t V) {
  return static_cast<uint8_t>(V * 255 / 65535);
}

} // namespace gf
