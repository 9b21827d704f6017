// Targa: colour-mapped (types 1, 9), true colour (2, 10) and grey (3, 11), each
// uncompressed or run-length encoded. All numbers little-endian.
#include "BcmCodec.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace gf::bcm {

namespace {

constexpr uint32_t HeaderBytes = 18;
constexpr uint8_t TopFirst = 0x20;    // descriptor: the first row in the file is the top row
constexpr uint8_t RightToLeft = 0x10; // descriptor: pixels in the file run right to left

int Query(BcmFormatDesc* Desc) {
  *Desc = {"Targa", "Truevision Targa/Vista bitmap", "TGA VST AFI", 0xCC};
  return BcmOk;
}

const char* ErrorText(int Code) {
  switch (Code) {
  case BcmErrTgaDepth:
    return "bits per pixel not 8, 16, 24 or 32";
  case BcmErrTgaType:
    return "unsupported compression type for bits per pixel";
  case BcmErrTgaMapEntrySize:
    return "color map entry size not 24 bits per pixel";
  default:
    return nullptr;
  }
}

bool RunLength(const BcmTgaPrivate& T) {
  return T.ImageType >= 9;
}

int ReadHeader(TFile Handle, BcmBitmap* Bitmap, const char* /*Options*/) {
  uint8_t h[HeaderBytes];
  if (!ReadExact(Handle, h, sizeof h))
    return BcmErrRead;
  BcmTgaPrivate t;
  t.IdLength = h[0];
  t.ColorMapType = h[1];
  t.ImageType = h[2];
  t.ColorMapFirst = static_cast<uint16_t>(Le16(h + 3));
  t.ColorMapLength = static_cast<uint16_t>(Le16(h + 5));
  t.ColorMapEntrySize = h[7];
  t.XOrigin = static_cast<uint16_t>(Le16(h + 8));
  t.YOrigin = static_cast<uint16_t>(Le16(h + 10));
  t.Width = static_cast<uint16_t>(Le16(h + 12));
  t.Height = static_cast<uint16_t>(Le16(h + 14));
  t.Depth = h[16];
  t.Descriptor = h[17];
  switch (t.ImageType) {
  case 1:
  case 9:
    if (t.Depth != 8)
      return BcmErrTgaDepth;
    if (t.ColorMapEntrySize != 24)
      return BcmErrTgaMapEntrySize;
    break;
  case 2:
  case 10:
    if (t.Depth != 16 && t.Depth != 24 && t.Depth != 32)
      return BcmErrTgaDepth;
    break;
  case 3:
  case 11:
    if (t.Depth != 8)
      return BcmErrTgaDepth;
    break;
  default:
    return BcmErrTgaType;
  }
  const int bits = t.Depth == 8 ? 8 : 24;
  if (int rc = CheckGeometry(t.Width, t.Height, bits))
    return rc;
  Bitmap->Width = t.Width;
  Bitmap->Height = t.Height;
  Bitmap->BitsPerPixel = bits;
  Bitmap->Private = t;
  return BcmOk;
}

int ReadPalette(TFile Handle, const BcmBitmap* Bitmap, BcmPaletteEntry* Palette) {
  const auto* t = std::get_if<BcmTgaPrivate>(&Bitmap->Private);
  if (!t)
    return BcmErrBadArgument;
  switch (t->ImageType) {
  case 1:
  case 9: {
    std::fill(Palette, Palette + 256, BcmPaletteEntry{0, 0, 0});
    // Pixels are bytes: map entries from 256 on can never be used, so only those
    // below it are read.
    const uint32_t first = t->ColorMapFirst;
    const uint32_t count = first >= 256 ? 0 : std::min<uint32_t>(t->ColorMapLength, 256 - first);
    uint8_t raw[256 * 3];
    if (!SeekTo(Handle, HeaderBytes + uint64_t(t->IdLength)) || !ReadExact(Handle, raw, 3 * count))
      return BcmErrRead;
    for (uint32_t i = 0; i < count; ++i)
      Palette[first + i] = {raw[3 * i + 2], raw[3 * i + 1], raw[3 * i]};
    return BcmOk;
  }
  case 3:
  case 11:
    for (int i = 0; i < 256; ++i)
      Palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i)};
    return BcmOk;
  default:
    return BcmOk;
  }
}

// Puts one row of file pixels (Depth / 8 bytes each, in file order) into a bitmap row.
void StoreRow(const BcmTgaPrivate& T, const uint8_t* Pixels, uint32_t Width, uint8_t* Row) {
  const bool mirrored = (T.Descriptor & RightToLeft) != 0;
  if (!mirrored && (T.Depth == 8 || T.Depth == 24)) { // stored as the bitmap stores them
    std::memcpy(Row, Pixels, uint64_t(Width) * (T.Depth / 8));
    return;
  }
  for (uint32_t x = 0; x < Width; ++x) {
    const uint32_t to = mirrored ? Width - 1 - x : x;
    switch (T.Depth) {
    case 8:
      Row[to] = Pixels[x];
      break;
    case 16: {
      const uint32_t v = Le16(Pixels + 2 * uint64_t(x)); // bit 15 is not colour
      uint8_t* d = Row + 3 * uint64_t(to);
      d[0] = static_cast<uint8_t>((v & 0x1F) << 3);
      d[1] = static_cast<uint8_t>(((v >> 5) & 0x1F) << 3);
      d[2] = static_cast<uint8_t>(((v >> 10) & 0x1F) << 3);
      break;
    }
    default: { // 24, 32: blue, green, red (and attribute, dropped)
      const uint8_t* s = Pixels + uint64_t(x) * (T.Depth / 8);
      std::memcpy(Row + 3 * uint64_t(to), s, 3);
      break;
    }
    }
  }
}

int ReadData(TFile Handle, const BcmBitmap* Bitmap, uint8_t* Data) {
  const auto* t = std::get_if<BcmTgaPrivate>(&Bitmap->Private);
  if (!t || Bitmap->Width != t->Width || Bitmap->Height != t->Height ||
      Bitmap->BitsPerPixel != (t->Depth == 8 ? 8 : 24) ||
      (t->Depth != 8 && t->Depth != 16 && t->Depth != 24 && t->Depth != 32))
    return BcmErrBadArgument;
  const uint32_t width = t->Width, height = t->Height;
  const uint64_t rowBytes = BcmRowBytes(Bitmap->Width, Bitmap->BitsPerPixel);
  std::memset(Data, 0, rowBytes * height);

  uint64_t start = HeaderBytes + uint64_t(t->IdLength);
  if (t->ColorMapType != 0) {
    const uint32_t entryBits = t->ColorMapEntrySize == 15 ? 16 : t->ColorMapEntrySize;
    start += uint64_t(entryBits) * t->ColorMapLength / 8;
  }
  if (!SeekTo(Handle, start))
    return BcmErrRead;

  const uint32_t pixelBytes = t->Depth / 8u;
  std::vector<uint8_t> pixels(uint64_t(width) * pixelBytes); // one row as the file holds it
  const bool topFirst = (t->Descriptor & TopFirst) != 0;
  auto rowAt = [&](uint32_t FileRow) {
    return Data + uint64_t(topFirst ? height - 1 - FileRow : FileRow) * rowBytes;
  };

  if (!RunLength(*t)) {
    for (uint32_t y = 0; y < height; ++y) {
      if (!ReadExact(Handle, pixels.data(), pixels.size()))
        return BcmErrRead;
      StoreRow(*t, pixels.data(), width, rowAt(y));
    }
    return BcmOk;
  }

  auto in = NewReadAhead(Handle);
  if (!in)
    return BcmErrNoMemory;
  // Packets run on across row ends; a packet that passes the last row is cut there.
  uint32_t x = 0, y = 0;
  uint8_t value[4];
  while (y < height) {
    const int header = GetByte(*in);
    if (header < 0)
      return BcmErrRead;
    const bool repeat = (header & 0x80) != 0;
    uint32_t count = static_cast<uint32_t>(header & 0x7F) + 1;
    if (repeat)
      for (uint32_t i = 0; i < pixelBytes; ++i) {
        const int b = GetByte(*in);
        if (b < 0)
          return BcmErrRead;
        value[i] = static_cast<uint8_t>(b);
      }
    for (; count > 0 && y < height; --count) {
      uint8_t* d = pixels.data() + uint64_t(x) * pixelBytes;
      if (repeat) {
        std::memcpy(d, value, pixelBytes);
      } else {
        for (uint32_t i = 0; i < pixelBytes; ++i) {
          const int b = GetByte(*in);
          if (b < 0)
            return BcmErrRead;
          d[i] = static_cast<uint8_t>(b);
        }
      }
      if (++x == width) {
        StoreRow(*t, pixels.data(), width, rowAt(y));
        x = 0;
        ++y;
      }
    }
  }
  return BcmOk;
}

int Write(TFile Handle, const BcmBitmap* Bitmap, const BcmPaletteEntry* Palette,
          const uint8_t* Data, const char* Options) {
  const int bits = Bitmap->BitsPerPixel;
  if (bits != 8 && bits != 24)
    return BcmErrNotSupported;
  const bool d16 = HasOption(Options, "16"), d24 = HasOption(Options, "24"),
             d32 = HasOption(Options, "32");
  const int depthOptions = int(d16) + int(d24) + int(d32);
  if ((bits == 24 && depthOptions > 1) || (bits == 8 && depthOptions > 0))
    return BcmErrBadOptions;
  const bool ydown = HasOption(Options, "ydown");
  if (ydown && HasOption(Options, "yup"))
    return BcmErrBadOptions;
  const int depth = bits == 8 ? 8 : d16 ? 16 : d32 ? 32 : 24;
  const uint32_t width = static_cast<uint32_t>(Bitmap->Width);
  const uint32_t height = static_cast<uint32_t>(Bitmap->Height);
  if (width > 0xFFFF || height > 0xFFFF) // 16-bit fields in the header
    return BcmErrBadSize;

  uint8_t h[HeaderBytes] = {};
  if (depth == 8) {
    h[1] = 1;
    h[2] = 1;
    PutLe16(h + 5, 256);
    h[7] = 24;
  } else {
    h[2] = 2;
  }
  PutLe16(h + 12, width);
  PutLe16(h + 14, height);
  h[16] = static_cast<uint8_t>(depth);
  h[17] = ydown ? TopFirst : 0;
  if (!WriteExact(Handle, h, sizeof h))
    return BcmErrWrite;
  if (depth == 8) {
    uint8_t map[256 * 3];
    for (int i = 0; i < 256; ++i) {
      map[3 * i] = Palette[i].Blue;
      map[3 * i + 1] = Palette[i].Green;
      map[3 * i + 2] = Palette[i].Red;
    }
    if (!WriteExact(Handle, map, sizeof map))
      return BcmErrWrite;
  }

  const uint64_t rowBytes = BcmRowBytes(Bitmap->Width, bits);
  const uint64_t outBytes = uint64_t(width) * uint32_t(depth / 8);
  std::vector<uint8_t> out(outBytes);
  for (uint32_t i = 0; i < height; ++i) {
    const uint8_t* row = Data + uint64_t(ydown ? height - 1 - i : i) * rowBytes;
    const uint8_t* src = row;
    if (depth == 16 || depth == 32) {
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* s = row + 3 * uint64_t(x);
        const uint8_t b = s[0], g = s[1], r = s[2];
        if (depth == 16) {
          out[2 * uint64_t(x)] = static_cast<uint8_t>((((g >> 3) << 5) & 0xFF) | (b >> 3));
          out[2 * uint64_t(x) + 1] = static_cast<uint8_t>(((r >> 3) << 2) | (g >> 6));
        } else {
          uint8_t* d = out.data() + 4 * uint64_t(x);
          d[0] = b;
          d[1] = g;
          d[2] = r;
          d[3] = 0xFF; // opaque, for readers that take it as alpha
        }
      }
      src = out.data();
    }
    if (!WriteExact(Handle, src, outBytes))
      return BcmErrWrite;
  }
  return BcmOk;
}

} // namespace

const TCodec TgaCodec = {Query, ReadHeader, ReadPalette, ReadData, Write, ErrorText};

} // namespace gf::bcm
