// The bitmap codec module: reads and writes BMP (OS/2 1.x, OS/2 2.0 and Windows 3.0
// forms, uncompressed, RLE8 and RLE4), PCX and Targa files into and out of one
// in-memory layout. A stand-alone service: it raises nothing of its own and answers
// every operation with an error code (BcmErrorText gives its text).
//
// In-memory layout: rows from the bottom of the image to the top, each padded to a
// multiple of 4 bytes (BcmRowBytes); 1-, 4- and 8-bit pixels are palette indices
// packed from the most significant bit; 24-bit pixels are blue, green, red.
//
// Reading: open the file (BcmIoOpen), BcmReadHeader, BcmReadPalette for 1, 4 and 8
// bits (into 2^bits entries), BcmReadData into BcmDataBytes bytes, close. Each reader
// seeks to the position it needs. Everything the file says is checked before use: a
// file that is damaged, cut short or claims sizes beyond BcmMaxDataBytes ends in an
// error code, never in a write outside the caller's buffers. On a failed data read
// the buffer holds what was decoded, the rest zero (PCX: 0xFF, as its runs read past
// the end), never what it held before.
//
// The process-wide I/O hooks are shared by every caller that does not carry its own
// (BcmIo): with them, one thread at a time. Calls that carry their hooks share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <variant>

namespace gf {

// Error codes.
constexpr int BcmOk = 0;
constexpr int BcmErrNoMemory = 1;
constexpr int BcmErrNotSupported = 2;
constexpr int BcmErrBadOptions = 3;
constexpr int BcmErrNotFound = 4;
constexpr int BcmErrBadMagic = 5;
constexpr int BcmErrBadSize = 6;
constexpr int BcmErrRead = 7; // also: data that breaks the format's rules
constexpr int BcmErrWrite = 8;
constexpr int BcmErrBadArgument = 9;
constexpr int BcmErrBmpPlanes = 300;
constexpr int BcmErrBmpBitCount = 301;
constexpr int BcmErrBmpHeaderSize = 302;
constexpr int BcmErrBmpCompression = 303;
constexpr int BcmErrBmpIndex = 304;
constexpr int BcmErrTgaDepth = 400;
constexpr int BcmErrTgaType = 401;
constexpr int BcmErrTgaMapEntrySize = 402;
constexpr int BcmErrPcxVersion = 700;
constexpr int BcmErrPcxEncoding = 701;
constexpr int BcmErrPcxLayout = 702;
constexpr int BcmErrPcxTrailer = 703;

// Format numbers: indices into the format table.
constexpr int BcmFormatBmp = 0;
constexpr int BcmFormatPcx = 1;
constexpr int BcmFormatTga = 2;

// Option strings longer than this are refused (BcmErrBadOptions).
constexpr std::size_t BcmMaxOptionLength = 103;
// The largest pixel buffer (row bytes x height) a reader or writer accepts.
constexpr uint64_t BcmMaxDataBytes = uint64_t(1) << 30;

struct BcmPaletteEntry {
  uint8_t Red, Green, Blue;
};
static_assert(sizeof(BcmPaletteEntry) == 3, "palettes are read and written as RGB triples");

struct BcmFormatDesc {
  const char* ShortName;
  const char* LongName;
  const char* Extensions; // words separated by blanks
  // Bits 0-3: reading yields 1, 4, 8, 24 bits per pixel; bits 4-7: writing accepts them.
  uint8_t Capabilities;
};

// What each format's header reader leaves for its palette and data readers.
struct BcmBmpPrivate {
  uint32_t TypeOffset = 0; // file offset of the 0x4D42 type field
  uint8_t Windows = 0;     // 0 for the 12-byte OS/2 1.x header
  uint32_t HeaderSize = 0;
  uint32_t Compression = 0;
  uint32_t ColorsUsed = 0;
  uint32_t DataOffset = 0;
  uint8_t Inv = 0;
  uint8_t InvB = 0;
  uint8_t TopDown = 0; // a negative height: the file's first row is the top row
};
struct BcmPcxPrivate {
  uint8_t Version = 0;
  uint8_t BitsPerPlane = 0;
  uint8_t Planes = 0;
  uint32_t BytesPerLine = 0;
  uint8_t Trunc = 0;
};
struct BcmTgaPrivate { // the 18-byte header as read
  uint8_t IdLength = 0;
  uint8_t ColorMapType = 0;
  uint8_t ImageType = 0;
  uint16_t ColorMapFirst = 0;
  uint16_t ColorMapLength = 0;
  uint8_t ColorMapEntrySize = 0;
  uint16_t XOrigin = 0, YOrigin = 0, Width = 0, Height = 0;
  uint8_t Depth = 0;
  uint8_t Descriptor = 0; // 0x20: the first row is the top row; 0x10: rows run right to left
};

struct BcmBitmap {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitsPerPixel = 0; // 1, 4, 8 or 24
  std::variant<std::monostate, BcmBmpPrivate, BcmPcxPrivate, BcmTgaPrivate> Private;
};

// Bytes of one padded row, and of the whole pixel buffer (0 for a width, height or bit
// count the module cannot hold).
uint64_t BcmRowBytes(int32_t Width, int32_t BitsPerPixel);
uint64_t BcmDataBytes(const BcmBitmap& Bitmap);

// I/O hooks, process-wide, for the calls that carry none. The defaults go to the C run-time glue:
// open and create raise its exceptions for files that cannot be opened, and those pass through the
// module unchanged.
using BcmOpenHook = int (*)(const char* Name, int Flags);
using BcmCloseHook = int (*)(int Handle);
using BcmSeekHook = int64_t (*)(int Handle, int64_t Offset, int Whence);
using BcmReadHook = int (*)(int Handle, void* Buffer, int Count);
using BcmWriteHook = int (*)(int Handle, const void* Buffer, int Count);

int BcmDefaultOpen(const char* Name, int Flags);
int BcmDefaultCreate(const char* Name, int Flags); // adds create and truncate
int BcmDefaultClose(int Handle);
int64_t BcmDefaultSeek(int Handle, int64_t Offset, int Whence);
int BcmDefaultRead(int Handle, void* Buffer, int Count);
int BcmDefaultWrite(int Handle, const void* Buffer, int Count);

// I/O hooks that a call carries, with the context they work on: the reading and
// writing operations below that take one use only these, never the process-wide
// hooks, so callers with different files (in memory, on other threads) do not share
// state. Every hook must be set.
struct BcmIo {
  void* Context = nullptr;
  int (*Open)(void* Context, const char* Name, int Flags) = nullptr;
  int (*Create)(void* Context, const char* Name, int Flags) = nullptr;
  int (*Close)(void* Context, int Handle) = nullptr;
  int64_t (*Seek)(void* Context, int Handle, int64_t Offset, int Whence) = nullptr;
  int (*Read)(void* Context, int Handle, void* Buffer, int Count) = nullptr;
  int (*Write)(void* Context, int Handle, const void* Buffer, int Count) = nullptr;
};
// The process-wide hooks as carried ones: each call goes to the hook set at that moment.
const BcmIo& BcmProcessIo();

// Replaces all six hooks; a null hook is refused (BcmErrBadArgument) and none changes.
int BcmSetIoHooks(BcmOpenHook Open, BcmOpenHook Create, BcmCloseHook Close, BcmSeekHook Seek,
                  BcmReadHook Read, BcmWriteHook Write);
int BcmIoOpen(const char* Name, int Flags);
int BcmIoCreate(const char* Name, int Flags);
int BcmIoClose(int Handle);
int64_t BcmIoSeek(int Handle, int64_t Offset, int Whence);
int BcmIoRead(int Handle, void* Buffer, int Count);
int BcmIoWrite(int Handle, const void* Buffer, int Count);

int BcmFormatCount(int* Count);
// By the name's extension (after the last dot that follows every slash and backslash),
// letters compared without regard to case.
int BcmFormatFromName(const char* FileName, int* Format);
int BcmQueryFormat(int Format, BcmFormatDesc* Desc);
// Through the process-wide hooks.
int BcmReadHeader(const char* FileName, int Handle, int Format, BcmBitmap* Bitmap,
                  const char* Options);
int BcmReadPalette(int Handle, int Format, const BcmBitmap* Bitmap, BcmPaletteEntry* Palette);
int BcmReadData(int Handle, int Format, const BcmBitmap* Bitmap, uint8_t* Data);
int BcmWrite(const char* FileName, int Handle, int Format, const BcmBitmap* Bitmap,
             const BcmPaletteEntry* Palette, const uint8_t* Data, const char* Options);
// Through the hooks the call carries; an Io without all six hooks gives BcmErrBadArgument.
int BcmReadHeader(const BcmIo& Io, const char* FileName, int Handle, int Format, BcmBitmap* Bitmap,
                  const char* Options);
int BcmReadPalette(const BcmIo& Io, int Handle, int Format, const BcmBitmap* Bitmap,
                   BcmPaletteEntry* Palette);
int BcmReadData(const BcmIo& Io, int Handle, int Format, const BcmBitmap* Bitmap, uint8_t* Data);
int BcmWrite(const BcmIo& Io, const char* FileName, int Handle, int Format, const BcmBitmap* Bitmap,
             const BcmPaletteEntry* Palette, const uint8_t* Data, const char* Options);
// Never null: "general error" for a code no one knows.
const char* BcmErrorText(int Code);

// Option words are separated by blanks, tabs and commas and compared without regard
// to case. The position of the first equal word (or, for the prefix form, the first
// word that begins with Text) in Options; null when absent or when Options is longer
// than BcmMaxOptionLength.
const char* BcmFindOption(const char* Options, const char* Word);
const char* BcmFindOptionPrefix(const char* Options, const char* Text);

} // namespace gf
