#pragma once
// The modem-status input lines of a serial device, read by opening the
// device for a moment: open exclusively, read the lines, close.  Contact
// sensors wired to CTS, DSR and DCD are read this way, so the device is never
// held between two reads.
#include <memory>
#include <string>

#include "platform/DeviceResult.h"
#include "platform/SerialDevice.h"

namespace zv {

class IModemLines {
 public:
  virtual ~IModemLines() = default;
  // Opens an existing device for writing, exclusively and without waiting
  // for carrier; fails, with the reason, when it is missing, busy or refused.
  virtual DeviceResult Open(const std::string& path) = 0;
  // Reads the lines of the open device; false when it has none to report
  // (a pseudo-terminal) or the read failed.
  virtual bool Read(SerialModemLines& lines) = 0;
  // Closes the device (nothing happens when it is not open).
  virtual void Close() = 0;
};

}  // namespace zv
