#pragma once
// A real Mosquitto broker for the tests: started on 127.0.0.1 and a free
// port with a generated configuration, stopped and started again on the
// same port, and a loop that runs the clients' events on the test's thread.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatcher.h"
#include "support/LoopbackPorts.h"
#include "support/TempDir.h"

extern char** environ;

namespace zv::test {

class Broker {
 public:
  static constexpr const char* kProgram = "/usr/sbin/mosquitto";

  // extra: more configuration lines (authentication ...).
  explicit Broker(std::string extra = {}) : port_(FreePort()), extra_(std::move(extra)) {}
  ~Broker() { Stop(); }

  int Port() const { return port_; }
  const TempDir& Dir() const { return dir_; }

  // Starts the broker and waits until it accepts connections.
  void Start() {
    ASSERT_TRUE(std::filesystem::exists(kProgram))
        << kProgram << " is missing: scripts/install-deps installs the package mosquitto";
    const std::string conf = dir_.file("mosquitto.conf");
    {
      std::ofstream f(conf);
      // Started by root it would change to its own user, who may not read
      // the test's folder: it stays the test's user.
      const passwd* pw = ::getpwuid(::geteuid());
      if (pw) f << "user " << pw->pw_name << "\n";
      f << "listener " << port_ << " 127.0.0.1\n"
        << "persistence false\n"
        << "log_dest file " << dir_.file("broker.log") << "\n"
        << (extra_.empty() ? "allow_anonymous true\n" : extra_);
    }
    std::vector<std::string> args = {kProgram, "-c", conf};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(::posix_spawn(&pid_, kProgram, nullptr, nullptr, argv.data(), environ), 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!PortOpen(port_)) {
      int status = 0;
      ASSERT_EQ(::waitpid(pid_, &status, WNOHANG), 0) << "the broker ended at start";
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "the broker did not start";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  TempDir dir_;
  int port_;
  std::string extra_;
  pid_t pid_ = -1;
};

// Runs what the clients' threads posted until pred holds or ms have passed.
inline bool RunUntil(QueueDispatcher& d, const std::function<bool()>& pred, int ms = 5000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    d.Drain();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace zv::test
