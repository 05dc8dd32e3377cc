#pragma once
// A serial device whose modem lines, interrupt counters and received bytes
// the test sets: for what a pseudo-terminal cannot show.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/SerialDevice.h"

namespace zv::test {

struct FakeLine {
  std::mutex mu;
  std::condition_variable cv;
  SerialModemLines lines{true, true, true, false};
  SerialCounters counters;
  std::string input;    // bytes waiting to be read
  std::string written;  // bytes the port handed to the device
  bool gone = false;
  bool opened = false;
  SerialLine line;

  void SetCts(bool on) {
    std::lock_guard lk(mu);
    if (lines.cts != on) ++counters.cts;
    lines.cts = on;
    cv.notify_all();
  }
  void Break() {
    std::lock_guard lk(mu);
    ++counters.brk;
    cv.notify_all();
  }
  void FrameError() {
    std::lock_guard lk(mu);
    ++counters.frame;
    cv.notify_all();
  }
  void Receive(const std::string& bytes) {
    std::lock_guard lk(mu);
    input += bytes;
    cv.notify_all();
  }
  std::string Written() {
    std::lock_guard lk(mu);
    return written;
  }
};

class FakeSerialDevice final : public ISerialDevice {
 public:
  explicit FakeSerialDevice(FakeLine& l) : l_(l) {}
  DeviceResult Open(const std::string&) override {
    std::lock_guard lk(l_.mu);
    l_.opened = true;
    open_ = true;
    return DeviceResult::Success();
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  bool SetLine(const SerialLine& line) override {
    std::lock_guard lk(l_.mu);
    l_.line = line;
    return true;
  }
  long Read(void* buf, std::size_t n, bool& gone) override {
    std::lock_guard lk(l_.mu);
    gone = l_.gone;
    if (gone) return -1;
    const std::size_t k = std::min(n, l_.input.size());
    l_.input.copy(static_cast<char*>(buf), k);
    l_.input.erase(0, k);
    return static_cast<long>(k);
  }
  long Write(const void* buf, std::size_t n, bool& gone) override {
    std::lock_guard lk(l_.mu);
    gone = l_.gone;
    if (gone) return -1;
    l_.written.append(static_cast<const char*>(buf), n);
    return static_cast<long>(n);
  }
  int InQueue() override {
    std::lock_guard lk(l_.mu);
    return l_.gone ? -1 : static_cast<int>(l_.input.size());
  }
  int OutQueue() override { return 0; }
  bool GetModemLines(SerialModemLines& lines) override {
    std::lock_guard lk(l_.mu);
    lines = l_.lines;
    return true;
  }
  bool GetCounters(SerialCounters& c) override {
    std::lock_guard lk(l_.mu);
    c = l_.counters;
    return true;
  }
  SerialWait WaitInput(int timeoutMs) override {
    std::unique_lock lk(l_.mu);
    const auto before = l_.counters;
    l_.cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
      return woken_ || l_.gone || !l_.input.empty() || before.cts != l_.counters.cts ||
             before.brk != l_.counters.brk || before.frame != l_.counters.frame;
    });
    if (woken_) {
      woken_ = false;
      return SerialWait::Woken;
    }
    if (l_.gone) return SerialWait::Gone;
    return l_.input.empty() ? SerialWait::Timeout : SerialWait::Readable;
  }
  void Wake() override {
    std::lock_guard lk(l_.mu);
    woken_ = true;
    l_.cv.notify_all();
  }
  void PurgeInput() override {
    std::lock_guard lk(l_.mu);
    l_.input.clear();
  }
  void PurgeOutput() override {}

 private:
  FakeLine& l_;
  std::atomic<bool> open_{false};
  bool woken_ = false;  // guarded by l_.mu
};

}  // namespace zv::test
