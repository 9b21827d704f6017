// The thumbnail maker: turns a recovered file's bytes into a small picture. JPEG and
// BMP are decoded by Qt at the reduced size, PNG and TIFF by the image library (its
// classes registered for "PNG" and "TIF"); the other types get fixed pictures, and a
// file that cannot be decoded the "broken" one. Any thread may make thumbnails, several
// at once: everything here works on QImage only, never on pixmaps or widgets.
#pragma once

#include <QtCore/QSize>
#include <QtGui/QImage>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace gf {

class TStream;

// Carved bytes may declare any size: a picture of more pixels than this is refused
// before anything is decoded (a 100-megapixel photo still passes).
constexpr int64_t MaxThumbnailPixels = 100'000'000;

// The memory that decodes running at the same time share. A decode takes its share
// once it knows the picture's size, before it allocates the pixels, and waits while the
// others hold too much; a decode that finds the memory unused goes ahead whatever it
// needs, so that no picture waits for ever.
class TThumbMemory {
public:
  explicit TThumbMemory(int64_t Limit) : FLimit(Limit) {}
  // Waits until Bytes fit; false when Cancel came first.
  bool Take(int64_t Bytes);
  void Give(int64_t Bytes);
  // Wakes every waiting decode to give up; Take refuses from now on.
  void Cancel();
  int64_t Limit() const { return FLimit; }
  int64_t InUse() const;
  int64_t Peak() const; // the most that was in use at once

private:
  const int64_t FLimit;
  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  int64_t FInUse = 0;
  int64_t FPeak = 0;
  bool FCancelled = false;
};

// What one decode holds of a TThumbMemory (none when it has none), given back when
// the decode ends.
class TThumbShare {
public:
  explicit TThumbShare(TThumbMemory* Memory) : FMemory(Memory) {}
  ~TThumbShare();
  TThumbShare(const TThumbShare&) = delete;
  TThumbShare& operator=(const TThumbShare&) = delete;
  // Takes Bytes more, waiting for room; raises EThumbAbandoned when the memory has
  // been cancelled.
  void Reserve(int64_t Bytes);

private:
  TThumbMemory* FMemory;
  int64_t FHeld = 0;
};

// A decode given up because its memory was cancelled (the window is closing).
class EThumbAbandoned : public std::exception {
public:
  const char* what() const noexcept override { return "Thumbnail abandoned"; }
};

// Decodes the picture in Stream (read from its position 0). Box is the size that the
// thumbnail will have: a decoder may return a smaller picture of at least that size
// instead of the whole. FullSize receives the picture's own size, which decides the
// fit. Before it allocates the picture's pixels the decoder reserves what it will
// hold from Share. Raises std::exception with a plain message when the bytes do not
// decode.
using TThumbDecoder = QImage (*)(TStream& Stream, QSize Box, QSize& FullSize, TThumbShare& Share);

struct TThumbnailFormat {
  const char* Ext; // upper case, no dot
  TThumbDecoder GraphicClass;
};

// The table of types whose content is shown; the first exact match wins.
extern const TThumbnailFormat ThumbnailFormats[4];

// The row for a file's extension, or null when the type gets a fixed picture.
const TThumbnailFormat* FindThumbnailFormat(const std::string& FileName);

// Where a picture of SourceWidth x SourceHeight is drawn in a box of BoxWidth x
// BoxHeight: centred, keeping its proportions. The fit is w x h (the box's width or
// height on the longer side), and the rectangle is Left, Top, Left + w - 1, Top + h - 1
// with Right and Bottom exclusive, as the platform's stretch drawing takes it: the
// picture covers Width() x Height() pixels, (w - 1) x (h - 1). Every caller reads it so.
struct TThumbRect {
  int Left, Top, Right, Bottom;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TThumbRect&) const = default;
};
TThumbRect ThumbnailRect(int SourceWidth, int SourceHeight, int BoxWidth, int BoxHeight);

// A Width x Height picture of the file whose bytes are in Stream, named FileName (its
// extension picks the decoder); nothing when not even the fixed pictures load, or when
// Memory was cancelled while the decode waited for its share.
std::optional<QImage> MakeThumbnail(TStream& Stream, const std::string& FileName, int Height,
                                    int Width, TThumbMemory* Memory = nullptr);

// The "broken" picture at that size, for a file that could not even be read.
std::optional<QImage> BrokenThumbnail(int Height, int Width);

} // namespace gf
