// Small helpers the image class tests share: a failure as its text, streams from and
// to bytes, a test pattern, and an image's pixels as bytes.
#pragma once

#include "DibGraphic.h"
#include "Streams.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace gf::test {

// The message of what F throws, or "(no error)".
template <typename F> std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

// A memory stream holding Bytes, positioned at its start.
inline std::unique_ptr<TMemoryStream> StreamOf(const std::vector<uint8_t>& Bytes) {
  auto s = std::make_unique<TMemoryStream>();
  if (!Bytes.empty())
    s->WriteBuffer(Bytes.data(), Bytes.size());
  s->SetPosition(0);
  return s;
}

inline std::vector<uint8_t> BytesOf(TMemoryStream& S) {
  return std::vector<uint8_t>(S.Memory(), S.Memory() + S.GetSize());
}

// A pattern in every pixel: colours in true colour, else every index the format (or
// the palette, in the colour formats) has.
inline void FillPattern(TDibGraphic& G) {
  const bool colour = G.ImageFormat() == ifColor16 || G.ImageFormat() == ifColor256;
  const int levels = colour ? G.ImagePalette().palNumEntries : 1 << BitsPerPixel(G.ImageFormat());
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) {
      if (G.ImageFormat() == ifTrueColor)
        G.SetPixelColor(x, y,
                        RGBToColor(static_cast<uint8_t>(x * 20), static_cast<uint8_t>(y * 30),
                                   static_cast<uint8_t>(x * y)));
      else
        G.SetPixelIndex(x, y, static_cast<uint8_t>((x + 3 * y) % levels));
    }
}

// The pixels of a true-colour or 8-bit image, rows from the top, as RGB or grey bytes.
inline std::vector<uint8_t> PixelsOf(TDibGraphic& G) {
  std::vector<uint8_t> out;
  for (int y = 0; y < G.GetHeight(); ++y) {
    const uint8_t* row = G.ScanLine(y);
    for (int x = 0; x < G.GetWidth(); ++x)
      if (G.ImageFormat() == ifTrueColor)
        out.insert(out.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
      else
        out.push_back(row[x]);
  }
  return out;
}

} // namespace gf::test
