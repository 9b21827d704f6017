// What the bitmap codec module's formats share: their table of operations, the
// read-ahead buffer, checked reads and writes through the I/O hooks, and the size
// and option checks.
#pragma once

#include "Bcm.h"
#include "ByteOrder.h"

#include <cstdint>
#include <memory>

namespace gf::bcm {

// An open file and the hooks that reach it.
struct TFile {
  const BcmIo* Io;
  int Handle;
  int Read(void* Buffer, int Count) const { return Io->Read(Io->Context, Handle, Buffer, Count); }
  int Write(const void* Buffer, int Count) const {
    return Io->Write(Io->Context, Handle, Buffer, Count);
  }
  int64_t Seek(int64_t Offset, int Whence) const {
    return Io->Seek(Io->Context, Handle, Offset, Whence);
  }
};

// One format's six operations. Bitmaps, palettes and buffers reaching them are not
// null (the module's entries check that).
struct TCodec {
  int (*Query)(BcmFormatDesc* Desc);
  int (*ReadHeader)(TFile Handle, BcmBitmap* Bitmap, const char* Options);
  int (*ReadPalette)(TFile Handle, const BcmBitmap* Bitmap, BcmPaletteEntry* Palette);
  int (*ReadData)(TFile Handle, const BcmBitmap* Bitmap, uint8_t* Data);
  int (*Write)(TFile Handle, const BcmBitmap* Bitmap, const BcmPaletteEntry* Palette,
               const uint8_t* Data, const char* Options);
  const char* (*ErrorText)(int Code); // null for codes that are not its own
};

extern const TCodec BmpCodec;
extern const TCodec PcxCodec;
extern const TCodec TgaCodec;

// Read-ahead buffer over the read hook.
struct TReadAhead {
  static constexpr int Capacity = 16384;
  explicit TReadAhead(TFile H) : Handle(H) {}
  uint8_t Data[Capacity];
  int Pos = 0;
  int Fill = 0;
  TFile Handle;
};
// Null when memory is short (the callers answer BcmErrNoMemory).
std::unique_ptr<TReadAhead> NewReadAhead(TFile Handle);
// The next byte, 0..255, or -1 when the data has ended (or cannot be read).
inline int GetByte(TReadAhead& R) {
  if (R.Pos >= R.Fill) {
    int n = R.Handle.Read(R.Data, TReadAhead::Capacity);
    if (n <= 0)
      return -1;
    R.Fill = n < TReadAhead::Capacity ? n : TReadAhead::Capacity;
    R.Pos = 0;
  }
  return R.Data[R.Pos++];
}

// Checked transfers: true only when all Count bytes moved.
bool ReadExact(TFile Handle, void* Buffer, uint64_t Count);
bool WriteExact(TFile Handle, const void* Buffer, uint64_t Count);
bool SeekTo(TFile Handle, uint64_t Position);
// The file's size (the position is left at the end), or -1.
int64_t FileSize(TFile Handle);
bool ReadU8(TFile Handle, uint8_t& V);
bool ReadU16(TFile Handle, uint16_t& V);
bool ReadU32(TFile Handle, uint32_t& V);

// BcmOk when Width and Height are at least 1 and the pixel buffer of that size and bit
// count is within BcmMaxDataBytes; else BcmErrBadSize.
int CheckGeometry(int64_t Width, int64_t Height, int32_t BitsPerPixel);
bool ValidBitsPerPixel(int32_t BitsPerPixel);

// True when the option string fits the module's option buffer.
bool OptionsFit(const char* Options);
inline bool HasOption(const char* Options, const char* Word) {
  return BcmFindOption(Options, Word) != nullptr;
}

// Luminance used to tell the dark palette entry from the light one.
inline int Luminance(const BcmPaletteEntry& E) {
  return 30 * E.Red + 60 * E.Green + 10 * E.Blue;
}

} // namespace gf::bcm
