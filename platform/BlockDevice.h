// What the kernel tells of a block device, and reads of one past the page cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sys/types.h>

namespace gf {

// The logical sector size of the block device open as Fd: the unit in which the device
// is addressed. 0 when Fd is no block device or the kernel does not say.
uint32_t LogicalSectorSize(int Fd);

// Reads of a block device that bypass the page cache (O_DIRECT). A buffered read that
// fails leaves the pages of its whole request failed in the cache, so that a read of
// good sectors among them fails after it; a read past the cache asks the device for
// the sectors it names and no others. The bytes pass through an aligned buffer of its
// own, so any buffer will do. One thread at a time.
class TUncachedReader {
public:
  // Opens the block device open as Fd once more, for reads past the cache. Not IsOpen,
  // with Error the reason (an errno value), when Fd is no block device or the open is
  // refused.
  explicit TUncachedReader(int Fd);
  ~TUncachedReader();
  TUncachedReader(const TUncachedReader&) = delete;
  TUncachedReader& operator=(const TUncachedReader&) = delete;

  bool IsOpen() const { return FFd >= 0; }
  int Error() const { return FError; }
  uint32_t SectorSize() const { return FSectorSize; }

  // Reads Count bytes at Offset into Buffer, both multiples of SectorSize: the number of
  // bytes read (fewer at the end of the device), or -1 with errno set.
  ssize_t ReadAt(uint64_t Offset, void* Buffer, std::size_t Count);

private:
  struct TFree {
    void operator()(uint8_t* P) const { std::free(P); }
  };
  int FFd = -1;
  int FError = 0;
  uint32_t FSectorSize = 0;
  std::size_t FAlign = 0;
  std::unique_ptr<uint8_t, TFree> FBuffer;
  std::size_t FCapacity = 0;
};

} // namespace gf
