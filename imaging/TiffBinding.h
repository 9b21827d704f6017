// Module QvCLib.
// The binding onto libtiff: client I/O procedures over the library's streams, and a
// handle that owns one libtiff TIFF object for one load, count, save or append.
//
// No C++ exception ever crosses libtiff: a stream failure inside a client procedure
// is kept (KeepException), the procedure answers as a failed system call would, and
// the owner rethrows it once libtiff has returned (Rethrow). libtiff's error and
// warning texts go to this handle's Messages, never to the process-wide handlers.
#pragma once

#include "Streams.h"

#include <tiffio.h>

#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace gf {

class TTiffHandle {
public:
  // "r", "w", "a"; ReadTagsMode is "r" for directories only.
  enum TMode { ReadMode = 0, WriteMode = 1, AppendMode = 2, ReadTagsMode = 3 };
  // Opens the TIFF that starts at the stream's current position: every offset
  // inside it counts from there. For reading pixels (ReadMode), libtiff is given the
  // TIFF's bytes as mapped memory: a memory stream's own, any other stream's read
  // into memory first (CopyBytes; a longer one is read through the stream). With
  // ReadTagsMode everything is read through the stream, which is never copied.
  // nullptr when libtiff cannot open it; a stream failure during the attempt is
  // rethrown.
  static std::unique_ptr<TTiffHandle> Open(TStream& Stream, TMode Mode);
  // The bytes that a ReadMode open of Stream copies into memory: 0 for a memory
  // stream, and for one longer than MaxReadIntoMemory.
  static int64_t CopyBytes(TStream& Stream);
  ~TTiffHandle(); // TIFFClose; the stream stays open
  TTiffHandle(const TTiffHandle&) = delete;
  TTiffHandle& operator=(const TTiffHandle&) = delete;

  TIFF* Tif() const { return FTif; }
  // Raises what a client procedure kept, if anything.
  void Rethrow();
  // Flushes and closes; raises a kept stream failure; false when flushing failed.
  bool Close();
  // True when the current directory's entries lie inside the TIFF, and so do the
  // values of those entries whose tag is one of Needed. libtiff reads a directory
  // that was cut short as far as it can: it drops a value that is not there with a
  // warning and may patch the page up (a palette page without its colour map becomes
  // grey). A value that nothing decoded reads (a description, a profile) is no loss.
  bool DirectoryWhole(std::span<const uint16_t> Needed);
  const std::vector<std::string>& Messages() const { return FContext->Messages; }
  std::vector<std::string> TakeMessages() noexcept { return std::move(FContext->Messages); }

  struct TContext {
    TStream* Stream = nullptr;
    int64_t Base = 0; // stream position of the TIFF's first byte
    std::exception_ptr Error;
    std::vector<std::string> Messages;
    const uint8_t* Map = nullptr; // the TIFF's bytes from Base, when reading
    toff_t MapSize = 0;
    std::unique_ptr<uint8_t[]> Copy; // what Map points at, for a stream without memory
  };
  static constexpr int64_t MaxReadIntoMemory = int64_t{1} << 30;

private:
  TTiffHandle() = default;
  // Count bytes at Offset of the TIFF; false when they are not all there.
  bool ReadAt(uint64_t Offset, uint8_t* Buffer, std::size_t Count);
  TIFF* FTif = nullptr;
  std::unique_ptr<TContext> FContext;
};

// The number of directories: 1 for the first, plus one per further directory read.
int TiffCountDirectories(TIFF* Tif);

} // namespace gf
