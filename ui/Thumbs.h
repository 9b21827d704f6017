// The thumbnail maker: turns a recovered file's bytes into a small picture. JPEG and
// BMP are decoded by Qt at the reduced size, PNG and TIFF by the image library (its
// classes registered for "PNG" and "TIF"); the other types get fixed pictures, and a
// file that cannot be decoded the "broken" one.
#pragma once

#include <QtCore/QSize>
#include <QtGui/QImage>

#include <cstdint>
#include <optional>
#include <string>

namespace gf {

class TStream;

// Carved bytes may declare any size: a picture of more pixels than this is refused
// before anything is decoded (a 100-megapixel photo still passes).
constexpr int64_t MaxThumbnailPixels = 100'000'000;

// Decodes the picture in Stream (read from its position 0). Box is the size that the
// thumbnail will have: a decoder may return a smaller picture of at least that size
// instead of the whole. FullSize receives the picture's own size, which decides the
// fit. Raises std::exception with a plain message when the bytes do not decode.
using TThumbDecoder = QImage (*)(TStream& Stream, QSize Box, QSize& FullSize);

struct TThumbnailFormat {
  const char* Ext; // upper case, no dot
  TThumbDecoder GraphicClass;
};

// The table of types whose content is shown; the first exact match wins.
extern const TThumbnailFormat ThumbnailFormats[4];

// The row for a file's extension, or null when the type gets a fixed picture.
const TThumbnailFormat* FindThumbnailFormat(const std::string& FileName);

// Where a picture of SourceWidth x SourceHeight is drawn in a box of BoxWidth x
// BoxHeight: centred, keeping its proportions. Right and Bottom are exclusive.
struct TThumbRect {
  int Left, Top, Right, Bottom;
  bool operator==(const TThumbRect&) const = default;
};
TThumbRect ThumbnailRect(int SourceWidth, int SourceHeight, int BoxWidth, int BoxHeight);

// A Width x Height picture of the file whose bytes are in Stream, named FileName (its
// extension picks the decoder); nothing when not even the fixed pictures load.
std::optional<QImage> MakeThumbnail(TStream& Stream, const std::string& FileName, int Height,
                                    int Width);

// The "broken" picture at that size, for a file that could not even be read.
std::optional<QImage> BrokenThumbnail(int Height, int Width);

// Registers the image library's classes with the picture registry, as the program does
// at start-up: JPEG, PNG and TIFF by extension, and the DIB class for the clipboard's
// bitmap format.
void RegisterImageClasses();

} // namespace gf
