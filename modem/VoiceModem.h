#pragma once
// The voice-modem engine: command/answer exchange with the modem, answer
// lines and DLE-shielded event codes, an event queue with the default event
// policy, the operating state, voice files and logging of everything
// exchanged.  Synchronous: every operation runs to its end on the calling
// (main) thread, polling the port and raising OnYield meanwhile.  Operations
// never throw; they return codes and keep a last error.
#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "modem/Format.h"
#include "modem/ModemCodes.h"
#include "modem/ModemDriver.h"
#include "modem/ModemLogFile.h"
#include "modem/ModemPort.h"
#include "modem/ModemProfile.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/PortMap.h"
#include "platform/SerialDevice.h"

namespace zv {

constexpr int kStopped = 0x4D00;  // a dial, play, record or wait loop ended by a stop

// Operating states.
enum : int {
  msDialing = 0,
  msIdle = 1,
  msInitializing = 2,
  msPlaying = 5,
  msRecording = 6,
  msWaiting = 7,
};

struct TModemEvent {
  ModemEvent Event = ModemEvent::None;
  TEventData Data;
};

class TVoiceModem {
 public:
  using TNotifyEvent = std::function<void()>;
  using TModemEventHandler = std::function<void(ModemEvent event, TEventData data, int& result)>;
  using TMessageEvent = std::function<void(int level, const std::string& s)>;
  using TModemDataEvent = std::function<void(const std::uint8_t* buffer, int count)>;
  using TModemCharEvent = std::function<void(char c)>;
  using TModemStringEvent = std::function<void(const std::string& s)>;
  using TModemTraceEvent = std::function<void(const std::string& action, const std::string& line)>;
  using TProgressEvent = std::function<void(int done)>;

  static constexpr int kQueueSlots = 2048;

  // devices: the serial devices the engine's own port opens (none: it
  // opens none, and only a port handed in with SetPort works).
  TVoiceModem(IClock& clock, IDispatcher& dispatcher, const PortMap& ports,
              SerialDeviceFactory devices = {});
  virtual ~TVoiceModem();
  TVoiceModem(const TVoiceModem&) = delete;
  TVoiceModem& operator=(const TVoiceModem&) = delete;

  // Reading creates an engine-owned port (bound to the profile) when none
  // is attached.
  TModemPort* Port();
  void SetPort(TModemPort* port);
  // Reading creates an engine-owned default profile when none is attached.
  TModemProfile* Profile();
  void SetProfile(TModemProfile* profile);
  // Reading creates a driver of the profile's ModemName when that name is
  // registered and no driver is attached.
  TModemDriver* Driver();
  void SetDriver(TModemDriver* driver);
  TModemLogFile* LogFile() const { return logFile_; }
  void SetLogFile(TModemLogFile* file);
  TModemLogFile* TraceFile() const { return traceFile_; }
  void SetTraceFile(TModemLogFile* file);

  int LastError() const { return lastError_; }
  void SetLastError(int code) { lastError_ = code; }
  IClock& Clock() { return clock_; }

  // Operations: 0 success, -1 failure unless stated.
  int Open();
  int Close();
  int Init();
  int InitVoice();
  int AnswerPhone();
  int Dial(const std::string& number);
  int HangUp();
  int PlayDTMF(const std::string& digits);
  int Beep(int frequency, int lengthMs);
  int PlayFile(const std::string& fileName);
  int PlayStream(std::istream& stream);
  int RecordFile(const std::string& fileName);
  int RecordStream(std::ostream& stream);
  int SetCompression(int& compression, int& speed, int& bits);
  int SetDevice(int device);
  int VoiceModeOn();
  int VoiceModeOff();
  int RestoreVoiceMode();
  int SwitchToDataFax(const std::string& faxClass);
  int Wait(int timeoutMs);
  int WaitAnswer(const std::string& answers, int timeoutMs);
  int HandleDLE(int code);
  int StopDialing();
  int StopPlaying();
  int StopRecording();
  int StopWaiting();
  int StopCurrent();
  int Stop();
  std::string ModemRMDName();

  bool IsOpen();
  int GetState() const;
  void SetState(int value);
  bool Acquire(const void* owner);
  bool Release();
  bool InUse() const;
  const void* Owner() const;

  int WriteBytes(const void* buffer, int count);
  int WriteChar(char c);
  int WriteString(const std::string& s);
  int ReadBytes(void* buffer, int count);
  int ReadChar(char& c);
  int ReadLine(std::string& line);
  // Discards what the modem sends, for timeoutMs, or with 0 until a pause in
  // the input but never longer than kFlushNowLimitMs.
  int Flush(int timeoutMs);
  int FlushNow() { return Flush(0); }
  static constexpr std::uint64_t kFlushNowLimitMs = 1000;
  static constexpr std::uint64_t kFlushYieldMs = 50;
  // Offers the bytes to the port once, without waiting: the count it took
  // (0 while its output buffer is full), or -1 when the port failed.
  int WriteSome(const void* buffer, int count);
  // Bytes queued for the modem and not yet written to the device.
  int OutputQueued() const;
  // Received bytes are waiting in the port.
  bool InputWaiting();
  // Discards what is queued for the modem and not yet sent.
  void PurgeOutput();

  ModemAnswer Command(const std::string& cmd, const std::string& answers);
  ModemAnswer CommandFmt(const std::string& format, const std::string& answers,
                         const std::vector<FmtArg>& args);
  ModemAnswer MatchAnswer(const std::string& line, const std::string& answers) const;

  int QueueEvent(ModemEvent event, TEventData data = {});
  int UnqueueEvent(TModemEvent& event);
  int ProcessEvents();
  int QueuedEvents() const { return count_; }
  virtual int HandleEvent(ModemEvent code, TEventData data);

  virtual void Log(int level, const std::string& text);
  // printf-like; literal formats only.
  virtual void LogFmt(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  virtual void PortError(int code);
  virtual void Progress(int done);
  virtual void Trace(const std::string& action, char c);
  virtual void Yield();

  TNotifyEvent OnChangeState;
  TModemEventHandler OnEvent;
  TMessageEvent OnDebugMsg;
  TModemDataEvent OnRead, OnWrite;
  TModemCharEvent OnReadChar, OnWriteChar, OnFlushChar;
  TModemStringEvent OnReadString, OnWriteString, OnFlushString;
  TModemTraceEvent OnTrace;
  TProgressEvent OnProgress;
  TNotifyEvent OnYield;

 private:
  friend class TModemDriver;
  bool CheckDriver(const char* slotName);
  bool Logging();
  void EmitTraceLine();
  template <class F>
  void Raise(const char* prefix, F&& f);

  IClock& clock_;
  IDispatcher& dispatcher_;
  const PortMap& ports_;
  SerialDeviceFactory devices_;
  TModemPort* port_ = nullptr;
  std::unique_ptr<TModemPort> ownPort_;
  TModemProfile* profile_ = nullptr;
  std::unique_ptr<TModemProfile> ownProfile_;
  TModemDriver* driver_ = nullptr;
  std::unique_ptr<TModemDriver> ownDriver_;
  TModemLogFile* logFile_ = nullptr;
  TModemLogFile* traceFile_ = nullptr;

  std::string traceLine_, traceAction_;
  bool crPending_ = false;

  std::array<std::unique_ptr<TModemEvent>, kQueueSlots> queue_;
  int count_ = 0, readIndex_ = 0, writeIndex_ = 0;

  mutable std::mutex stateLock_;
  int state_ = msIdle;
  mutable std::mutex ownerLock_;
  bool inUse_ = false;
  const void* owner_ = nullptr;
  int lastError_ = 0;
  bool destroying_ = false;
  int yieldDepth_ = 0;
};

}  // namespace zv
