#pragma once
// The DTR and RTS lines of a Linux tty, set through ioctl.
#include <memory>
#include <string>

#include "platform/SwitcherLines.h"

namespace zv {

class LinuxSwitcherLines final : public ISwitcherLines {
 public:
  LinuxSwitcherLines() = default;
  ~LinuxSwitcherLines() override;
  LinuxSwitcherLines(const LinuxSwitcherLines&) = delete;
  LinuxSwitcherLines& operator=(const LinuxSwitcherLines&) = delete;

  DeviceResult Open(const std::string& path) override;
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
