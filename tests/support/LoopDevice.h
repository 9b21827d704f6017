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
  static int Run(const std::string& Cmd, std::string& Output) {
    FILE* p = ::popen(Cmd.c_str(), "r");
    if (!p)
      return -1;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p))
      Output += buf;
    return ::pclose(p);
  }

  std::string FPath;
  std::string FWhy;
  int FFd = -1;
};

} // namespace gf::test
