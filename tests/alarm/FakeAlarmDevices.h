#pragma once
// Fake devices of the gauges: modem-status lines and a parallel port whose
// state the test sets.
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/ModemLines.h"
#include "platform/ParallelPort.h"

namespace zv::test {

struct ModemLinesState {
  bool present = true;                              // Open succeeds
  bool hasLines = true;                             // Read succeeds
  SerialModemLines lines{true, true, true, false};  // all asserted: all normal
  int opens = 0, closes = 0;
  bool open = false;
  std::string lastPath;
};

class FakeModemLines final : public IModemLines {
 public:
  explicit FakeModemLines(std::shared_ptr<ModemLinesState> st) : st_(std::move(st)) {}
  DeviceResult Open(const std::string& path) override {
    st_->lastPath = path;
    if (!st_->present) return DeviceResult::FromErrno(path, ENOENT);
    if (st_->open) return DeviceResult::FromErrno(path, EBUSY);
    ++st_->opens;
    st_->open = true;
    return DeviceResult::Success();
  }
  bool Read(SerialModemLines& lines) override {
    if (!st_->open || !st_->hasLines) return false;
    lines = st_->lines;
    return true;
  }
  void Close() override {
    if (!st_->open) return;
    ++st_->closes;
    st_->open = false;
  }

 private:
  std::shared_ptr<ModemLinesState> st_;
};

struct ParallelState {
  bool present = true;
  std::string error = "Permission denied";  // why it cannot be read when not present
  bool busy = false;                        // held by another driver
  std::uint8_t status = 0x80;               // Busy high, all others low: all normal
  int reads = 0;
  std::string lastPath;
};

class FakeParallel final : public IParallelStatus {
 public:
  explicit FakeParallel(std::shared_ptr<ParallelState> st) : st_(std::move(st)) {}
  ParallelRead Read(const std::string& path) override {
    st_->lastPath = path;
    ParallelRead r;
    if (st_->busy) {
      r.status = ParallelRead::Busy;
    } else if (!st_->present) {
      r.status = ParallelRead::Failed;
      r.error = st_->error;
    } else {
      ++st_->reads;
      r.status = ParallelRead::Ok;
      r.value = st_->status;
    }
    return r;
  }

 private:
  std::shared_ptr<ParallelState> st_;
};

}  // namespace zv::test
