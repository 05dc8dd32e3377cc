#pragma once
// The output control lines (DTR, RTS) of a serial device, which drive the
// video switcher.  The device is opened for writing, exclusively, and only
// if it exists; no line settings are touched and no byte is ever sent.
#include <memory>
#include <string>

namespace zv {

class ISwitcherLines {
 public:
  virtual ~ISwitcherLines() = default;
  // Opens an existing device; false when it is missing, busy or refused.
  virtual bool Open(const std::string& path) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Raises (true) or drops (false) a line; false when the device refused.
  virtual bool SetDtr(bool on) = 0;
  virtual bool SetRts(bool on) = 0;
  // The device is gone: its last request failed as one that is no more
  // (the adapter pulled out, the terminal hung up), not merely refused.
  virtual bool Vanished() const { return false; }
};

class LinuxSwitcherLines final : public ISwitcherLines {
 public:
  LinuxSwitcherLines() = default;
  ~LinuxSwitcherLines() override;
  LinuxSwitcherLines(const LinuxSwitcherLines&) = delete;
  LinuxSwitcherLines& operator=(const LinuxSwitcherLines&) = delete;

  bool Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  bool SetDtr(bool on) override;
  bool SetRts(bool on) override;
  bool Vanished() const override { return vanished_; }

 private:
  bool Set(int line, bool on);
  int fd_ = -1;
  bool vanished_ = false;
};

std::unique_ptr<ISwitcherLines> MakeLinuxSwitcherLines();

}  // namespace zv
