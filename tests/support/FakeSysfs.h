// A small sysfs tree of block devices in a temporary folder, as the destination checks
// read it: /dev/block/MAJ:MIN links to device folders with dev, size, partition and
// start, slaves/ and loop/backing_file. Its numbers use major 4095, which no real
// device has, beside the real numbers of folders a test links in.
#pragma once

#include "BlockDevices.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace gf::test {

class TFakeSysfs {
public:
  TFakeSysfs() {
    char tmpl[] = "/tmp/gf-blocks-XXXXXX";
    Root = ::mkdtemp(tmpl);
    std::filesystem::create_directories(Root / "dev" / "block");
  }
  ~TFakeSysfs() {
    std::error_code ec;
    std::filesystem::remove_all(Root, ec);
  }
  TFakeSysfs(const TFakeSysfs&) = delete;
  TFakeSysfs& operator=(const TFakeSysfs&) = delete;

  static TDeviceNumber Fake(uint32_t Minor) { return {4095, Minor}; }
  // The device of the file system that holds Path.
  static TDeviceNumber DeviceOf(const std::string& Path) {
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 ? TDeviceNumber::Of(st.st_dev) : TDeviceNumber{};
  }
  std::string Sys() const { return Root.string(); }

  // A whole disk of Sectors 512-byte sectors.
  std::filesystem::path Disk(const std::string& Name, TDeviceNumber Number, uint64_t Sectors) {
    std::filesystem::path dir = Root / "devices" / Name;
    Attributes(dir, Number, Sectors);
    return dir;
  }
  std::filesystem::path Partition(const std::filesystem::path& Disk, const std::string& Name,
                                  TDeviceNumber Number, uint64_t Start, uint64_t Sectors) {
    std::filesystem::path dir = Disk / Name;
    Attributes(dir, Number, Sectors);
    Put(dir / "partition", "1");
    Put(dir / "start", std::to_string(Start));
    return dir;
  }
  // Holder is made of Slave (device-mapper, RAID).
  static void Slave(const std::filesystem::path& Holder, const std::filesystem::path& Slave) {
    std::filesystem::create_directories(Holder / "slaves");
    std::filesystem::create_directory_symlink(Slave, Holder / "slaves" / Slave.filename());
  }
  static void Backing(const std::filesystem::path& Loop, const std::string& File) {
    Put(Loop / "loop" / "backing_file", File);
  }
  // Number leads to the device at Dir: so a real folder's device stands for a fake one.
  void Link(TDeviceNumber Number, const std::filesystem::path& Dir) {
    std::filesystem::create_directory_symlink(Dir, Root / "dev" / "block" / Number.Text());
  }

  static void Put(const std::filesystem::path& P, const std::string& Text) {
    std::filesystem::create_directories(P.parent_path());
    std::ofstream(P) << Text << "\n";
  }

  std::filesystem::path Root;

private:
  void Attributes(const std::filesystem::path& Dir, TDeviceNumber Number, uint64_t Sectors) {
    Put(Dir / "dev", Number.Text());
    Put(Dir / "size", std::to_string(Sectors));
    Link(Number, Dir);
  }
};

} // namespace gf::test
