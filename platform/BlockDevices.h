// Whether files saved into a folder can land on a medium being scanned, told from the
// device numbers the system gives and what sysfs says of them (/sys/dev/block/MAJ:MIN:
// a partition's disk and its place there, a mapped device's slaves, a loop device's
// backing file). No device is opened.
#pragma once

#include <cstdint>
#include <filesystem>
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

} // namespace gf
