#pragma once
// The serial port of a voice modem, configured from a modem profile.
#include "modem/CommPort.h"

namespace zv {

class TModemProfile;

class TModemPort : public TCustomCommPort {
 public:
  using TCustomCommPort::TCustomCommPort;

  TModemProfile* Profile = nullptr;

  // 0 when the port is open afterwards; -1 without a profile, with a profile
  // value outside its set, or when the device cannot be opened.
  // Virtual, as are IsOpen, DataAvailable and PurgeOutput of the base: the
  // engine reaches the modem through these alone, so another byte source
  // (a test's or a fuzzer's) can stand in for the serial line.
  virtual int Open();
  virtual int Close();
  // -1 when the port is not open, else the bytes taken (0 when none).
  virtual int Read(void* buffer, int count);
  // -1 when the port is not open, else the bytes the output buffer accepted.
  virtual int Write(const void* buffer, int count);
};

}  // namespace zv
