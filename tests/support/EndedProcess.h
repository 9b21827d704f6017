// The number of a process that has ended (a child that exited and was reaped), for the
// tests of what is left behind by writers that are gone.
#pragma once

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

} // namespace gf::test
