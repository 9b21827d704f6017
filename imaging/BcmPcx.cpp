// PCX: run-length encoded plane lines after a 128-byte header; 256-colour palettes in
// a 769-byte trailer. All numbers little-endian.
#include "BcmCodec.h"
#include "Pixels.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace gf::bcm {

namespace {

constexpr uint32_t HeaderBytes = 128;
constexpr uint32_t HeaderRead = 70;
constexpr uint32_t TrailerBytes = 769; // the byte 12, then 256 entries of red, green, blue
constexpr uint8_t TrailerMark = 12;

int Query(BcmFormatDesc* Desc) {
  *Desc = {"PCX", "ZSoft PC Paintbrush Image format", "PCX PCC", 0xFF};
  return BcmOk;
}

const char* ErrorText(int Code) {
  switch (Code) {
  case BcmErrPcxVersion:
    return "version number not 4 or 5";
  case BcmErrPcxEncoding:
    return "encoding mode not 1";
  case BcmErrPcxLayout:
    return "unsupported bpp/plane / plane combination";
  case BcmErrPcxTrailer:
    return "corrupt file trailer";
  default:
    return nullptr;
  }
}

// Every version ever written (2.5, 2.8 with and without palette, for Windows, 3.0):
// nothing the reader uses depends on it.
bool KnownVersion(uint8_t V) {
  return V == 0 || V == 2 || V == 3 || V == 4 || V == 5;
}

int BitsOf(uint8_t BitsPerPlane, uint8_t Planes) {
  if (BitsPerPlane == 1 && Planes == 1)
    return 1;
  if ((BitsPerPlane == 1 && Planes == 4) || (BitsPerPlane == 4 && Planes == 1))
    return 4;
  if (BitsPerPlane == 8 && Planes == 1)
    return 8;
  if (BitsPerPlane == 8 && Planes == 3)
    return 24;
  return 0;
}

int ReadHeader(TFile Handle, BcmBitmap* Bitmap, const char* Options) {
  uint8_t h[HeaderRead];
  if (!ReadExact(Handle, h, sizeof h))
    return BcmErrRead;
  if (h[0] != 10)
    return BcmErrBadMagic;
  if (!KnownVersion(h[1]))
    return BcmErrPcxVersion;
  if (h[2] != 1)
    return BcmErrPcxEncoding;
  BcmPcxPrivate p;
  p.Version = h[1];
  p.BitsPerPlane = h[3];
  p.Planes = h[65];
  p.BytesPerLine = Le16(h + 66);
  p.Trunc = HasOption(Options, "trunc");
  const int bits = BitsOf(p.BitsPerPlane, p.Planes);
  if (!bits)
    return BcmErrPcxLayout;
  const int64_t width = int64_t(Le16(h + 8)) - Le16(h + 4) + 1;
  const int64_t height = int64_t(Le16(h + 10)) - Le16(h + 6) + 1;
  if (int rc = CheckGeometry(width, height, bits))
    return rc;
  // A plane line too short for the width cannot hold the picture.
  if (p.BytesPerLine < (uint64_t(width) * p.BitsPerPlane + 7) / 8)
    return BcmErrBadSize;
  Bitmap->Width = static_cast<int32_t>(width);
  Bitmap->Height = static_cast<int32_t>(height);
  Bitmap->BitsPerPixel = bits;
  Bitmap->Private = p;
  return BcmOk;
}

int ReadPalette(TFile Handle, const BcmBitmap* Bitmap, BcmPaletteEntry* Palette) {
  if (!std::get_if<BcmPcxPrivate>(&Bitmap->Private))
    return BcmErrBadArgument;
  uint8_t raw[768];
  switch (Bitmap->BitsPerPixel) {
  case 1:
    Palette[0] = {0, 0, 0};
    Palette[1] = {255, 255, 255};
    return BcmOk;
  case 4:
    if (!SeekTo(Handle, 16) || !ReadExact(Handle, raw, 48))
      return BcmErrRead;
    std::memcpy(Palette, raw, 48);
    return BcmOk;
  case 8: {
    const int64_t size = FileSize(Handle);
    if (size < 0)
      return BcmErrRead;
    if (size < int64_t(HeaderBytes + TrailerBytes)) // no room for a trailer behind the header
      return BcmErrPcxTrailer;
    uint8_t mark;
    if (!SeekTo(Handle, uint64_t(size) - TrailerBytes) || !ReadU8(Handle, mark))
      return BcmErrRead;
    if (mark != TrailerMark)
      return BcmErrPcxTrailer;
    if (!ReadExact(Handle, raw, 768))
      return BcmErrRead;
    std::memcpy(Palette, raw, 768);
    return BcmOk;
  }
  default:
    return BcmOk;
  }
}

// Decodes plane lines one after the other. A run may carry past the end of a line
// into the next one, unless "trunc" drops its rest at every line end.
class TLineDecoder {
public:
  TLineDecoder(TReadAhead& In, bool Trunc) : FIn(In), FTrunc(Trunc) {}

  void Line(uint8_t* Out, uint32_t Count) {
    uint32_t i = 0;
    while (i < Count) {
      if (FRun > 0) {
        const uint32_t n = std::min(FRun, Count - i);
        std::memset(Out + i, FValue, n);
        i += n;
        FRun -= n;
        continue;
      }
      const int b = Next();
      if ((b & 0xC0) == 0xC0) {
        FRun = static_cast<uint32_t>(b & 0x3F);
        FValue = static_cast<uint8_t>(Next());
      } else {
        Out[i++] = static_cast<uint8_t>(b);
      }
    }
    if (FTrunc)
      FRun = 0;
  }
  bool Ended() const { return FEnded; }
  // Bytes of data taken so far.
  uint64_t Consumed() const { return FConsumed; }
  // Past the end and past the last run read before it: every line from here on
  // decodes alike.
  bool Exhausted() const { return FEnded && (FRun == 0 || FValue == 0xFF); }

private:
  // At the end of the data every byte reads as 0xFF, a run byte: the rest of the
  // picture fills with 0xFF.
  int Next() {
    if (FEnded)
      return 0xFF;
    const int b = GetByte(FIn);
    if (b >= 0) {
      ++FConsumed;
      return b;
    }
    FEnded = true;
    return 0xFF;
  }

  TReadAhead& FIn;
  const bool FTrunc;
  uint32_t FRun = 0;
  uint8_t FValue = 0;
  bool FEnded = false;
  uint64_t FConsumed = 0;
};

int ReadData(TFile Handle, const BcmBitmap* Bitmap, uint8_t* Data) {
  const auto* p = std::get_if<BcmPcxPrivate>(&Bitmap->Private);
  if (!p || BitsOf(p->BitsPerPlane, p->Planes) != Bitmap->BitsPerPixel)
    return BcmErrBadArgument;
  const uint32_t width = static_cast<uint32_t>(Bitmap->Width);
  const uint32_t height = static_cast<uint32_t>(Bitmap->Height);
  const uint64_t rowBytes = BcmRowBytes(Bitmap->Width, Bitmap->BitsPerPixel);
  const uint32_t bpl = p->BytesPerLine;
  const uint64_t lineBytes = (uint64_t(width) * p->BitsPerPlane + 7) / 8; // <= bpl
  if (bpl < lineBytes)
    return BcmErrBadArgument;
  std::memset(Data, 0, rowBytes * height);
  if (!SeekTo(Handle, HeaderBytes))
    return BcmErrRead;
  auto in = NewReadAhead(Handle);
  if (!in)
    return BcmErrNoMemory;
  std::vector<uint8_t> line(bpl);
  TLineDecoder decoder(*in, p->Trunc);

  // A short file may declare thousands of long lines: once it is exhausted, the first
  // row decoded stands for all the rest.
  const uint8_t* filler = nullptr;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = Data + uint64_t(height - 1 - y) * rowBytes; // the file starts at the top
    if (filler) {
      std::memcpy(row, filler, rowBytes);
      continue;
    }
    if (decoder.Exhausted())
      filler = row;
    if (p->Planes == 1) {
      // Bytes of the line past the width are padding: they stay out of the row.
      decoder.Line(line.data(), bpl);
      std::memcpy(row, line.data(), lineBytes);
    } else if (p->Planes == 4) { // 1 bit in each of 4 planes: plane p gives bit p
      for (uint32_t plane = 0; plane < 4; ++plane) {
        decoder.Line(line.data(), bpl);
        for (uint32_t x = 0; x < width; ++x)
          if (GetPixel1(line.data(), static_cast<int>(x)))
            row[x / 2] |= static_cast<uint8_t>((1u << plane) << (x % 2 ? 0 : 4));
      }
    } else { // 8 bits in 3 planes: red, green, blue
      for (uint32_t plane = 0; plane < 3; ++plane) {
        decoder.Line(line.data(), bpl);
        for (uint32_t x = 0; x < width; ++x)
          row[3 * uint64_t(x) + 2 - plane] = line[x];
      }
    }
  }
  if (decoder.Ended())
    return BcmErrRead;
  // A 256-colour file cut short can still hold the whole picture's data, with the
  // palette taken from where its trailer would be: the data must end before that.
  if (Bitmap->BitsPerPixel == 8) {
    const int64_t size = FileSize(Handle);
    if (size < 0 || HeaderBytes + decoder.Consumed() + TrailerBytes > uint64_t(size))
      return BcmErrPcxTrailer;
  }
  return BcmOk;
}

// Runs of equal bytes up to 63, never across the line's end.
uint32_t EncodeLine(const uint8_t* Line, uint32_t Count, uint8_t* Out) {
  uint32_t o = 0;
  for (uint32_t i = 0; i < Count;) {
    const uint8_t v = Line[i];
    uint32_t run = 1;
    while (run < 63 && i + run < Count && Line[i + run] == v)
      ++run;
    if (run > 1 || v >= 0xC0) {
      Out[o++] = static_cast<uint8_t>(0xC0 | run);
      Out[o++] = v;
    } else {
      Out[o++] = v;
    }
    i += run;
  }
  return o;
}

int Write(TFile Handle, const BcmBitmap* Bitmap, const BcmPaletteEntry* Palette,
          const uint8_t* Data, const char* /*Options*/) {
  const int bits = Bitmap->BitsPerPixel;
  const uint32_t width = static_cast<uint32_t>(Bitmap->Width);
  const uint32_t height = static_cast<uint32_t>(Bitmap->Height);
  const uint32_t bitsPerPlane = bits == 24 ? 8 : static_cast<uint32_t>(bits);
  const uint32_t planes = bits == 24 ? 3 : 1;
  const uint32_t lineBytes = static_cast<uint32_t>((uint64_t(width) * bitsPerPlane + 7) / 8);
  const uint32_t bpl = lineBytes + (lineBytes & 1);
  // The header holds the last column and row and the line length in 16 bits.
  if (width > 0x10000 || height > 0x10000 || bpl > 0xFFFF)
    return BcmErrBadSize;
  const uint64_t rowBytes = BcmRowBytes(Bitmap->Width, bits);

  uint8_t h[HeaderBytes] = {};
  h[0] = 10;
  h[1] = 5;
  h[2] = 1;
  h[3] = static_cast<uint8_t>(bitsPerPlane);
  PutLe16(h + 8, width - 1);
  PutLe16(h + 10, height - 1);
  if (bits == 4)
    std::memcpy(h + 16, Palette, 48);
  h[65] = static_cast<uint8_t>(planes);
  PutLe16(h + 66, bpl);
  h[68] = 1;
  if (!WriteExact(Handle, h, sizeof h))
    return BcmErrWrite;

  std::vector<uint8_t> line(bpl, 0); // the pad byte of an odd line length stays 0
  std::vector<uint8_t> encoded(2 * uint64_t(bpl));
  const bool invert = bits == 1 && Luminance(Palette[1]) < Luminance(Palette[0]);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = Data + uint64_t(height - 1 - y) * rowBytes;
    for (uint32_t plane = 0; plane < planes; ++plane) {
      if (planes == 1) {
        std::memcpy(line.data(), row, lineBytes);
        if (invert)
          for (uint32_t i = 0; i < lineBytes; ++i)
            line[i] = static_cast<uint8_t>(~line[i]);
      } else {
        for (uint32_t x = 0; x < width; ++x)
          line[x] = row[3 * uint64_t(x) + 2 - plane];
      }
      const uint32_t n = EncodeLine(line.data(), bpl, encoded.data());
      if (!WriteExact(Handle, encoded.data(), n))
        return BcmErrWrite;
    }
  }
  if (bits == 8) {
    uint8_t trailer[TrailerBytes];
    trailer[0] = TrailerMark;
    std::memcpy(trailer + 1, Palette, 768);
    if (!WriteExact(Handle, trailer, sizeof trailer))
      return BcmErrWrite;
  }
  return BcmOk;
}

} // namespace

const TCodec PcxCodec = {Query, ReadHeader, ReadPalette, ReadData, Write, ErrorText};

} // namespace gf::bcm
