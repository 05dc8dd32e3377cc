#pragma once
// A voice-modem engine with the program's driver on a port without a
// device: what the modem "sends" is a byte string the target sets, what the
// engine writes is kept, and time moves only when the engine sleeps.  An
// optional responder sees every write and may queue the modem's reply.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "modem/ModemPort.h"
#include "modem/MotorolaSM56.h"
#include "modem/VoiceModem.h"
#include "platform/Dispatcher.h"
#include "platform/PortMap.h"

namespace zv::fuzz {

class StepClock final : public IClock {
 public:
  TDateTime Now() const override { return 45000.5 + static_cast<double>(ms_) / 86400000.0; }
  std::uint64_t TickMs() const override { return ms_; }
  void Sleep(unsigned ms) override { ms_ += ms; }

 private:
  std::uint64_t ms_ = 0;
};

class FakeModemPort final : public TModemPort {
 public:
  using TModemPort::TModemPort;

  int Open() override {
    open_ = true;
    return 0;
  }
  int Close() override {
    open_ = false;
    return 0;
  }
  bool IsOpen() const override { return open_; }
  bool DataAvailable() const override { return open_ && at < input.size(); }
  void PurgeOutput() override {}
  int Read(void* buffer, int count) override {
    if (!open_) return -1;
    if (at >= input.size()) {
      if (failAtEnd) open_ = false;  // the device went away
      return failAtEnd ? -1 : 0;
    }
    const std::size_t n =
        std::min({static_cast<std::size_t>(std::max(count, 0)), chunk, input.size() - at});
    std::memcpy(buffer, input.data() + at, n);
    at += n;
    return static_cast<int>(n);
  }
  int Write(const void* buffer, int count) override {
    if (!open_) return -1;
    const std::string bytes(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    written += bytes;
    if (onWrite) onWrite(bytes);
    return count;
  }

  std::string input;       // what the modem sends
  std::size_t at = 0;      // how much of it was read
  std::size_t chunk = 1;   // the most one read hands out
  bool failAtEnd = false;  // past the input reads fail instead of finding nothing
  std::string written;     // what the engine sent
  std::function<void(const std::string&)> onWrite;

 private:
  bool open_ = false;
};

// The engine as the program wires it, with short time limits.
struct ModemRig {
  StepClock clock;
  QueueDispatcher dispatcher;
  PortMap ports;
  TModemProfile profile;
  TMotorolaSM56 driver;
  FakeModemPort port{dispatcher, ports};
  TVoiceModem modem{clock, dispatcher, ports};

  ModemRig() {
    profile.Port = 3;
    profile.ModemName = "Motorola SM56";
    profile.PortTimeOut = 1;
    profile.CommandDelay = 0;
    profile.DialTimeOut = 5;
    profile.RecMaxLen = 5;
    profile.PlayMaxLen = 5;
    modem.SetProfile(&profile);
    modem.SetDriver(&driver);
    port.Profile = &profile;
    modem.SetPort(&port);
    modem.Open();
  }
  ~ModemRig() { modem.SetPort(nullptr); }
};

}  // namespace zv::fuzz
