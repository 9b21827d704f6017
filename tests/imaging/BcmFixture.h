// Whole reads and writes through the bitmap codec module, for tests built from bytes.
#pragma once

#include "Bcm.h"
#include "BcmMemoryFiles.h"
#include "ByteFixture.h"
#include "Pixels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

namespace gf::test {

constexpr uint8_t Untouched = 0xAA; // what buffers hold before a reader fills them

constexpr BcmPaletteEntry Unset{1, 2, 3};

struct TImage {
  BcmBitmap Bitmap;
  std::vector<BcmPaletteEntry> Palette = std::vector<BcmPaletteEntry>(256, Unset);
  std::vector<uint8_t> Data;

  uint64_t RowBytes() const { return BcmRowBytes(Bitmap.Width, Bitmap.BitsPerPixel); }
  // Row Y counted from the top, as the module stores rows bottom-up.
  uint8_t* Row(int Y) { return Data.data() + (Bitmap.Height - 1 - Y) * RowBytes(); }
  const uint8_t* Row(int Y) const { return Data.data() + (Bitmap.Height - 1 - Y) * RowBytes(); }
  int Index(int X, int Y) const {
    return static_cast<int>(GetIndexPixel(Row(Y), X, Bitmap.BitsPerPixel));
  }
  // 0xRRGGBB of the pixel at X, Y (Y from the top).
  uint32_t Rgb(int X, int Y) const {
    if (Bitmap.BitsPerPixel == 24)
      return GetPixel24(Row(Y), X);
    const BcmPaletteEntry& e = Palette[static_cast<std::size_t>(Index(X, Y))];
    return uint32_t(e.Red) << 16 | uint32_t(e.Green) << 8 | e.Blue;
  }
};

// A blank image of the given geometry, the palette a grey ramp.
inline TImage MakeImage(int32_t Width, int32_t Height, int32_t Bits, uint8_t Fill = 0) {
  TImage im;
  im.Bitmap.Width = Width;
  im.Bitmap.Height = Height;
  im.Bitmap.BitsPerPixel = Bits;
  im.Data.assign(BcmDataBytes(im.Bitmap), Fill);
  for (int i = 0; i < 256; ++i)
    im.Palette[static_cast<std::size_t>(i)] = {uint8_t(i), uint8_t(i), uint8_t(i)};
  return im;
}

// A picture whose pixels all differ from their neighbours, in any format.
inline TImage MakePattern(int32_t Width, int32_t Height, int32_t Bits) {
  TImage im = MakeImage(Width, Height, Bits);
  const int colours = Bits == 24 ? 256 : 1 << Bits;
  for (int i = 0; i < colours && Bits != 24; ++i)
    im.Palette[static_cast<std::size_t>(i)] = {uint8_t(i * 37), uint8_t(255 - i * 11),
                                               uint8_t(i * 101)};
  for (int y = 0; y < Height; ++y) {
    uint8_t* r = im.Row(y);
    for (int x = 0; x < Width; ++x) {
      const unsigned v = static_cast<unsigned>(x * 7 + y * 13 + (x * y) % 5);
      switch (Bits) {
      case 1:
        if (v & 1)
          r[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        break;
      case 4:
        r[x / 2] |= static_cast<uint8_t>((v & 15) << (x % 2 ? 0 : 4));
        break;
      case 8:
        r[x] = static_cast<uint8_t>(v);
        break;
      default:
        r[3 * x] = static_cast<uint8_t>(v);
        r[3 * x + 1] = static_cast<uint8_t>(v * 3 + 1);
        r[3 * x + 2] = static_cast<uint8_t>(255 - v);
      }
    }
  }
  return im;
}

struct TReadResult {
  int Header = -1, Palette = -1, Data = -1;
  TImage Image;
  int Rc() const { return Header ? Header : Palette ? Palette : Data; }
};

// Header, palette (for 1, 4 and 8 bits) and data of the open file Handle, stopping at
// the first error. Buffers start filled with Untouched, so what a reader leaves alone
// shows.
inline TReadResult ReadHandle(int Handle, int Format, const char* Options = "") {
  TReadResult r;
  r.Header = BcmReadHeader("test", Handle, Format, &r.Image.Bitmap, Options);
  if (r.Header == BcmOk) {
    std::fill(r.Image.Palette.begin(), r.Image.Palette.end(),
              BcmPaletteEntry{Untouched, Untouched, Untouched});
    r.Palette = r.Image.Bitmap.BitsPerPixel == 24
                    ? BcmOk
                    : BcmReadPalette(Handle, Format, &r.Image.Bitmap, r.Image.Palette.data());
    if (r.Palette == BcmOk) {
      r.Image.Data.assign(BcmDataBytes(r.Image.Bitmap), Untouched);
      r.Data = BcmReadData(Handle, Format, &r.Image.Bitmap, r.Image.Data.data());
    }
  }
  return r;
}

inline TReadResult ReadAll(TMemoryFiles& Files, const std::vector<uint8_t>& File, int Format,
                           const char* Options = "") {
  const int h = Files.Add(File);
  TReadResult r = ReadHandle(h, Format, Options);
  BcmIoClose(h);
  return r;
}

// The file Image makes in Format; Rc receives the writer's answer.
inline std::vector<uint8_t> WriteAll(TMemoryFiles& Files, const TImage& Image, int Format,
                                     const char* Options, int& Rc) {
  const int h = BcmIoCreate("test", 0);
  Rc = BcmWrite("test", h, Format, &Image.Bitmap, Image.Palette.data(), Image.Data.data(), Options);
  std::vector<uint8_t> bytes = Files.Bytes(h);
  BcmIoClose(h);
  return bytes;
}

// Every pixel's colour equal.
inline void ExpectSamePixels(const TImage& A, const TImage& B) {
  ASSERT_EQ(A.Bitmap.Width, B.Bitmap.Width);
  ASSERT_EQ(A.Bitmap.Height, B.Bitmap.Height);
  for (int y = 0; y < A.Bitmap.Height; ++y)
    for (int x = 0; x < A.Bitmap.Width; ++x)
      if (A.Rgb(x, y) != B.Rgb(x, y)) {
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << A.Rgb(x, y)
                      << " != " << B.Rgb(x, y);
        return;
      }
}

// Little-endian fields into a byte vector that grows as needed.
inline void Put(std::vector<uint8_t>& B, std::size_t At, uint32_t V, int Bytes) {
  PutGrowing(B, At, V, Bytes);
}
inline void Append(std::vector<uint8_t>& B, std::initializer_list<uint8_t> Bytes) {
  B.insert(B.end(), Bytes);
}

} // namespace gf::test
