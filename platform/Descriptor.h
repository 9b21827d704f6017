// A file descriptor that its owner closes.
#pragma once

#include <unistd.h>
#include <utility>

namespace gf {

class TFd {
public:
  explicit TFd(int Fd) : FFd(Fd) {}
  ~TFd() {
    if (FFd >= 0)
      ::close(FFd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }
  // Hands the descriptor over, to be closed by the caller.
  int Release() { return std::exchange(FFd, -1); }

private:
  int FFd;
};

} // namespace gf
