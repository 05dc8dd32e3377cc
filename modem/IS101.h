#pragma once
// The driver for voice modems with the IS-101 command set (AT+V commands,
// DLE-shielded voice data and event codes).
#include "modem/ModemDriver.h"

namespace zv {

class TIS101 : public TNoModem {
 public:
  TIS101();

  std::string ModemDescription() const override { return "IS-101 compatible modem"; }
  std::string ModemType() const override { return "IS-101"; }

  int AnswerPhone() override;
  int Beep(int frequency, int lengthMs) override;
  int Dial(const std::string& number) override;
  int HandleDLE(int code) override;
  int HandleEvent(ModemEvent code, TEventData data) override;
  int HangUp() override;
  int PlayDTMF(const std::string& digits) override;
  int PlayStream(std::istream& stream, int bitsPerSecond) override;
  int RecordStream(std::ostream& stream, int bitsPerSecond) override;
  int RestoreVoiceMode() override;
  int SetCompression(int& compression, int& speed, int& bits) override;
  int SetDevice(int device) override;
  int StartPlayStream() override;
  int StartRecordStream() override;
  int StopDialing() override;
  int StopPlayStream() override;
  int StopPlaying() override;
  int StopRecordStream() override;
  int StopRecording() override;
  int StopWaiting() override;
  int SwitchToDataFax(const std::string& faxClass) override;
  int VoiceModeOff() override;
  int VoiceModeOn() override;
  int Wait(int timeoutMs) override;
  int WaitAnswer(const std::string& answers, int timeoutMs) override;
  int PlayingTime(int speed, int bits, int count) const override;

 protected:
  // The engine's Command: 0x1000 when the first expected answer came.
  ModemAnswer Cmd(const std::string& cmd, const std::string& answers);
  int WriteRaw(const std::string& bytes);
  // Reads waiting input during a loop: DLE codes are handled, other bytes
  // logged as unexpected.  -1 on a read failure.
  int DrainEvents();
  int WaitLoop(const std::string* answers, int timeoutMs);

  // The modem is in data mode (its state after power-up and after leaving
  // voice mode): a dial or an answer ends with "CONNECT".
  bool dataMode_ = true;
  bool stopDialing_ = false;
  bool stopPlaying_ = false;
  bool stopRecording_ = false;
  bool stopWaiting_ = false;
};

}  // namespace zv
