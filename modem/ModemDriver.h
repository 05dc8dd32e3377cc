#pragma once
// The command-set drivers of the voice-modem engine: the abstract base with
// its command strings and class-level tables, the null driver that answers
// every operation with "not supported", and the registry of driver classes
// by name.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "modem/ModemCodes.h"

namespace zv {

class TVoiceModem;
class TModemProfile;

// The data of a modem event: the first word carries its value (for a DTMF
// digit its character code); the second is 0.
struct TEventData {
  std::int32_t value = 0;
  std::int32_t extra = 0;
};

struct TCodeName {
  int code;
  const char* name;
};

using TNameProc = std::function<void(const std::string& name)>;

class TModemDriver {
 public:
  TModemDriver() = default;
  virtual ~TModemDriver();
  TModemDriver(const TModemDriver&) = delete;
  TModemDriver& operator=(const TModemDriver&) = delete;

  std::string PickPhoneCmd, PickPhoneAnsw, HangUpCmd, HangUpAnsw, BeepCmd, BeepAnsw;
  int BeepTimeUnit = 0;
  std::string HardFlowCmd, HardFlowAnsw, SoftFlowCmd, SoftFlowAnsw;
  std::string StartPlayCmd, StartPlayAnsw, IntrPlayCmd, IntrPlayAnsw, StopPlayCmd, StopPlayAnsw;
  std::string StartRecCmd, StartRecAnsw, StopRecCmd, StopRecAnsw;
  std::string SwitchModeCmd, SwitchModeAnsw, VoiceModeOnCmd, VoiceModeOnAnsw, VoiceModeOffCmd,
      VoiceModeOffAnsw;
  std::string PlayDTMFCmd, PlayDTMFExtra, PlayDTMFAnsw;

  TVoiceModem* Modem() const { return modem_; }
  // Detaches from the previous engine (its driver becomes empty) and
  // attaches to the new one (its driver becomes this one).
  void SetModem(TVoiceModem* modem);
  // The driver's own profile if set, otherwise the engine's.
  TModemProfile* Profile() const;
  void SetProfile(TModemProfile* profile) { profile_ = profile; }

  virtual void Log(int level, const std::string& text);
  virtual void Progress(int done);
  virtual void Yield();
  virtual int AnswerPhone() = 0;
  virtual int Beep(int frequency, int lengthMs) = 0;
  virtual int Dial(const std::string& number) = 0;

  // Class-level tables of (code, name) pairs; none in the base.
  virtual int CompressionTable(const TCodeName*& table) const;
  int CompressionFromName(const std::string& name) const;
  std::string CompressionName(int code) const;
  void EnumCompressions(const TNameProc& proc) const;
  std::vector<std::string> CompressionList() const;
  virtual int DeviceTable(const TCodeName*& table) const;
  int DeviceFromName(const std::string& name) const;
  std::string DeviceName(int code) const;
  void EnumDevices(const TNameProc& proc) const;
  std::vector<std::string> DeviceList() const;
  // Devices that can play (all but 3 and 4) and record (all but 5 and 6).
  void EnumPlayDevices(const TNameProc& proc) const;
  std::vector<std::string> PlayDeviceList() const;
  void EnumRecordDevices(const TNameProc& proc) const;
  std::vector<std::string> RecordDeviceList() const;
  virtual int PlayingTime(int speed, int bits, int count) const;

  virtual int HandleDLE(int code) = 0;
  virtual int HandleEvent(ModemEvent code, TEventData data) = 0;
  virtual int HangUp() = 0;
  virtual int Init() = 0;
  virtual int InitVoice() = 0;
  virtual std::string ModemDescription() const { return {}; }
  virtual std::string ModemType() const { return {}; }
  virtual int PlayDTMF(const std::string& digits) = 0;
  virtual int PlayStream(std::istream& stream, int bitsPerSecond) = 0;
  virtual int RecordStream(std::ostream& stream, int bitsPerSecond) = 0;
  virtual int RestoreVoiceMode() = 0;
  virtual int SetCompression(int& compression, int& speed, int& bits) = 0;
  virtual int SetDevice(int device) = 0;
  virtual int StartPlayStream() = 0;
  virtual int StartRecordStream() = 0;
  virtual int StopDialing() = 0;
  virtual int StopPlayStream() = 0;
  virtual int StopPlaying() = 0;
  virtual int StopRecordStream() = 0;
  virtual int StopRecording() = 0;
  virtual int StopWaiting() = 0;
  virtual int SwitchToDataFax(const std::string& faxClass) = 0;
  virtual int VoiceModeOff() = 0;
  virtual int VoiceModeOn() = 0;
  virtual int Wait(int timeoutMs) = 0;
  virtual int WaitAnswer(const std::string& answers, int timeoutMs) = 0;

  void LogFmt(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Bound to an engine?  When not and complain is set, logs so (which
  // reaches nobody without an engine).
  bool CheckModem(const char* slotName, bool complain);

 private:
  friend class TVoiceModem;
  void EnumTable(bool devices, const std::function<bool(int)>& keep, const TNameProc& proc) const;

  TVoiceModem* modem_ = nullptr;
  TModemProfile* profile_ = nullptr;
};

// The null driver: every operation logs that it was called and fails with
// last error 1.
class TNoModem : public TModemDriver {
 public:
  std::string ModemDescription() const override { return "Serial Port"; }
  std::string ModemType() const override { return "None"; }

  int AnswerPhone() override;
  int Beep(int frequency, int lengthMs) override;
  int Dial(const std::string& number) override;
  int HandleDLE(int code) override;
  int HandleEvent(ModemEvent code, TEventData data) override;
  int HangUp() override;
  int Init() override;
  int InitVoice() override;
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

 protected:
  int NotSupported(const char* slotName);
};

using TModemDriverClass = std::function<std::unique_ptr<TModemDriver>()>;

// The process-wide registry of driver classes; "Motorola SM56" is there from
// the start.
void RegisterModemDriver(const std::string& name, TModemDriverClass cls);
bool FindModemDriver(const std::string& name, TModemDriverClass& cls);

}  // namespace zv
