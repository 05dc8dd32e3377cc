#pragma once
// The modem-status lines of a Linux tty, read through ioctl.
#include <memory>
#include <string>

#include "platform/ModemLines.h"

namespace zv {

class LinuxModemLines final : public IModemLines {
 public:
  LinuxModemLines() = default;
  ~LinuxModemLines() override;
  LinuxModemLines(const LinuxModemLines&) = delete;
  LinuxModemLines& operator=(const LinuxModemLines&) = delete;

  DeviceResult Open(const std::string& path) override;
  bool Read(SerialModemLines& lines) override;
  void Close() override;
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

std::unique_ptr<IModemLines> MakeLinuxModemLines();

}  // namespace zv
