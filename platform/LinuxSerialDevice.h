#pragma once
// The serial device of Linux: a tty over termios2 and ioctl.
#include <memory>
#include <string>

#include "platform/SerialDevice.h"

namespace zv {

class LinuxSerialDevice final : public ISerialDevice {
 public:
  LinuxSerialDevice();
  ~LinuxSerialDevice() override;
  LinuxSerialDevice(const LinuxSerialDevice&) = delete;
  LinuxSerialDevice& operator=(const LinuxSerialDevice&) = delete;

  DeviceResult Open(const std::string& path) override;
  DeviceResult Probe(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  bool SetLine(const SerialLine& line) override;
  long Read(void* buf, std::size_t n, bool& gone) override;
  long Write(const void* buf, std::size_t n, bool& gone) override;
  int InQueue() override;
  int OutQueue() override;
  bool GetModemLines(SerialModemLines& lines) override;
  bool GetCounters(SerialCounters& counters) override;
  SerialWait WaitInput(int timeoutMs) override;
  void Wake() override;
  void PurgeInput() override;
  void PurgeOutput() override;

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  int wakeFd_ = -1;  // eventfd that interrupts WaitInput
};

std::unique_ptr<ISerialDevice> MakeLinuxSerialDevice();

}  // namespace zv
