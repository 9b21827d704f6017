// A limit on the size of the files that this process writes, for tests of full disks.
#pragma once

#include <csignal>
#include <sys/resource.h>

namespace gf::test {

// A limit on the size of every file this process writes, while it lives: a write past
// it fails (with EFBIG) as one on a full disk does, also for the superuser.
class TFileSizeLimit {
public:
  explicit TFileSizeLimit(rlim_t Bytes) {
    getrlimit(RLIMIT_FSIZE, &FOld);
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = FOld;
    small.rlim_cur = Bytes;
    Active = setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
  bool Active = false;

private:
  struct rlimit FOld {};
  void (*FOldHandler)(int) = nullptr;
};

} // namespace gf::test
