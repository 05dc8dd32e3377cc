#pragma once
// The output control lines (DTR, RTS) of a serial device, which drive the
// video switcher.  The device is opened for writing, exclusively, and only
// if it exists; no line settings are touched and no byte is ever sent.
#include <memory>
#include <string>

#include "platform/DeviceResult.h"

namespace zv {

class ISwitcherLines {
 public:
  virtual ~ISwitcherLines() = default;
  // Opens an existing device; fails, with the reason, when it is missing,
  // busy or refused.
  virtual DeviceResult Open(const std::string& path) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Raises (true) or drops (false) a line; false when the device refused.
  virtual bool SetDtr(bool on) = 0;
  virtual bool SetRts(bool on) = 0;
  // The device is gone: its last request failed as one that is no more
  // (the adapter pulled out, the terminal hung up), not merely refused.
  virtual bool Vanished() const { return false; }
};

}  // namespace zv
