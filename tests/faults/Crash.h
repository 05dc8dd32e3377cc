#pragma once
// A power cut at a chosen write: the work runs in a child process that the
// write layer kills at its n-th write to a folder, either before any of that
// write's bytes reach the file or after a part of them.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

#include "support/DiskFaults.h"

namespace zv::test {

// True when the child died at that write; false when it got through all of
// its writes (n lies past the last one) or failed otherwise (exit code 1).
inline bool DiesAt(const std::string& dir, long n, std::size_t torn,
                   const std::function<void()>& work) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    WriteFaults::DieAt(dir, n, torn);
    work();
    WriteFaults::Off();
    ::_exit(0);  // no exit handlers: the parent's test owns them
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace zv::test
