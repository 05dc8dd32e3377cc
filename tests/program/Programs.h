#pragma once
// Real programs for whole-program tests: each one a zorvenix process in its
// own folder, started offscreen and stopped with SIGTERM as a service
// manager would.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace zv::test {

// locale: the child's LC_ALL (empty: inherited).
inline pid_t Launch(const std::string& dir, const std::string& locale = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    // A file-size limit set on the program (a full disk without root)
    // makes its writes fail instead of ending it.
    signal(SIGXFSZ, SIG_IGN);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!locale.empty()) {
      setenv("LC_ALL", locale.c_str(), 1);
      setenv("LANG", locale.c_str(), 1);
    }
    execl(ZORVENIX_BIN, ZORVENIX_BIN, "--dir", dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

inline bool WaitForText(const std::string& path, const std::string& text,
                        std::chrono::milliseconds limit) {
  using namespace std::chrono_literals;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

// SIGTERM, then the exit code once the shutdown ran (-2: it had to be killed).
inline int Stop(pid_t pid) {
  using namespace std::chrono_literals;
  kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 600; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(50ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -2;
}

// Kills a child the test left running (an assertion failed before Stop).
struct Reaper {
  pid_t pid;
  ~Reaper() {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

// The texts of a journal file, without number and time.
inline std::vector<std::string> Texts(const std::string& log) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < log.size()) {
    std::size_t nl = log.find("\r\n", pos);
    if (nl == std::string::npos) nl = log.size();
    const std::string line = log.substr(pos, nl - pos);
    if (line.size() > 50) out.push_back(line.substr(49));
    pos = nl + 2;
  }
  return out;
}

}  // namespace zv::test
