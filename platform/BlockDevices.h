// Block devices: whether files saved into a folder can land on a medium being scanned,
// told from the device numbers the system gives and what sysfs says of them
// (/sys/dev/block/MAJ:MIN: a partition's disk and its place there, a mapped device's
// slaves, a loop device's backing file), without opening a device; and what the kernel
// tells of a device that is open, with reads of it past the page cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace gf {

// A sysfs attribute's first line without its trailing blanks; empty when unreadable.
std::string ReadSysfsText(const std::filesystem::path& Path);
// A sysfs attribute's leading decimal number; 0 when unreadable.
uint64_t ReadSysfsNumber(const std::filesystem::path& Path);

// A device number, as sysfs writes it ("8:17").
struct TDeviceNumber {
  uint32_t Major = 0;
  uint32_t Minor = 0;

  static TDeviceNumber Of(dev_t Device);
  // "8:17"; none for any other text.
  static std::optional<TDeviceNumber> Parse(const std::string& Text);
  std::string Text() const;
  bool operator==(const TDeviceNumber&) const = default;
};

// What a scan reads: a block device, an image file, or nothing known.
struct TScanSource {
  std::optional<TDeviceNumber> Device;
  // An image file, by its identity (its file system's device and its inode).
  bool IsFile = false;
  dev_t FileDevice = 0;
  ino_t FileInode = 0;

  // A block device node or a regular file as Path names it now; nothing known when it
  // cannot be looked at or is neither.
  static TScanSource OfPath(const std::string& Path);
};

enum class TOverlap { No, Yes, Unknown };

// Whether a file written into Folder can land on what Source reads: the folder's file
// system lives on the same block device, on a partition of it or on the whole disk of
// it, or on a device made of one of those (device-mapper and RAID slaves); or on a loop
// device whose backing file is the image scanned, or the file of a loop device scanned,
// or lies on a file system that so lands (a sparse file takes new blocks there).
// Partitions of one disk that do not overlap are apart. Sys is the sysfs root ("/sys").
// No when Source names nothing; Unknown, with the system's reason in Why, when the
// folder cannot be looked at.
TOverlap FolderOverlaps(const std::string& Folder, const TScanSource& Source,
                        const std::string& Sys, std::string* Why = nullptr);
// The same for a file system on the device FolderDevice (a folder's st_dev).
bool DeviceOverlaps(TDeviceNumber FolderDevice, const TScanSource& Source, const std::string& Sys);

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
