// BMP: OS/2 1.x (12-byte header), OS/2 2.0 and Windows 3.0 forms; uncompressed,
// RLE8 and RLE4. All numbers little-endian.
#include "BcmCodec.h"
#include "Pixels.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace gf::bcm {

namespace {

constexpr uint16_t TypeBM = 0x4D42;
constexpr uint16_t TypeBA = 0x4142; // a bitmap array: the first bitmap follows its header

int Query(BcmFormatDesc* Desc) {
  *Desc = {"Bitmap", "OS/2 1.1, 1.2, 2.0 / Windows 3.0 bitmap", "BMP VGA BGA RLE DIB RL4 RL8",
           0xFF};
  return BcmOk;
}

const char* ErrorText(int Code) {
  switch (Code) {
  case BcmErrBmpPlanes:
    return "number of bitmap planes is not 1";
  case BcmErrBmpBitCount:
    return "bit count not 1, 4, 8 or 24";
  case BcmErrBmpHeaderSize:
    return "cbFix bad";
  case BcmErrBmpCompression:
    return "compression type not uncompressed, RLE4 or RLE8";
  case BcmErrBmpIndex:
    return "less bitmaps in file than index requested";
  default:
    return nullptr;
  }
}

bool ValidHeaderSize(uint32_t Size) {
  // The later Windows headers (108 and 124 bytes, which most programs write today)
  // begin with the same 40 bytes; what they add is only of use to the compressions
  // refused after.
  if (Size == 108 || Size == 124)
    return true;
  return Size >= 16 && Size <= 64 && (Size % 4 == 0 || Size == 42 || Size == 46);
}

int CheckDimensions(int64_t Width, int64_t Height, uint32_t Planes, uint32_t BitCount) {
  if (Width <= 0 || Height <= 0)
    return BcmErrBadSize;
  if (Planes != 1)
    return BcmErrBmpPlanes;
  if (BitCount != 1 && BitCount != 4 && BitCount != 8 && BitCount != 24)
    return BcmErrBmpBitCount;
  return CheckGeometry(Width, Height, static_cast<int32_t>(BitCount));
}

int ReadHeader(TFile Handle, BcmBitmap* Bitmap, const char* Options) {
  BcmBmpPrivate p;
  p.Inv = HasOption(Options, "inv");
  p.InvB = HasOption(Options, "invb");

  int64_t at = Handle.Seek(0, 1);
  uint16_t type;
  if (at < 0 || at > INT32_MAX || !ReadU16(Handle, type))
    return BcmErrRead;
  if (type == TypeBA) {
    uint8_t skip[12];
    if (!ReadExact(Handle, skip, sizeof skip) || !ReadU16(Handle, type))
      return BcmErrRead;
    at += 14;
  }
  if (type != TypeBM)
    return BcmErrBadMagic;
  p.TypeOffset = static_cast<uint32_t>(at);

  uint32_t fileSize, headerSize;
  uint16_t reserved1, reserved2;
  if (!ReadU32(Handle, fileSize) || !ReadU16(Handle, reserved1) || !ReadU16(Handle, reserved2) ||
      !ReadU32(Handle, p.DataOffset) || !ReadU32(Handle, headerSize))
    return BcmErrRead;
  p.HeaderSize = headerSize;

  int64_t width, height;
  uint16_t planes, bitCount;
  if (headerSize == 12) {
    uint16_t w, h;
    if (!ReadU16(Handle, w) || !ReadU16(Handle, h) || !ReadU16(Handle, planes) ||
        !ReadU16(Handle, bitCount))
      return BcmErrRead;
    width = w;
    height = h;
    p.Windows = 0;
    p.Compression = 0;
    p.ColorsUsed = 1u << std::min<uint32_t>(bitCount, 24);
  } else {
    if (!ValidHeaderSize(headerSize))
      return BcmErrBmpHeaderSize;
    uint32_t w, h;
    if (!ReadU32(Handle, w) || !ReadU32(Handle, h) || !ReadU16(Handle, planes) ||
        !ReadU16(Handle, bitCount))
      return BcmErrRead;
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    // The fields after the bit count, as many as the header holds: 32-bit ones up to
    // byte 40, then four 16-bit ones (units, reserved, recording, rendering), then
    // 32-bit ones again. Only compression (16) and colours used (32) are kept.
    uint32_t colorsUsed = 0;
    p.Compression = 0;
    for (uint32_t offset = 16; offset < headerSize;) {
      const bool narrow = offset >= 40 && offset < 48;
      if (narrow) {
        uint16_t v;
        if (!ReadU16(Handle, v))
          return BcmErrRead;
        offset += 2;
      } else {
        uint32_t v;
        if (!ReadU32(Handle, v))
          return BcmErrRead;
        if (offset == 16)
          p.Compression = v;
        else if (offset == 32)
          colorsUsed = v;
        offset += 4;
      }
    }
    const uint32_t full = 1u << std::min<uint32_t>(bitCount, 24);
    if (headerSize <= 32 || (colorsUsed == 0 && bitCount < 24))
      colorsUsed = full;
    p.ColorsUsed = std::min(colorsUsed, full);
    p.Windows = 1;
    // A negative height stores the rows from the top down. The format allows it only
    // uncompressed: run-length codes count their rows from the bottom.
    if (height < 0 && p.Compression == 0) {
      height = -height;
      p.TopDown = 1;
    }
  }
  if (int rc = CheckDimensions(width, height, planes, bitCount))
    return rc;
  Bitmap->Width = static_cast<int32_t>(width);
  Bitmap->Height = static_cast<int32_t>(height);
  Bitmap->BitsPerPixel = bitCount;
  Bitmap->Private = p;
  return BcmOk;
}

int ReadPalette(TFile Handle, const BcmBitmap* Bitmap, BcmPaletteEntry* Palette) {
  const auto* p = std::get_if<BcmBmpPrivate>(&Bitmap->Private);
  if (!p)
    return BcmErrBadArgument;
  const int bits = Bitmap->BitsPerPixel;
  if (bits == 24)
    return BcmOk;
  if (bits != 1 && bits != 4 && bits != 8)
    return BcmErrBadArgument;
  const uint32_t capacity = 1u << bits;
  uint32_t count;
  uint32_t entryBytes;
  uint64_t position;
  if (p->Windows) {
    count = std::min(p->ColorsUsed, capacity);
    entryBytes = 4;
    position = uint64_t(p->TypeOffset) + p->HeaderSize + 14;
  } else {
    count = capacity;
    entryBytes = 3;
    position = uint64_t(p->TypeOffset) + 26;
  }
  // Entries the file does not give are black, never what the buffer held.
  std::fill(Palette, Palette + capacity, BcmPaletteEntry{0, 0, 0});
  uint8_t raw[256 * 4];
  if (!SeekTo(Handle, position) || !ReadExact(Handle, raw, uint64_t(count) * entryBytes))
    return BcmErrRead;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = raw + i * entryBytes;
    Palette[i] = {e[2], e[1], e[0]};
  }
  if (bits == 1 && !p->Inv)
    std::swap(Palette[0], Palette[1]);
  return BcmOk;
}

// The decoders below stop at the end of the buffer and at the end of the data:
// a run, literal or delta that leaves its row or the image, and data that ends before
// the image does, answer BcmErrRead, with the buffer zero where nothing was decoded.

// RLE8 (Nibbles false) and RLE4 (true) share their codes; a column is a byte of the
// row in RLE8 and a nibble in RLE4.
template <bool Nibbles>
int DecodeRle(TReadAhead& In, uint8_t* Data, uint64_t RowBytes, uint64_t Height) {
  const uint64_t columns = Nibbles ? RowBytes * 2 : RowBytes;
  uint64_t x = 0, y = 0;
  for (;;) {
    const int count = GetByte(In);
    const int value = GetByte(In);
    if (count < 0 || value < 0)
      return BcmErrRead;
    uint8_t* row = Data + y * RowBytes;
    if (count > 0) { // a run of count pixels; in RLE4 the two nibbles alternate
      if (uint64_t(count) > columns - x)
        return BcmErrRead;
      if constexpr (Nibbles) {
        for (int i = 0; i < count; ++i)
          SetPixel4(row, static_cast<int>(x++), (i % 2 == 0) ? value >> 4 : value & 0x0F);
      } else {
        std::memset(row + x, value, static_cast<std::size_t>(count));
        x += uint64_t(count);
      }
    } else if (value == 0) { // end of line
      x = 0;
      if (++y == Height)
        return BcmOk;
    } else if (value == 1) { // end of bitmap
      return BcmOk;
    } else if (value == 2) { // delta: right dx, up dy
      const int dx = GetByte(In);
      const int dy = GetByte(In);
      if (dx < 0 || dy < 0 || uint64_t(dy) > Height - y)
        return BcmErrRead;
      y += uint64_t(dy);
      if (y == Height) // skipped to the end: the rest stays 0
        return BcmOk;
      if (uint64_t(dx) > columns - x)
        return BcmErrRead;
      x += uint64_t(dx);
    } else { // literal of value pixels (two a byte in RLE4), padded to a 16-bit boundary
      if (uint64_t(value) > columns - x)
        return BcmErrRead;
      const int bytes = Nibbles ? (value + 1) / 2 : value;
      for (int i = 0; i < bytes; ++i) {
        const int b = GetByte(In);
        if (b < 0)
          return BcmErrRead;
        if constexpr (Nibbles) {
          SetPixel4(row, static_cast<int>(x++), b >> 4);
          if (2 * i + 1 < value)
            SetPixel4(row, static_cast<int>(x++), b & 0x0F);
        } else {
          row[x++] = static_cast<uint8_t>(b);
        }
      }
      if ((bytes & 1) && GetByte(In) < 0)
        return BcmErrRead;
    }
  }
}

int ReadData(TFile Handle, const BcmBitmap* Bitmap, uint8_t* Data) {
  const auto* p = std::get_if<BcmBmpPrivate>(&Bitmap->Private);
  if (!p)
    return BcmErrBadArgument;
  const uint64_t rowBytes = BcmRowBytes(Bitmap->Width, Bitmap->BitsPerPixel);
  const uint64_t height = uint64_t(Bitmap->Height);
  const uint64_t total = rowBytes * height;
  const uint32_t compression = p->Windows ? p->Compression : 0;
  if (compression > 2)
    return BcmErrBmpCompression;
  if (!SeekTo(Handle, p->DataOffset)) {
    std::memset(Data, 0, total);
    return BcmErrRead;
  }
  int rc = BcmOk;
  if (compression == 0) {
    // A short file must not leave the caller's old bytes behind the part read.
    std::memset(Data, 0, total);
    if (!ReadExact(Handle, Data, total))
      rc = BcmErrRead;
  } else {
    auto in = NewReadAhead(Handle);
    if (!in)
      return BcmErrNoMemory;
    std::memset(Data, 0, total);
    rc = compression == 1 ? DecodeRle<false>(*in, Data, rowBytes, height)
                          : DecodeRle<true>(*in, Data, rowBytes, height);
  }
  if (p->TopDown && compression == 0)
    for (uint64_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
      std::swap_ranges(Data + top * rowBytes, Data + (top + 1) * rowBytes,
                       Data + bottom * rowBytes);
  if (p->InvB)
    for (uint64_t i = 0; i < total; ++i)
      Data[i] = static_cast<uint8_t>(~Data[i]);
  return rc;
}

int Write(TFile Handle, const BcmBitmap* Bitmap, const BcmPaletteEntry* Palette,
          const uint8_t* Data, const char* Options) {
  const bool os2 = HasOption(Options, "1.1");
  if (os2 && (HasOption(Options, "win") || HasOption(Options, "2.0")))
    return BcmErrBadOptions;
  const bool inv = HasOption(Options, "inv");
  bool invb = HasOption(Options, "invb");
  const int bits = Bitmap->BitsPerPixel;
  const uint32_t width = uint32_t(Bitmap->Width), height = uint32_t(Bitmap->Height);
  if (os2 && (width > 0xFFFF || height > 0xFFFF)) // the 1.x header holds 16-bit sizes
    return BcmErrBadSize;

  const uint32_t entries = bits == 24 ? 0 : 1u << bits;
  BcmPaletteEntry palette[256];
  if (entries)
    std::copy(Palette, Palette + entries, palette);
  if (bits == 1) {
    if (HasOption(Options, "darkfg") && Luminance(Palette[0]) < Luminance(Palette[1]))
      invb = !invb;
    if (HasOption(Options, "lightfg") && !(Luminance(Palette[0]) < Luminance(Palette[1])))
      invb = !invb;
    palette[0] = {255, 255, 255};
    palette[1] = {0, 0, 0};
    if (!inv)
      std::swap(palette[0], palette[1]);
  }

  const uint32_t rowBytes = static_cast<uint32_t>(BcmRowBytes(Bitmap->Width, bits));
  const uint32_t imageBytes = rowBytes * height; // within BcmMaxDataBytes
  const uint32_t entryBytes = os2 ? 3 : 4;
  const uint32_t headerBytes = os2 ? 26 : 54;
  const uint32_t dataOffset = entryBytes * entries + headerBytes;

  std::vector<uint8_t> head(dataOffset, 0);
  uint8_t* h = head.data();
  PutLe16(h, TypeBM);
  PutLe32(h + 2, imageBytes + dataOffset);
  PutLe32(h + 10, dataOffset);
  if (os2) {
    PutLe32(h + 14, 12);
    PutLe16(h + 18, width);
    PutLe16(h + 20, height);
    PutLe16(h + 22, 1);
    PutLe16(h + 24, static_cast<uint32_t>(bits));
  } else {
    PutLe32(h + 14, 40);
    PutLe32(h + 18, width);
    PutLe32(h + 22, height);
    PutLe16(h + 26, 1);
    PutLe16(h + 28, static_cast<uint32_t>(bits));
    PutLe32(h + 34, imageBytes); // compression, resolutions and colour counts stay 0
  }
  for (uint32_t i = 0; i < entries; ++i) {
    uint8_t* e = h + headerBytes + i * entryBytes;
    e[0] = palette[i].Blue;
    e[1] = palette[i].Green;
    e[2] = palette[i].Red;
  }
  if (!WriteExact(Handle, head.data(), head.size()))
    return BcmErrWrite;

  if (!invb)
    return WriteExact(Handle, Data, imageBytes) ? BcmOk : BcmErrWrite;
  uint8_t chunk[1024];
  for (uint32_t done = 0; done < imageBytes;) {
    const uint32_t n = std::min<uint32_t>(sizeof chunk, imageBytes - done);
    for (uint32_t i = 0; i < n; ++i)
      chunk[i] = static_cast<uint8_t>(~Data[done + i]);
    if (!WriteExact(Handle, chunk, n))
      return BcmErrWrite;
    done += n;
  }
  return BcmOk;
}

} // namespace

const TCodec BmpCodec = {Query, ReadHeader, ReadPalette, ReadData, Write, ErrorText};

} // namespace gf::bcm
