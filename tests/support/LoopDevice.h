// A card image attached read-only as a loop device for the life of the object, so
// that a test can read a real block device through the Linux backend. Attaching
// needs root and loop support; where either is missing, Ok() is false and Why()
// says what was refused, for GTEST_SKIP.
#pragma once

#include "FatCard.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/loop.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace gf::test {

// Runs a shell command: its exit status, with what it wrote in Output.
inline int RunCommand(const std::string& Cmd, std::string& Output) {
  FILE* p = ::popen(Cmd.c_str(), "r");
  if (!p)
    return -1;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p))
    Output += buf;
  return ::pclose(p);
}

class TLoopDevice {
public:
  // Options: more of losetup's, such as "--sector-size 4096".
  explicit TLoopDevice(const std::string& Image, const std::string& Options = "") {
    if (!HaveTool("losetup")) {
      FWhy = "losetup is missing (Debian package mount)";
      return;
    }
    std::string output;
    int status = Run("losetup -r -f --show " + Options + " '" + Image + "' 2>&1", output);
    while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
      output.pop_back();
    if (status != 0 || output.rfind("/dev/", 0) != 0) {
      FWhy = "losetup -r -f --show was refused (it needs root and loop support): " + output;
      return;
    }
    FPath = output;
    // Should the test die before the destructor runs, the kernel detaches the device
    // when this last descriptor closes.
    FFd = ::open(FPath.c_str(), O_RDONLY | O_CLOEXEC);
    loop_info64 info{};
    if (FFd >= 0 && ::ioctl(FFd, LOOP_GET_STATUS64, &info) == 0) {
      info.lo_flags |= LO_FLAGS_AUTOCLEAR;
      ::ioctl(FFd, LOOP_SET_STATUS64, &info);
    }
  }
  ~TLoopDevice() {
    if (FPath.empty())
      return;
    std::string output;
    Run("losetup -d " + FPath + " 2>&1", output);
    if (FFd >= 0)
      ::close(FFd);
  }
  TLoopDevice(const TLoopDevice&) = delete;
  TLoopDevice& operator=(const TLoopDevice&) = delete;

  bool Ok() const { return !FPath.empty(); }
  const std::string& Why() const { return FWhy; }
  // "/dev/loop3".
  const std::string& Path() const { return FPath; }

private:
  static int Run(const std::string& Cmd, std::string& Output) { return RunCommand(Cmd, Output); }

  std::string FPath;
  std::string FWhy;
  int FFd = -1;
};

// An image file formatted, attached read-write as a loop device and mounted at a folder
// for the life of the object, so that files can be saved onto a real loop device. FAT
// first; where the kernel cannot mount FAT, ext2. Needs root and loop support: where
// anything is refused, Ok() is false and Why() says what. The destructor unmounts and
// detaches whatever was done.
class TMountedImage {
public:
  // Image: an existing file of the size wanted; Folder: an existing empty folder.
  TMountedImage(const std::string& Image, const std::string& Folder) : FFolder(Folder) {
    for (const char* tool : {"losetup", "mount", "umount"})
      if (!HaveTool(tool)) {
        FWhy = std::string(tool) + " is missing (Debian package mount)";
        return;
      }
    struct TKind {
      const char* Type;
      const char* Mkfs;
    };
    for (TKind k : {TKind{"vfat", "mkfs.vfat"}, TKind{"ext2", "mkfs.ext2 -q -F"}}) {
      std::string tool(k.Mkfs, std::strcspn(k.Mkfs, " "));
      std::string out;
      if (!HaveTool(tool.c_str())) {
        FWhy += tool + " is missing; ";
        continue;
      }
      if (RunCommand(std::string(k.Mkfs) + " '" + Image + "' 2>&1", out) != 0) {
        FWhy += tool + " failed: " + out + "; ";
        continue;
      }
      out.clear();
      int status = RunCommand("losetup -f --show '" + Image + "' 2>&1", out);
      while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
      if (status != 0 || out.rfind("/dev/", 0) != 0) {
        FWhy += "losetup -f --show was refused (it needs root and loop support): " + out;
        return;
      }
      FDevice = out;
      out.clear();
      if (RunCommand("mount -t " + std::string(k.Type) + " " + FDevice + " '" + Folder + "' 2>&1",
                     out) == 0) {
        FType = k.Type;
        FWhy.clear();
        return;
      }
      FWhy += std::string("mount -t ") + k.Type + " was refused: " + out + "; ";
      Detach();
    }
  }
  ~TMountedImage() {
    std::string out;
    if (!FType.empty() && RunCommand("umount '" + FFolder + "' 2>&1", out) != 0)
      RunCommand("umount -l '" + FFolder + "' 2>&1", out); // busy: detached once let go
    Detach();
  }
  TMountedImage(const TMountedImage&) = delete;
  TMountedImage& operator=(const TMountedImage&) = delete;

  bool Ok() const { return !FType.empty(); }
  const std::string& Why() const { return FWhy; }
  // "/dev/loop3".
  const std::string& Device() const { return FDevice; }
  // The file system mounted: "vfat" or "ext2".
  const std::string& Type() const { return FType; }

private:
  void Detach() {
    if (FDevice.empty())
      return;
    std::string out;
    RunCommand("losetup -d " + FDevice + " 2>&1", out);
    FDevice.clear();
  }

  std::string FFolder;
  std::string FDevice;
  std::string FType;
  std::string FWhy;
};

} // namespace gf::test
