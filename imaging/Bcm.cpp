#include "Bcm.h"

#include "BcmCodec.h"
#include "CRuntime.h"
#include "Pixels.h"

#include <climits>
#include <cstring>
#include <new>

namespace gf {

namespace {

const bcm::TCodec* const Codecs[] = {&bcm::BmpCodec, &bcm::PcxCodec, &bcm::TgaCodec};
constexpr int CodecCount = 3;

const bcm::TCodec* CodecOf(int Format) {
  return Format >= 0 && Format < CodecCount ? Codecs[Format] : nullptr;
}

struct THooks {
  BcmOpenHook Open = BcmDefaultOpen;
  BcmOpenHook Create = BcmDefaultCreate;
  BcmCloseHook Close = BcmDefaultClose;
  BcmSeekHook Seek = BcmDefaultSeek;
  BcmReadHook Read = BcmDefaultRead;
  BcmWriteHook Write = BcmDefaultWrite;
};
THooks Hooks;

// The process-wide hooks, reached through the carried form.
const BcmIo ProcessIo = {
    nullptr,
    [](void*, const char* Name, int Flags) { return Hooks.Open(Name, Flags); },
    [](void*, const char* Name, int Flags) { return Hooks.Create(Name, Flags); },
    [](void*, int Handle) { return Hooks.Close(Handle); },
    [](void*, int Handle, int64_t Offset, int Whence) {
      return Hooks.Seek(Handle, Offset, Whence);
    },
    [](void*, int Handle, void* Buffer, int Count) { return Hooks.Read(Handle, Buffer, Count); },
    [](void*, int Handle, const void* Buffer, int Count) {
      return Hooks.Write(Handle, Buffer, Count);
    },
};

bool Complete(const BcmIo& Io) {
  return Io.Open && Io.Create && Io.Close && Io.Seek && Io.Read && Io.Write;
}

constexpr const char* Delimiters = " \t,";

// Finds the first option word that matches Wanted; the position returned lies in
// Options. The words are cut from a copy, so the caller's string is never written.
const char* FindWord(const char* Options, const char* Wanted, bool Prefix) {
  if (!Options || !Wanted || !bcm::OptionsFit(Options))
    return nullptr;
  char copy[BcmMaxOptionLength + 1];
  std::strcpy(copy, Options);
  const std::size_t wantedLength = std::strlen(Wanted);
  char* position = nullptr;
  for (char* word = crt::strtok(copy, Delimiters, &position); word;
       word = crt::strtok(nullptr, Delimiters, &position)) {
    std::size_t i = 0;
    while (i < wantedLength && word[i] && crt::tolower(word[i]) == crt::tolower(Wanted[i]))
      ++i;
    if (i == wantedLength && (Prefix || word[i] == '\0'))
      return Options + (word - copy);
  }
  return nullptr;
}

// Allocation failures inside a format's operation become BcmErrNoMemory; the hooks'
// own exceptions pass through.
template <typename F> int Guarded(F&& Operation) {
  try {
    return Operation();
  } catch (const std::bad_alloc&) {
    return BcmErrNoMemory;
  }
}

} // namespace

uint64_t BcmRowBytes(int32_t Width, int32_t BitsPerPixel) {
  if (Width <= 0 || !bcm::ValidBitsPerPixel(BitsPerPixel))
    return 0;
  return static_cast<uint64_t>(RowBytes(Width, BitsPerPixel));
}

uint64_t BcmDataBytes(const BcmBitmap& Bitmap) {
  if (Bitmap.Height <= 0)
    return 0;
  return BcmRowBytes(Bitmap.Width, Bitmap.BitsPerPixel) * uint64_t(Bitmap.Height);
}

int BcmDefaultOpen(const char* Name, int Flags) {
  return crt::open(Name, Flags);
}
int BcmDefaultCreate(const char* Name, int Flags) {
  return crt::open(Name, Flags | crt::CRT_O_CREAT | crt::CRT_O_TRUNC, 0x180);
}
int BcmDefaultClose(int Handle) {
  return crt::close(Handle);
}
int64_t BcmDefaultSeek(int Handle, int64_t Offset, int Whence) {
  return crt::lseek(Handle, Offset, Whence);
}
int BcmDefaultRead(int Handle, void* Buffer, int Count) {
  return Count < 0 ? -1 : crt::read(Handle, Buffer, static_cast<unsigned>(Count));
}
int BcmDefaultWrite(int Handle, const void* Buffer, int Count) {
  return Count < 0 ? -1 : crt::write(Handle, Buffer, static_cast<unsigned>(Count));
}

int BcmSetIoHooks(BcmOpenHook Open, BcmOpenHook Create, BcmCloseHook Close, BcmSeekHook Seek,
                  BcmReadHook Read, BcmWriteHook Write) {
  if (!Open || !Create || !Close || !Seek || !Read || !Write)
    return BcmErrBadArgument;
  Hooks = THooks{Open, Create, Close, Seek, Read, Write};
  return BcmOk;
}

const BcmIo& BcmProcessIo() {
  return ProcessIo;
}

int BcmIoOpen(const char* Name, int Flags) {
  return Hooks.Open(Name, Flags);
}
int BcmIoCreate(const char* Name, int Flags) {
  return Hooks.Create(Name, Flags);
}
int BcmIoClose(int Handle) {
  return Hooks.Close(Handle);
}
int64_t BcmIoSeek(int Handle, int64_t Offset, int Whence) {
  return Hooks.Seek(Handle, Offset, Whence);
}
int BcmIoRead(int Handle, void* Buffer, int Count) {
  return Hooks.Read(Handle, Buffer, Count);
}
int BcmIoWrite(int Handle, const void* Buffer, int Count) {
  return Hooks.Write(Handle, Buffer, Count);
}

int BcmFormatCount(int* Count) {
  if (!Count)
    return BcmErrBadArgument;
  *Count = CodecCount;
  return BcmOk;
}

int BcmFormatFromName(const char* FileName, int* Format) {
  if (!FileName || !Format)
    return BcmErrBadArgument;
  const char* dot = std::strrchr(FileName, '.');
  const char* slash = std::strrchr(FileName, '/');
  const char* backslash = std::strrchr(FileName, '\\');
  if (!dot || (slash && slash > dot) || (backslash && backslash > dot))
    return BcmErrNotFound;
  const char* extension = dot + 1;
  for (int f = 0; f < CodecCount; ++f) {
    BcmFormatDesc desc{};
    Codecs[f]->Query(&desc);
    const char* p = desc.Extensions;
    while (*p) {
      while (*p && std::strchr(Delimiters, *p))
        ++p;
      const char* word = p;
      while (*p && !std::strchr(Delimiters, *p))
        ++p;
      const std::size_t length = static_cast<std::size_t>(p - word);
      if (length == 0)
        continue;
      std::size_t i = 0;
      while (i < length && extension[i] && crt::tolower(word[i]) == crt::tolower(extension[i]))
        ++i;
      if (i == length && extension[i] == '\0') {
        *Format = f;
        return BcmOk;
      }
    }
  }
  return BcmErrNotFound;
}

int BcmQueryFormat(int Format, BcmFormatDesc* Desc) {
  const bcm::TCodec* codec = CodecOf(Format);
  if (!Desc || !codec)
    return BcmErrBadArgument;
  return codec->Query(Desc);
}

int BcmReadHeader(const char* FileName, int Handle, int Format, BcmBitmap* Bitmap,
                  const char* Options) {
  return BcmReadHeader(ProcessIo, FileName, Handle, Format, Bitmap, Options);
}

int BcmReadPalette(int Handle, int Format, const BcmBitmap* Bitmap, BcmPaletteEntry* Palette) {
  return BcmReadPalette(ProcessIo, Handle, Format, Bitmap, Palette);
}

int BcmReadData(int Handle, int Format, const BcmBitmap* Bitmap, uint8_t* Data) {
  return BcmReadData(ProcessIo, Handle, Format, Bitmap, Data);
}

int BcmWrite(const char* FileName, int Handle, int Format, const BcmBitmap* Bitmap,
             const BcmPaletteEntry* Palette, const uint8_t* Data, const char* Options) {
  return BcmWrite(ProcessIo, FileName, Handle, Format, Bitmap, Palette, Data, Options);
}

int BcmReadHeader(const BcmIo& Io, const char* FileName, int Handle, int Format, BcmBitmap* Bitmap,
                  const char* Options) {
  const bcm::TCodec* codec = CodecOf(Format);
  if (!FileName || !Bitmap || !Options || !codec || !Complete(Io))
    return BcmErrBadArgument;
  if (!bcm::OptionsFit(Options))
    return BcmErrBadOptions;
  return Guarded([&] { return codec->ReadHeader({&Io, Handle}, Bitmap, Options); });
}

int BcmReadPalette(const BcmIo& Io, int Handle, int Format, const BcmBitmap* Bitmap,
                   BcmPaletteEntry* Palette) {
  const bcm::TCodec* codec = CodecOf(Format);
  if (!Bitmap || !Palette || !codec || !Complete(Io))
    return BcmErrBadArgument;
  return Guarded([&] { return codec->ReadPalette({&Io, Handle}, Bitmap, Palette); });
}

int BcmReadData(const BcmIo& Io, int Handle, int Format, const BcmBitmap* Bitmap, uint8_t* Data) {
  const bcm::TCodec* codec = CodecOf(Format);
  if (!Bitmap || !Data || !codec || !Complete(Io))
    return BcmErrBadArgument;
  // The buffer's size follows from the description: it must be one the module accepts.
  if (bcm::CheckGeometry(Bitmap->Width, Bitmap->Height, Bitmap->BitsPerPixel) != BcmOk)
    return BcmErrBadArgument;
  return Guarded([&] { return codec->ReadData({&Io, Handle}, Bitmap, Data); });
}

int BcmWrite(const BcmIo& Io, const char* FileName, int Handle, int Format, const BcmBitmap* Bitmap,
             const BcmPaletteEntry* Palette, const uint8_t* Data, const char* Options) {
  const bcm::TCodec* codec = CodecOf(Format);
  if (!FileName || !Options || !Bitmap || !Data || !codec || !Complete(Io))
    return BcmErrBadArgument;
  if (!bcm::OptionsFit(Options))
    return BcmErrBadOptions;
  if (!bcm::ValidBitsPerPixel(Bitmap->BitsPerPixel))
    return BcmErrNotSupported;
  if (Bitmap->BitsPerPixel <= 8 && !Palette)
    return BcmErrBadArgument;
  if (int rc = bcm::CheckGeometry(Bitmap->Width, Bitmap->Height, Bitmap->BitsPerPixel))
    return rc;
  return Guarded([&] { return codec->Write({&Io, Handle}, Bitmap, Palette, Data, Options); });
}

const char* BcmErrorText(int Code) {
  static const char* const Texts[] = {"ok",
                                      "out of memory",
                                      "not supported",
                                      "bad option(s)",
                                      "not found",
                                      "bad magic number / signiture block",
                                      "bad bitmap size",
                                      "can't read file",
                                      "can't write file",
                                      "bad argument to bcm function"};
  if (Code >= 0 && Code <= 9)
    return Texts[Code];
  for (const bcm::TCodec* codec : Codecs)
    if (const char* text = codec->ErrorText(Code))
      return text;
  return "general error";
}

const char* BcmFindOption(const char* Options, const char* Word) {
  return FindWord(Options, Word, false);
}

const char* BcmFindOptionPrefix(const char* Options, const char* Text) {
  return FindWord(Options, Text, true);
}

namespace bcm {

std::unique_ptr<TReadAhead> NewReadAhead(TFile Handle) {
  return std::unique_ptr<TReadAhead>(new (std::nothrow) TReadAhead(Handle));
}

namespace {

// Count bytes in calls of at most INT_MAX bytes; false at the first call that fails or
// moves nothing.
template <typename TByte, typename TIo> bool TransferExact(TByte* P, uint64_t Count, TIo Io) {
  while (Count > 0) {
    const int chunk = Count > uint64_t(INT_MAX) ? INT_MAX : static_cast<int>(Count);
    const int n = Io(P, chunk);
    if (n <= 0 || n > chunk)
      return false;
    P += n;
    Count -= static_cast<uint64_t>(n);
  }
  return true;
}

} // namespace

bool ReadExact(TFile Handle, void* Buffer, uint64_t Count) {
  return TransferExact(static_cast<uint8_t*>(Buffer), Count,
                       [&](uint8_t* P, int N) { return Handle.Read(P, N); });
}

bool WriteExact(TFile Handle, const void* Buffer, uint64_t Count) {
  return TransferExact(static_cast<const uint8_t*>(Buffer), Count,
                       [&](const uint8_t* P, int N) { return Handle.Write(P, N); });
}

bool SeekTo(TFile Handle, uint64_t Position) {
  if (Position > uint64_t(INT64_MAX))
    return false;
  return Handle.Seek(static_cast<int64_t>(Position), 0) == static_cast<int64_t>(Position);
}

int64_t FileSize(TFile Handle) {
  const int64_t size = Handle.Seek(0, 2);
  return size < 0 ? -1 : size;
}

bool ReadU8(TFile Handle, uint8_t& V) {
  return ReadExact(Handle, &V, 1);
}

bool ReadU16(TFile Handle, uint16_t& V) {
  uint8_t b[2];
  if (!ReadExact(Handle, b, 2))
    return false;
  V = Le16(b);
  return true;
}

bool ReadU32(TFile Handle, uint32_t& V) {
  uint8_t b[4];
  if (!ReadExact(Handle, b, 4))
    return false;
  V = Le32(b);
  return true;
}

bool ValidBitsPerPixel(int32_t BitsPerPixel) {
  return BitsPerPixel == 1 || BitsPerPixel == 4 || BitsPerPixel == 8 || BitsPerPixel == 24;
}

int CheckGeometry(int64_t Width, int64_t Height, int32_t BitsPerPixel) {
  if (Width < 1 || Height < 1 || Width > INT32_MAX || Height > INT32_MAX ||
      !ValidBitsPerPixel(BitsPerPixel))
    return BcmErrBadSize;
  const uint64_t row = BcmRowBytes(static_cast<int32_t>(Width), BitsPerPixel);
  // row <= 2^31 x 24 / 8, so the product is checked by division, never computed wide.
  if (row > BcmMaxDataBytes / static_cast<uint64_t>(Height))
    return BcmErrBadSize;
  return BcmOk;
}

bool OptionsFit(const char* Options) {
  return Options && ::strnlen(Options, BcmMaxOptionLength + 1) <= BcmMaxOptionLength;
}

} // namespace bcm

} // namespace gf
