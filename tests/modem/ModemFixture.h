#pragma once
// An engine with the SM56 driver on the real serial port, talking to the
// modem simulator; log and trace lines are collected for the checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "modem/MotorolaSM56.h"
#include "modem/VoiceModem.h"
#include "platform/Clock.h"
#include "platform/LinuxSerialDevice.h"
#include "support/ModemSim.h"

namespace zv {
// Codes print as their numbers in failure messages.
inline void PrintTo(ModemAnswer a, std::ostream* os) {
  *os << "answer $" << std::hex << AnswerCode(a) << std::dec;
}
inline void PrintTo(ModemEvent e, std::ostream* os) {
  *os << "event $" << std::hex << EventCode(e) << std::dec;
}
}  // namespace zv

namespace zv::test {

// Real time, but the engine's own sleeps (command delays, DTMF pauses) pass
// at once: only their length is added to the clock.
class QuickSleepClock final : public IClock {
 public:
  TDateTime Now() const override {
    return real_.Now() + static_cast<double>(skipped_) / 86400000.0;
  }
  std::uint64_t TickMs() const override { return real_.TickMs() + skipped_; }
  void Sleep(unsigned ms) override {
    const unsigned real = ms < 2 ? ms : 2;
    real_.Sleep(real);
    skipped_ += ms - real;
  }

 private:
  SystemClock real_;
  std::uint64_t skipped_ = 0;
};

struct ModemFixture : ::testing::Test {
  ModemSim sim;
  QuickSleepClock clock;
  QueueDispatcher dispatcher;
  PortMap ports;
  TModemProfile profile;
  TMotorolaSM56 driver;
  TVoiceModem modem{clock, dispatcher, ports, MakeLinuxSerialDevice};
  std::vector<std::pair<int, std::string>> logs;
  std::vector<std::pair<std::string, std::string>> traces;
  std::vector<std::pair<ModemEvent, int>> events;  // (event, data) seen by OnEvent
  bool handleEvents = false;                       // OnEvent answers 0

  ModemFixture() {
    ports.Set("COM3", sim.SlavePath());
    profile.Port = 3;
    profile.ModemName = "Motorola SM56";
    profile.PortTimeOut = 2;
    profile.PortStatusDelay = 5;
    profile.PortReadDelay = 2;
    profile.PortWriteDelay = 2;
    profile.CommandDelay = 0;
    modem.SetProfile(&profile);
    modem.SetDriver(&driver);
    modem.OnDebugMsg = [this](int level, const std::string& s) { logs.emplace_back(level, s); };
    modem.OnTrace = [this](const std::string& a, const std::string& l) {
      traces.emplace_back(a, l);
    };
    modem.OnYield = [this] { dispatcher.Drain(); };
    modem.OnEvent = [this](ModemEvent ev, TEventData d, int& result) {
      events.emplace_back(ev, d.value);
      if (handleEvents) result = 0;
    };
  }

  void OpenModem() { ASSERT_EQ(modem.Open(), 0); }

  bool Logged(const std::string& text) const {
    return std::any_of(logs.begin(), logs.end(), [&](const auto& l) { return l.second == text; });
  }
  bool Logged(int level, const std::string& text) const {
    return std::find(logs.begin(), logs.end(), std::make_pair(level, text)) != logs.end();
  }
  // The log lines from the first one equal to `from` on.
  std::vector<std::string> LogFrom(const std::string& from, int maxLevel = 4) const {
    std::vector<std::string> out;
    bool on = false;
    for (const auto& [level, text] : logs) {
      if (text == from) on = true;
      if (on && level <= maxLevel) out.push_back(text);
    }
    return out;
  }
};

}  // namespace zv::test
