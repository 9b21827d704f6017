#include "TiffBinding.h"

#include "ByteOrder.h"
#include "CallBoundary.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

namespace gf {

namespace {

using TContext = TTiffHandle::TContext;

TContext& Ctx(thandle_t H) {
  return *static_cast<TContext*>(H);
}

tmsize_t TiffStreamRead(thandle_t H, void* Buffer, tmsize_t Size) {
  tmsize_t result = -1;
  if (Size >= 0)
    KeepException(Ctx(H).Error, [&] {
      result =
          static_cast<tmsize_t>(Ctx(H).Stream->ReadFully(Buffer, static_cast<std::size_t>(Size)));
    });
  return result;
}

tmsize_t TiffStreamWrite(thandle_t H, void* Buffer, tmsize_t Size) {
  tmsize_t result = -1;
  if (Size >= 0)
    KeepException(Ctx(H).Error, [&] {
      result = static_cast<tmsize_t>(Ctx(H).Stream->Write(Buffer, static_cast<std::size_t>(Size)));
    });
  return result;
}

toff_t TiffStreamSeek(thandle_t H, toff_t Offset, int Whence) {
  constexpr auto failed = static_cast<toff_t>(-1);
  TContext& c = Ctx(H);
  if (Whence == SEEK_SET &&
      Offset > static_cast<toff_t>(std::numeric_limits<int64_t>::max() - c.Base))
    return failed;
  int64_t pos = -1;
  KeepException(c.Error, [&] {
    pos = Whence == SEEK_SET
              ? c.Stream->Seek(c.Base + static_cast<int64_t>(Offset), TSeekOrigin::Beginning)
              : c.Stream->Seek(static_cast<int64_t>(Offset),
                               Whence == SEEK_CUR ? TSeekOrigin::Current : TSeekOrigin::End);
  });
  return pos < c.Base ? failed : static_cast<toff_t>(pos - c.Base);
}

int TiffStreamClose(thandle_t) {
  return 0;
}

toff_t TiffStreamSize(thandle_t H) {
  int64_t size = 0;
  KeepException(Ctx(H).Error, [&] { size = Ctx(H).Stream->GetSize() - Ctx(H).Base; });
  return size > 0 ? static_cast<toff_t>(size) : 0;
}

// A stream being read is handed to libtiff as mapped memory: libtiff 4.5.0 refuses
// uncompressed tiles that it reads through the read procedure ("Invalid tile byte
// count"), and mapped reading is also faster.
int TiffStreamMap(thandle_t H, void** Base, toff_t* Size) {
  const TContext& c = Ctx(H);
  if (!c.Map)
    return 0;
  *Base = const_cast<uint8_t*>(c.Map);
  *Size = c.MapSize;
  return 1;
}
void TiffStreamUnmap(thandle_t, void*, toff_t) {}

int TiffMessage(TIFF*, void* UserData, const char* Module, const char* Fmt, va_list Args) {
  char text[512];
  std::vsnprintf(text, sizeof text, Fmt, Args);
  try {
    auto& messages = static_cast<TContext*>(UserData)->Messages;
    if (messages.size() < 100) // a damaged file can warn once per strip
      messages.push_back(std::string(Module ? Module : "") + ": " + text);
  } catch (...) {
  }
  return 1; // handled: nothing reaches the process-wide handlers
}

void MapForReading(TContext& C) {
  if (auto* memory = dynamic_cast<TMemoryStream*>(C.Stream)) {
    if (const int64_t size = memory->GetSize() - C.Base; size > 0) {
      C.Map = memory->Memory() + C.Base;
      C.MapSize = static_cast<toff_t>(size);
    }
    return;
  }
  // The copy that CopyBytes tells of, so that what callers count is what is held.
  const int64_t size = TTiffHandle::CopyBytes(*C.Stream);
  if (size <= 0)
    return;
  C.Copy = std::make_unique_for_overwrite<uint8_t[]>(static_cast<std::size_t>(size));
  C.Stream->ReadBuffer(C.Copy.get(), static_cast<std::size_t>(size));
  C.Stream->Seek(C.Base, TSeekOrigin::Beginning);
  C.Map = C.Copy.get();
  C.MapSize = static_cast<toff_t>(size);
}

} // namespace

std::unique_ptr<TTiffHandle> TTiffHandle::Open(TStream& Stream, TMode Mode) {
  std::unique_ptr<TTiffHandle> h(new TTiffHandle);
  h->FContext = std::make_unique<TContext>();
  h->FContext->Stream = &Stream;
  h->FContext->Base = Stream.GetPosition();
  if (Mode == ReadMode)
    MapForReading(*h->FContext);
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  if (!opts)
    return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(opts, TiffMessage, h->FContext.get());
  TIFFOpenOptionsSetWarningHandlerExtR(opts, TiffMessage, h->FContext.get());
  // A hostile header must not make libtiff ask for huge blocks.
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, 256 * 1024 * 1024);
  static const char* const modes[] = {"r", "w", "a", "r"};
  h->FTif = TIFFClientOpenExt("", modes[Mode], h->FContext.get(), TiffStreamRead, TiffStreamWrite,
                              TiffStreamSeek, TiffStreamClose, TiffStreamSize, TiffStreamMap,
                              TiffStreamUnmap, opts);
  TIFFOpenOptionsFree(opts);
  h->Rethrow();
  if (!h->FTif)
    return nullptr;
  return h;
}

int64_t TTiffHandle::CopyBytes(TStream& Stream) {
  if (dynamic_cast<TMemoryStream*>(&Stream))
    return 0;
  const int64_t size = Stream.GetSize() - Stream.GetPosition();
  return size > 0 && size <= MaxReadIntoMemory ? size : 0;
}

TTiffHandle::~TTiffHandle() {
  if (FTif)
    TIFFClose(FTif);
}

void TTiffHandle::Rethrow() {
  RethrowKept(FContext->Error);
}

bool TTiffHandle::Close() {
  if (!FTif)
    return true;
  const int flushed = TIFFFlush(FTif);
  TIFFClose(FTif);
  FTif = nullptr;
  Rethrow();
  return flushed != 0;
}

bool TTiffHandle::ReadAt(uint64_t Offset, uint8_t* Buffer, std::size_t Count) {
  const TContext& c = *FContext;
  if (c.Map) {
    if (!InBounds(static_cast<std::size_t>(c.MapSize), Offset, Count))
      return false;
    std::memcpy(Buffer, c.Map + Offset, Count);
    return true;
  }
  if (Offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - c.Base))
    return false;
  c.Stream->Seek(c.Base + static_cast<int64_t>(Offset), TSeekOrigin::Beginning);
  return c.Stream->ReadFully(Buffer, Count) == Count;
}

bool TTiffHandle::DirectoryWhole(std::span<const uint16_t> Needed) {
  const uint64_t dir = TIFFCurrentDirOffset(FTif);
  const bool big = TIFFIsBigTIFF(FTif), bigEndian = TIFFIsBigEndian(FTif);
  const std::size_t countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12, inlineBytes = big ? 8 : 4;
  uint8_t field[8];
  if (!ReadAt(dir, field, countBytes))
    return false;
  const uint64_t n = big ? Get64(field, bigEndian) : Get16(field, bigEndian);
  if (n > 65535) // more than libtiff reads of a directory
    return false;
  std::vector<uint8_t> entries(static_cast<std::size_t>(n) * entryBytes);
  if (!ReadAt(dir + countBytes, entries.data(), entries.size()))
    return false;
  const uint64_t size = FContext->Map ? FContext->MapSize
                                      : static_cast<uint64_t>(std::max<int64_t>(
                                            FContext->Stream->GetSize() - FContext->Base, 0));
  for (std::size_t at = 0; at < entries.size(); at += entryBytes) {
    const uint8_t* e = entries.data() + at;
    if (std::find(Needed.begin(), Needed.end(), Get16(e, bigEndian)) == Needed.end())
      continue;
    // A type libtiff does not know has no width: libtiff skips the entry unread.
    const uint64_t width =
        static_cast<uint64_t>(TIFFDataWidth(static_cast<TIFFDataType>(Get16(e + 2, bigEndian))));
    const uint64_t count = big ? Get64(e + 4, bigEndian) : Get32(e + 4, bigEndian);
    if (width == 0 || count <= inlineBytes / width)
      continue; // in the entry itself
    if (count > std::numeric_limits<uint64_t>::max() / width)
      return false;
    const uint64_t bytes = count * width;
    const uint64_t offset = big ? Get64(e + 12, bigEndian) : Get32(e + 8, bigEndian);
    if (offset > size || bytes > size - offset)
      return false;
  }
  return true;
}

int TiffCountDirectories(TIFF* Tif) {
  TIFFSetDirectory(Tif, 0);
  int count = 1;
  while (TIFFReadDirectory(Tif))
    ++count;
  return count;
}

} // namespace gf
