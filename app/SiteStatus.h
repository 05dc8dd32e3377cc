#pragma once
// What the site looks like right now, as the recorder stores it in every
// frame descriptor and the link sends it with every picture.  Written by the
// gauge poll and by arming and disarming; read by anyone.
#include <cstdint>

namespace zv {

struct SiteStatus {
  // The site is armed (defence mode).
  bool Armed = false;
  // Gauges switched on and whose port is in use.  Bits 7..5: the serial
  // inputs CD, DSR, CTS; bits 4..0: the parallel inputs Ack, Busy, Paper
  // out, Select in, Error.
  std::uint8_t GaugeEnabledMask = 0;
  // Gauges whose input is in the alarm state, switched on or not.
  std::uint8_t GaugeAlarmMask = 0;
  // Bit k - 1: camera k (1..8) was in motion alarm at the last poll.
  std::uint8_t CameraAlarmMask = 0;
  // An alarm is being dispatched to the subscribers; disarming clears it.
  bool DispatchActive = false;
};

// What defence mode offers the link: arming and disarming from afar (DTMF
// codes, the station's commands) and the gauge poll's answers (the alarm
// dispatch waits for a lasting alarm; arming by DTMF needs quiet inputs).
class IDefence {
 public:
  virtual ~IDefence() = default;
  // The last heartbeat's poll found no gauge and no camera in alarm.
  virtual bool LastPollQuiet() const = 0;
  // Polls the inputs now; true when all are quiet.
  virtual bool PollNow() = 0;
  // Arms a disarmed site, disarms an armed one; no password is asked.
  virtual void RemoteSwitchMode() = 0;
};

}  // namespace zv
