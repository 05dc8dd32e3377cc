// Voice files: the 32-byte header ("RMD1", modem type, compression, speed,
// bits) before the modem data, as the engine plays them.  Any file is
// either refused before anything is played or played whole: the modem then
// gets every data byte after the header, DLE-shielded.  And a recording the
// engine makes (the modem's data, shielded, ended by DLE ETX) plays back
// as it was recorded.
//
// The modem here answers as a real one would: OK to commands, CONNECT to
// the play and record commands, OK after the data's end mark.
#include <sstream>
#include <string>

#include "fuzz/FakeModem.h"
#include "fuzz/FuzzSupport.h"

namespace {

using zv::fuzz::Check;

constexpr char kDLE = 16, kETX = 3;

class Responder {
 public:
  explicit Responder(zv::fuzz::FakeModemPort& port) : port_(port) {
    port_.onWrite = [this](const std::string& bytes) {
      for (char c : bytes) Take(c);
    };
  }
  std::string toRecord;  // what the modem records when asked
  std::string played;    // voice data received, shielding removed
  bool playStarted = false;

 private:
  void Reply(const std::string& s) { port_.input += s; }
  void Take(char c) {
    if (playing_) {
      if (afterDle_) {
        afterDle_ = false;
        if (c == kDLE) played += kDLE;
        if (c == kETX) {
          playing_ = false;
          Reply("\r\nOK\r\n");
        }
        return;  // DLE CAN and the like: not data
      }
      if (c == kDLE)
        afterDle_ = true;
      else
        played += c;
      return;
    }
    if (c != '\r') {
      line_ += c;
      return;
    }
    const std::string cmd = line_;
    line_.clear();
    if (cmd.rfind("AT+VTX", 0) == 0) {
      playing_ = playStarted = true;
      Reply("\r\nCONNECT\r\n");
    } else if (cmd.rfind("AT+VRX", 0) == 0) {
      std::string shielded;
      for (char d : toRecord) {
        shielded += d;
        if (d == kDLE) shielded += kDLE;
      }
      Reply("\r\nCONNECT\r\n" + shielded + std::string{kDLE, kETX} + "\r\nOK\r\n");
    } else {
      Reply("\r\nOK\r\n");
    }
  }
  zv::fuzz::FakeModemPort& port_;
  std::string line_;
  bool playing_ = false, afterDle_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return 0;
  const std::string file(reinterpret_cast<const char*>(data), size);
  {
    // Any file: refused before the modem plays anything, or played whole.
    zv::fuzz::ModemRig rig;
    rig.port.chunk = 64;
    Responder modem(rig.port);
    std::istringstream in(file);
    const int r = rig.modem.PlayStream(in);
    if (r == 0) {
      Check(file.size() >= 32 && file.compare(0, 4, "RMD1") == 0, "only a headed file plays");
      Check(modem.played == file.substr(32), "every byte after the header is played");
    } else {
      Check(r == -1, "a refused file fails");
      Check(!modem.playStarted, "a refused file plays nothing");
    }
    Check(rig.modem.GetState() == zv::msIdle, "idle after playing");
  }
  {
    // The same bytes recorded from the modem play back as recorded.
    zv::fuzz::ModemRig rig;
    rig.port.chunk = 64;
    Responder modem(rig.port);
    modem.toRecord = file;
    std::ostringstream out;
    Check(rig.modem.RecordStream(out) == zv::kStopped, "recording ends at the end mark");
    const std::string recorded = out.str();
    Check(recorded.size() == 32 + file.size() && recorded.compare(32, file.size(), file) == 0,
          "the recording holds the header and the data");
    std::istringstream in(recorded);
    Check(rig.modem.PlayStream(in) == 0, "a recording plays");
    Check(modem.played == file, "a recording plays back as recorded");
  }
  return 0;
}
