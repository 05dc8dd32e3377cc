#pragma once
// A small telephone exchange for tests.  Each simulated modem sits on a
// pseudo-terminal (the program under test opens its slave side as a serial
// port) and understands the AT commands of a voice modem; the exchange
// joins two modems by a simulated line, and lets a modem call a voice
// subscriber who hears the message played and keys DTMF digits back.
//
//   data call   ATD<number> rings the called modem ("RING" every two
//               seconds) until it answers with ATA: both get "CONNECT 33600"
//               and every byte goes across; "+++" between two pauses (a
//               byte within the second, a carriage return too, makes it
//               data) returns the sender to command mode, ATH0 hangs up and
//               the other side gets "NO CARRIER".
//   voice call  in voice mode (AT+FCLASS=8) ATD<number> of a subscriber is
//               answered with "VCON"; AT+VTX plays voice to the subscriber
//               (DLE-shielded up to DLE ETX), taken at 8000 bytes a second;
//               once the subscriber heard some of it, the digits it keys
//               reach the modem's host as DLE codes.
//   cable       two pseudo-terminals joined by a null-modem cable.
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zv::test {

class PhoneExchange {
 public:
  struct Subscriber {
    std::string digits;  // keyed once the message has been heard a little
  };

  PhoneExchange();
  ~PhoneExchange();
  PhoneExchange(const PhoneExchange&) = delete;
  PhoneExchange& operator=(const PhoneExchange&) = delete;

  // A modem on a new pseudo-terminal, reachable under number; returns the
  // device path its host opens.
  std::string AddModem(const std::string& number);
  void AddSubscriber(const std::string& number, Subscriber subscriber);
  // A direct serial cable: two pseudo-terminals, every byte written to one
  // read from the other.  Returns their device paths.
  std::pair<std::string, std::string> AddCable();

  // Pulls the modem (or cable end) on the device path out, as a USB modem
  // goes: its pseudo-terminal hangs up and disappears, a call on it ends.
  void Unplug(const std::string& path);
  // Plugs it in again, freshly powered, on a new pseudo-terminal; returns
  // the new device path.
  std::string Replug(const std::string& path);

  // What happened, for the checks.
  std::vector<std::string> Dialled() const;  // every number dialled, in order
  std::vector<std::string> Commands(const std::string& modem) const;
  std::size_t DataSent(const std::string& modem) const;  // bytes it sent over data calls
  std::size_t VoiceHeard(const std::string& subscriber) const;
  bool Connected(const std::string& modem) const;  // in a data call now
  // Waits (real time) until pred holds.
  bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000) const;

 private:
  struct Modem;
  std::string Open(Modem& m);  // its pseudo-terminal; returns the slave's path
  void Run();
  void Pass();
  void Input(Modem& m, const char* data, std::size_t n);
  void CommandLine(Modem& m, const std::string& line);
  void Reply(Modem& m, const std::string& text);
  void ToHost(Modem& m, const std::string& bytes);
  void HangUp(Modem& m, bool tellPeer);
  Modem* FindModem(const std::string& number);
  Modem* ByPath(const std::string& path);

  mutable std::mutex mu_;
  std::vector<std::unique_ptr<Modem>> modems_;
  std::map<std::string, Subscriber> subscribers_;
  std::map<std::string, std::size_t> heard_;
  std::vector<std::string> dialled_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace zv::test
