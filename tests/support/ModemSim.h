#pragma once
// A scriptable voice modem on a pseudo-terminal.  The simulator owns the
// master side; the library opens the slave side (SlavePath) through the port
// map.  A test scripts the conversation as steps taken in order: expect a
// command line and answer it, expect DLE-shielded voice data up to DLE ETX,
// expect raw bytes; it can inject bytes at any time, stay silent to force
// time-outs, or hang up the device as if it had been pulled out.
#include <condition_variable>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zv::test {

class ModemSim {
 public:
  ModemSim();
  ~ModemSim();
  ModemSim(const ModemSim&) = delete;
  ModemSim& operator=(const ModemSim&) = delete;

  const std::string& SlavePath() const { return slavePath_; }

  // "\r\n<a>\r\n" for every answer: what a modem sends in verbose mode.
  static std::string Lines(std::initializer_list<std::string> answers);

  // Expects the command line `line` (terminated by CR) and replies `reply`.
  void OnLine(const std::string& line, const std::string& reply = {});
  void Answer(const std::string& line, std::initializer_list<std::string> answers) {
    OnLine(line, Lines(answers));
  }
  // Expects voice data (DLE doubled) until DLE ETX, then replies.  When
  // inject is given it is sent once the first data bytes have arrived.
  void OnVoice(const std::string& reply, const std::string& inject = {});
  // Expects exactly these bytes, then replies.
  void OnBytes(const std::string& bytes, const std::string& reply);

  // Takes voice data no faster than this (as a modem plays it); 0 = at once.
  void SetVoiceRate(int bytesPerSecond);

  // Sends bytes to the library now.
  void Send(const std::string& bytes);
  // Closes the master side: reads of the slave then fail as for a vanished device.
  void Hangup();

  // Waits until every scripted step has been taken; false on time-out.
  bool WaitDone(int timeoutMs = 5000);
  // Waits until at least n bytes have been received in total.
  bool WaitReceived(std::size_t n, int timeoutMs = 5000);

  std::string Received() const;               // every byte received
  std::vector<std::string> Commands() const;  // command lines received, in order
  std::string Voice() const;                  // voice data received, DLE shielding removed
  std::string VoiceCodes() const;             // DLE codes other than DLE/ETX inside voice data
  std::vector<std::string> Errors() const;    // input that did not fit the script

 private:
  enum class Kind { Line, Voice, Bytes };
  struct Step {
    Kind kind;
    std::string expect, reply, inject;
    bool injected = false;
  };
  void Run();
  void Process();  // under mu_
  void WriteAll(const std::string& bytes);

  int master_ = -1;
  int slaveKeep_ = -1;
  std::string slavePath_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Step> steps_;
  std::string pending_, received_, voice_, voiceCodes_;
  std::vector<std::string> commands_, errors_;
  std::mutex writeMu_;
  bool stop_ = false;
  bool hangupRequested_ = false;
  bool hungUp_ = false;
  int voiceRate_ = 0;
  std::thread thread_;
};

}  // namespace zv::test
