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
  int Open();
  int Close();
  // -1 when the port is not open, else the bytes taken (0 when none).
  int Read(void* buffer, int count);
  // -1 when the port is not open, else the bytes the output buffer accepted.
  int Write(const void* buffer, int count);
};

}  // namespace zv
