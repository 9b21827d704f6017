// Processes that have ended, for the tests of what writers that are gone leave behind.
#pragma once

#include <csignal>
#include <functional>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace gf::test {

inline pid_t EndedProcess() {
  pid_t pid = ::fork();
  if (pid == 0)
    ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

// Runs Write in a child process, which writes a byte to the descriptor Signal once it
// has come to where it is to be killed, and waits there; the child is then killed and
// reaped. Its number, or -1 when it could not run or ended without a word. A child
// left waiting ends by itself after 10 s.
inline pid_t KilledMidway(const std::function<void(int Signal)>& Write) {
  int ready[2];
  if (::pipe(ready) != 0)
    return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    ::alarm(10);
    Write(ready[1]);
    ::_exit(0);
  }
  ::close(ready[1]);
  char c;
  const bool told = child > 0 && ::read(ready[0], &c, 1) == 1;
  ::close(ready[0]);
  if (child > 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  return told ? child : -1;
}

} // namespace gf::test
