#pragma once
// One serial device as the serial-port component sees it.  The Linux
// implementation (LinuxSerialDevice.h) works over termios2/ioctl; tests may
// substitute their own device to show modem-line behaviour a pseudo-terminal
// cannot (CTS, DSR, DCD, ring, breaks and line errors).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/DeviceResult.h"

namespace zv {

enum class SerialParity { None, Odd, Even, Mark, Space };
enum class SerialStopBits { One, OneAndHalf, Two };

struct SerialLine {
  unsigned baud = 19200;
  int dataBits = 8;
  SerialParity parity = SerialParity::None;
  SerialStopBits stopBits = SerialStopBits::One;
};

struct SerialModemLines {
  bool cts = false, dsr = false, rlsd = false, ring = false;
};

// The driver's interrupt counters: every change of a modem line, every break
// and every line error moves one of them on.
struct SerialCounters {
  std::uint32_t cts = 0, dsr = 0, rlsd = 0, ring = 0;
  std::uint32_t brk = 0, frame = 0, overrun = 0, parity = 0, bufOverrun = 0;
};

enum class SerialWait { Readable, Timeout, Woken, Gone };

class ISerialDevice {
 public:
  virtual ~ISerialDevice() = default;
  // Opens read/write, without controlling terminal, exclusively, non-blocking;
  // a failure keeps the system's reason.
  virtual DeviceResult Open(const std::string& path) = 0;
  // Whether a device is there and takes writing, without holding it or
  // touching its line; the system's reason when it is not.
  virtual DeviceResult Probe(const std::string& path) {
    DeviceResult r = Open(path);
    if (r) Close();
    return r;
  }
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Applies the line settings and checks that the device took them; false
  // when it refused any of them.
  virtual bool SetLine(const SerialLine& line) = 0;
  // Non-blocking transfer: the count moved (0 when nothing could be moved), or
  // -1 on failure; gone is set when the device has vanished.
  virtual long Read(void* buf, std::size_t n, bool& gone) = 0;
  virtual long Write(const void* buf, std::size_t n, bool& gone) = 0;
  // Bytes in the driver's receive / transmit queue; -1 when unknown.
  virtual int InQueue() = 0;
  virtual int OutQueue() = 0;
  // False when the device has no modem lines to report (a pseudo-terminal).
  virtual bool GetModemLines(SerialModemLines& lines) = 0;
  // False when the driver offers no interrupt counters.
  virtual bool GetCounters(SerialCounters& counters) = 0;
  // Waits up to timeoutMs for received bytes; Wake() from any thread ends
  // the wait early.
  virtual SerialWait WaitInput(int timeoutMs) = 0;
  virtual void Wake() = 0;
  virtual void PurgeInput() = 0;
  virtual void PurgeOutput() = 0;
};

// Makes the device a serial port opens (the program's: LinuxSerialDevice).
using SerialDeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;

}  // namespace zv
