#include "support/ModemSim.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace zv::test {

namespace {
constexpr char kDLE = 16;
constexpr char kETX = 3;
}  // namespace

ModemSim::ModemSim() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
  slavePath_ = name;
  // Held open so that the master never sees a hang-up while the library
  // closes and reopens its side.
  slaveKeep_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  thread_ = std::thread([this] { Run(); });
}

ModemSim::~ModemSim() {
  {
    std::lock_guard lk(mu_);
    stop_ = true;
  }
  thread_.join();
  std::lock_guard wl(writeMu_);
  if (master_ >= 0) ::close(master_);
  if (slaveKeep_ >= 0) ::close(slaveKeep_);
}

std::string ModemSim::Lines(std::initializer_list<std::string> answers) {
  std::string s;
  for (const auto& a : answers) s += "\r\n" + a + "\r\n";
  return s;
}

void ModemSim::OnLine(const std::string& line, const std::string& reply) {
  std::lock_guard lk(mu_);
  steps_.push_back({Kind::Line, line, reply, {}});
}

void ModemSim::OnVoice(const std::string& reply, const std::string& inject) {
  std::lock_guard lk(mu_);
  steps_.push_back({Kind::Voice, {}, reply, inject});
}

void ModemSim::OnBytes(const std::string& bytes, const std::string& reply) {
  std::lock_guard lk(mu_);
  steps_.push_back({Kind::Bytes, bytes, reply, {}});
}

void ModemSim::WriteAll(const std::string& bytes) {
  std::lock_guard wl(writeMu_);
  std::size_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (done < bytes.size() && master_ >= 0 && std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ModemSim::SetVoiceRate(int bytesPerSecond) {
  std::lock_guard lk(mu_);
  voiceRate_ = bytesPerSecond;
}

void ModemSim::Send(const std::string& bytes) {
  WriteAll(bytes);
}

void ModemSim::Hangup() {
  // The simulator's thread closes the device itself, never under a read.
  std::unique_lock lk(mu_);
  hangupRequested_ = true;
  cv_.wait(lk, [&] { return hungUp_; });
}

void ModemSim::Run() {
  for (;;) {
    int fd;
    std::size_t want = 4096;
    int rate = 0;
    {
      std::lock_guard lk(mu_);
      if (stop_) return;
      if (hangupRequested_ && !hungUp_) {
        std::lock_guard wl(writeMu_);
        if (master_ >= 0) ::close(master_);
        master_ = -1;
        if (slaveKeep_ >= 0) ::close(slaveKeep_);
        slaveKeep_ = -1;
        hungUp_ = true;
        cv_.notify_all();
      }
      fd = hungUp_ ? -1 : master_;
      if (voiceRate_ > 0 && !steps_.empty() && steps_.front().kind == Kind::Voice) {
        rate = voiceRate_;
        want = 256;
      }
    }
    if (fd < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN)) continue;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, want);
    if (n <= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    if (rate > 0) std::this_thread::sleep_for(std::chrono::microseconds(n * 1000000L / rate));
    std::unique_lock lk(mu_);
    received_.append(buf, static_cast<std::size_t>(n));
    pending_.append(buf, static_cast<std::size_t>(n));
    Process();
    cv_.notify_all();
  }
}

void ModemSim::Process() {
  std::vector<std::string> replies;
  for (;;) {
    if (pending_.empty()) break;
    if (steps_.empty()) {
      errors_.push_back("unscripted input: " + pending_);
      pending_.clear();
      break;
    }
    Step& s = steps_.front();
    if (s.kind == Kind::Line) {
      const auto cr = pending_.find('\r');
      if (cr == std::string::npos) break;
      const std::string line = pending_.substr(0, cr);
      pending_.erase(0, cr + 1);
      commands_.push_back(line);
      if (line != s.expect) {
        errors_.push_back("expected '" + s.expect + "', got '" + line + "'");
        continue;
      }
      replies.push_back(s.reply);
      steps_.pop_front();
    } else if (s.kind == Kind::Bytes) {
      if (pending_.size() < s.expect.size()) break;
      if (pending_.compare(0, s.expect.size(), s.expect) != 0) {
        errors_.push_back("expected bytes, got: " + pending_);
        pending_.clear();
        break;
      }
      pending_.erase(0, s.expect.size());
      replies.push_back(s.reply);
      steps_.pop_front();
    } else {
      std::size_t i = 0;
      bool ended = false;
      while (i < pending_.size()) {
        const char c = pending_[i];
        if (c != kDLE) {
          voice_ += c;
          ++i;
          continue;
        }
        if (i + 1 >= pending_.size()) break;  // the code byte is still to come
        const char code = pending_[i + 1];
        i += 2;
        if (code == kDLE) {
          voice_ += kDLE;
        } else if (code == kETX) {
          ended = true;
          break;
        } else {
          voiceCodes_ += code;
        }
      }
      pending_.erase(0, i);
      if (!s.inject.empty() && !s.injected && !voice_.empty()) {
        s.injected = true;
        replies.push_back(s.inject);
      }
      if (!ended) break;
      replies.push_back(s.reply);
      steps_.pop_front();
    }
  }
  for (const auto& r : replies)
    if (!r.empty()) WriteAll(r);
}

bool ModemSim::WaitDone(int timeoutMs) {
  std::unique_lock lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return steps_.empty(); });
}

bool ModemSim::WaitReceived(std::size_t n, int timeoutMs) {
  std::unique_lock lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs),
                      [&] { return received_.size() >= n; });
}

std::string ModemSim::Received() const {
  std::lock_guard lk(mu_);
  return received_;
}

std::vector<std::string> ModemSim::Commands() const {
  std::lock_guard lk(mu_);
  return commands_;
}

std::string ModemSim::Voice() const {
  std::lock_guard lk(mu_);
  return voice_;
}

std::string ModemSim::VoiceCodes() const {
  std::lock_guard lk(mu_);
  return voiceCodes_;
}

std::vector<std::string> ModemSim::Errors() const {
  std::lock_guard lk(mu_);
  return errors_;
}

}  // namespace zv::test
