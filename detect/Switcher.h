#pragma once
// The video switcher in front of the capture card, driven only by the DTR
// and RTS lines of a serial port: dropping both resets it to its first
// input, each DTR pulse steps it on by one, raising RTS ends the sequence.
#include <memory>
#include <string>

#include "app/JournalCodes.h"
#include "platform/PortMap.h"
#include "platform/SwitcherLines.h"

namespace zv {

// What opening the port has to say: an error (status line and journal,
// with its code) or a status line of kind 1, journaled.
struct SwitcherMessage {
  enum Kind { None, Error, Status };
  Kind kind = None;
  JournalCode code = jcNone;
  std::string text;
};

// The port choices that matter for the switcher's port.
struct SwitcherPortChoice {
  int switcherPort = 1;   // SwitcherComPort
  int clientComPort = 0;  // the port of the link with the station
  bool gaugesOnCom = false;
  int eventComPort = 0;  // the port of the serial sensors
};

class SwitcherPort {
 public:
  SwitcherPort(const PortMap& ports, std::unique_ptr<ISwitcherLines> lines)
      : ports_(ports), lines_(std::move(lines)) {}

  // "Com" + n + ":", the name the texts use.
  static std::string DeviceName(int n) { return "Com" + std::to_string(n) + ":"; }

  // (Re)opens the switcher's port.  A port reserved for the station link
  // or the sensors is refused and the port open so far stays open;
  // otherwise the old port is closed and the new one opened: an error when
  // that fails, a status line when it works.
  SwitcherMessage Open(const SwitcherPortChoice& choice);
  bool IsOpen() const { return lines_->IsOpen(); }
  int OpenPort() const { return IsOpen() ? port_ : 0; }

  // Steps the switcher to camera n (1-based); nothing without an open port.
  // A port that went away is closed and told once, and opened
  // again at a later step as soon as it is back (a status line).
  SwitcherMessage SwitchCamera(int n);

 private:
  const PortMap& ports_;
  std::unique_ptr<ISwitcherLines> lines_;
  int port_ = 0;
  int lost_ = 0;  // the port that went away, 0: none
};

}  // namespace zv
