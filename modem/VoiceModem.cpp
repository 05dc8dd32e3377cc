#include "modem/VoiceModem.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

namespace zv {

namespace {

constexpr char kDLE = 16;
constexpr char kXON = 17;
constexpr char kXOFF = 19;

struct Keyword {
  ModemAnswer code;
  const char* text;
};

// Whole-line answer keywords; letter case is ignored.
constexpr Keyword kKeywords[] = {
    {ModemAnswer::Busy, "BUSY"},
    {ModemAnswer::Connect, "CONNECT"},
    {ModemAnswer::Error, "ERROR"},
    {ModemAnswer::Fax, "FAX"},
    {ModemAnswer::FCon, "+FCON"},
    {ModemAnswer::FCo, "+FCO"},
    {ModemAnswer::NoAnswer, "NO ANSWER"},
    {ModemAnswer::NoCarrier, "NO CARRIER"},
    {ModemAnswer::NoDialTone, "NO DIALTONE"},
    {ModemAnswer::NoDialTone, "NO DIAL TONE"},
    {ModemAnswer::Ok, "OK"},
    {ModemAnswer::Ringing, "RINGING"},
    {ModemAnswer::Ring1, "RING1"},
    {ModemAnswer::Ring1, "RING 1"},
    {ModemAnswer::Ring1, "RING A"},
    {ModemAnswer::Ring2, "RING2"},
    {ModemAnswer::Ring2, "RING 2"},
    {ModemAnswer::Ring2, "RING B"},
    {ModemAnswer::Ring3, "RING3"},
    {ModemAnswer::Ring3, "RING 3"},
    {ModemAnswer::Ring3, "RING C"},
    {ModemAnswer::Ring4, "RING4"},
    {ModemAnswer::Ring4, "RING 4"},
    {ModemAnswer::Ring4, "RING D"},
    {ModemAnswer::Ring5, "RING5"},
    {ModemAnswer::Ring5, "RING 5"},
    {ModemAnswer::Ring5, "RING E"},
    {ModemAnswer::Ring, "RING"},
    {ModemAnswer::VCon, "VCON"},
    {ModemAnswer::VCon, "#VCON"},
    {ModemAnswer::VCon, "VOICE"},
};

bool SameText(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return i == a.size() && !b[i];
}

std::vector<std::string> SplitAnswers(const std::string& answers) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const auto bar = answers.find('|', start);
    out.push_back(
        answers.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return out;
}

// The event data as text: its bytes up to the first zero.
std::string DataText(const TEventData& d) {
  char b[9] = {};
  std::memcpy(b, &d, 8);
  return std::string(b);
}

void PutLE16(std::uint8_t* p, int v) {
  const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
  p[0] = static_cast<std::uint8_t>(u & 0xFF);
  p[1] = static_cast<std::uint8_t>(u >> 8);
}

int GetLE16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

}  // namespace

TVoiceModem::TVoiceModem(IClock& clock, IDispatcher& dispatcher, const PortMap& ports,
                         SerialDeviceFactory devices)
    : clock_(clock), dispatcher_(dispatcher), ports_(ports), devices_(std::move(devices)) {}

TVoiceModem::~TVoiceModem() {
  destroying_ = true;
  if (driver_ && driver_->modem_ == this) driver_->modem_ = nullptr;
  ownDriver_.reset();
  driver_ = nullptr;
  ownPort_.reset();
}

// ------------------------------------------------------------------ components

TModemPort* TVoiceModem::Port() {
  if (!port_) {
    ownPort_ = std::make_unique<TModemPort>(dispatcher_, ports_, devices_);
    port_ = ownPort_.get();
    port_->Profile = Profile();
  }
  return port_;
}

void TVoiceModem::SetPort(TModemPort* port) {
  if (port == port_) return;
  if (ownPort_ && ownPort_.get() != port) ownPort_.reset();
  port_ = port;
}

TModemProfile* TVoiceModem::Profile() {
  if (!profile_) {
    ownProfile_ = std::make_unique<TModemProfile>();
    profile_ = ownProfile_.get();
    if (port_ && !port_->Profile) port_->Profile = profile_;
    if (driver_ && !driver_->profile_) driver_->profile_ = profile_;
  }
  return profile_;
}

void TVoiceModem::SetProfile(TModemProfile* profile) {
  if (profile == profile_) return;
  TModemProfile* old = profile_;
  profile_ = profile;
  if (port_ && (port_->Profile == old || !port_->Profile)) port_->Profile = profile;
  if (driver_ && driver_->profile_ == old) driver_->profile_ = nullptr;
  if (ownProfile_ && ownProfile_.get() != profile) ownProfile_.reset();
}

TModemDriver* TVoiceModem::Driver() {
  if (!driver_) {
    TModemDriverClass cls;
    if (FindModemDriver(Profile()->ModemName, cls)) {
      if (auto d = cls()) {
        TModemDriver* raw = d.get();
        SetDriver(raw);
        ownDriver_ = std::move(d);
        raw->SetProfile(Profile());
      }
    }
  }
  return driver_;
}

void TVoiceModem::SetDriver(TModemDriver* driver) {
  if (driver == driver_) return;
  if (driver_ && driver_->modem_ == this) driver_->modem_ = nullptr;
  if (ownDriver_ && ownDriver_.get() != driver) ownDriver_.reset();
  driver_ = driver;
  if (driver) {
    if (driver->modem_ && driver->modem_ != this && driver->modem_->driver_ == driver)
      driver->modem_->driver_ = nullptr;
    driver->modem_ = this;
  }
}

void TVoiceModem::SetLogFile(TModemLogFile* file) {
  if (file == logFile_) return;
  if (logFile_) logFile_->Close();
  logFile_ = file;
}

void TVoiceModem::SetTraceFile(TModemLogFile* file) {
  if (file == traceFile_) return;
  if (traceFile_) traceFile_->Close();
  traceFile_ = file;
}

template <class F>
void TVoiceModem::Raise(const char* prefix, F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    Log(4, std::string(prefix) + e.what());
  } catch (...) {
    Log(4, std::string(prefix) + "unknown exception");
  }
}

bool TVoiceModem::CheckDriver(const char* slotName) {
  if (Driver()) return true;
  if (!Profile()->ModemName.empty()) {
    Log(4, Fmt("%s: No driver specified, unable to complete operation", slotName));
    lastError_ = 10;
  } else {
    Log(4, Fmt("%s: No modem name specified, unable to complete operation", slotName));
    lastError_ = 11;
  }
  return false;
}

// ------------------------------------------------------------- log and trace

bool TVoiceModem::Logging() {
  return Profile()->ModemLogging;
}

void TVoiceModem::Log(int level, const std::string& text) {
  if (logFile_ && Logging()) logFile_->Add(text);
  if (OnDebugMsg && !destroying_) {
    try {
      OnDebugMsg(level, text);
    } catch (...) {
    }
  }
  Yield();
}

void TVoiceModem::LogFmt(int level, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  char buf[1024];
  const int n = std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  if (n >= 0) Log(level, buf);
}

void TVoiceModem::Yield() {
  if (!OnYield || destroying_) return;
  // A failing handler is logged, and the log's own yield is not repeated.
  if (yieldDepth_ > 0) return;
  ++yieldDepth_;
  std::string failure;
  try {
    OnYield();
  } catch (const std::exception& e) {
    failure = std::string("Yield: ") + e.what();
  } catch (...) {
    failure = "Yield: unknown exception";
  }
  if (!failure.empty()) Log(4, failure);
  --yieldDepth_;
}

void TVoiceModem::Progress(int done) {
  if (OnProgress) Raise("Progress: ", [&] { OnProgress(done); });
  Yield();
}

void TVoiceModem::PortError(int code) {
  Log(4, Fmt("Port error detected (%d)", code));
  QueueEvent(ModemEvent::PortError);
}

void TVoiceModem::EmitTraceLine() {
  if (traceFile_ && Logging()) traceFile_->Add(traceLine_);
  if (OnTrace) {
    const std::string action = traceAction_, line = traceLine_;
    Raise("Trace: ", [&] { OnTrace(action, line); });
  }
  traceLine_.clear();
}

void TVoiceModem::Trace(const std::string& action, char c) {
  const auto text = [](char ch) {
    const auto u = static_cast<unsigned char>(ch);
    std::string t(1, ch);
    if (u < 32) {
      t = "#";
      t += std::to_string(u);
    }
    return t;
  };
  if (c == '\r') {
    crPending_ = true;
    return;
  }
  if (c == '\n') {
    if (!crPending_) {
      traceLine_ += text(c);
      traceAction_ = action;
    } else if (action != traceAction_) {
      EmitTraceLine();
      traceAction_ = action;
      crPending_ = false;
    }
    // After a CR of the same direction the LF is swallowed; the line is
    // emitted by the next character.
    return;
  }
  if (crPending_) {
    EmitTraceLine();
    crPending_ = false;
  }
  traceLine_ += text(c);
  traceAction_ = action;
}

// ---------------------------------------------------------- open, close, state

bool TVoiceModem::IsOpen() {
  return port_ && port_->IsOpen();
}

int TVoiceModem::Open() {
  Log(1, "Opening voice modem device");
  TModemPort* port = Port();
  if (port->IsOpen()) {
    Log(3, "Device already open");
    lastError_ = 0;
    return 0;
  }
  if (!port->Profile) port->Profile = Profile();
  if (port->Open() != 0) {
    Log(4, "Could not open device");
    lastError_ = 13;
    return -1;
  }
  Log(1, "Opened voice modem device");
  return 0;
}

int TVoiceModem::Close() {
  Log(1, "Closing voice modem device");
  const bool wasOpen = IsOpen();
  // Closed also when it failed on its own (a vanished device): the threads
  // and the handle go now.
  if (port_) port_->Close();
  if (wasOpen) {
    if (port_->IsOpen()) {
      Log(4, "Could not closing modem device");
      lastError_ = 13;
      return -1;
    }
    Log(1, "Closed voice modem device");
  } else {
    Log(3, "No voice modem device open");
  }
  if (logFile_) logFile_->Close();
  if (traceFile_) traceFile_->Close();
  return 0;
}

int TVoiceModem::GetState() const {
  std::lock_guard lk(stateLock_);
  return state_;
}

void TVoiceModem::SetState(int value) {
  bool changed;
  {
    std::lock_guard lk(stateLock_);
    changed = state_ != value;
    state_ = value;
  }
  if (!changed || destroying_) return;
  if (OnChangeState) Raise("ChangeState: ", [&] { OnChangeState(); });
  Yield();
}

bool TVoiceModem::Acquire(const void* owner) {
  std::lock_guard lk(ownerLock_);
  if (inUse_) return false;
  inUse_ = true;
  owner_ = owner;
  return true;
}

bool TVoiceModem::Release() {
  std::lock_guard lk(ownerLock_);
  const bool was = inUse_;
  inUse_ = false;
  owner_ = nullptr;
  return was;
}

bool TVoiceModem::InUse() const {
  std::lock_guard lk(ownerLock_);
  return inUse_;
}

const void* TVoiceModem::Owner() const {
  std::lock_guard lk(ownerLock_);
  return owner_;
}

// -------------------------------------------------------------- reading, writing

int TVoiceModem::ReadBytes(void* buffer, int count) {
  const int timeout = Profile()->PortTimeOut;
  const std::uint64_t limit = timeout > 0 ? static_cast<std::uint64_t>(timeout) * 1000 : 0;
  const std::uint64_t start = clock_.TickMs();
  for (;;) {
    if (limit && clock_.TickMs() - start >= limit) {
      Log(4, "TimeOut while reading data from modem");
      lastError_ = 2;
      return -1;
    }
    const int n = port_ ? port_->Read(buffer, count) : -1;
    if (n < 0) {
      Log(4, "Could not read buffer from modem");
      lastError_ = 13;
      return -1;
    }
    if (n > 0) {
      if (OnRead) Raise("Read: ", [&] { OnRead(static_cast<const std::uint8_t*>(buffer), n); });
      Yield();
      lastError_ = 0;
      return n;
    }
    clock_.Sleep(static_cast<unsigned>(std::max(0, Profile()->PortReadDelay)));
    Yield();
  }
}

int TVoiceModem::ReadChar(char& c) {
  if (ReadBytes(&c, 1) != 1) return -1;
  Trace("Recv", c);
  if (OnReadChar) Raise("ReadChar: ", [&] { OnReadChar(c); });
  return 0;
}

int TVoiceModem::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    char c;
    if (ReadChar(c) != 0) return -1;
    if (c == kDLE) {
      char code;
      if (ReadChar(code) != 0) return -1;
      Log(5, Fmt("Read: <DLE> <%s>", std::string(1, code).c_str()));
      HandleDLE(static_cast<unsigned char>(code));
      return 0;
    }
    if (c == '\r') continue;
    if (c == kXON || c == kXOFF) {
      Log(3, Fmt("Unexpected byte %s from voice modem", std::string(1, c).c_str()));
      continue;
    }
    if (c == '\n') {
      if (line.empty()) continue;
      if (OnReadString) Raise("ReadString: ", [&] { OnReadString(line); });
      Log(5, "Read: " + line);
      return 0;
    }
    line += c;
  }
}

int TVoiceModem::WriteBytes(const void* buffer, int count) {
  const int timeout = Profile()->PortTimeOut;
  const std::uint64_t limit = timeout > 0 ? static_cast<std::uint64_t>(timeout) * 1000 : 0;
  const std::uint64_t start = clock_.TickMs();
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  int left = count;
  while (left > 0 && !(limit && clock_.TickMs() - start >= limit)) {
    const int n = port_ ? port_->Write(p, left) : -1;
    if (n < 0) {
      Log(4, "Could not write buffer to modem");
      lastError_ = 13;
      return -1;
    }
    if (n == 0) {
      clock_.Sleep(static_cast<unsigned>(std::max(0, Profile()->PortWriteDelay)));
    } else {
      if (OnWrite) Raise("Write: ", [&] { OnWrite(p, n); });
      p += n;
      left -= n;
    }
    Yield();
  }
  if (left > 0) {
    Log(4, "TimeOut while writing buffer to modem");
    lastError_ = 2;
    return -1;
  }
  lastError_ = 0;
  return 0;
}

int TVoiceModem::WriteChar(char c) {
  if (WriteBytes(&c, 1) != 0) return -1;
  Trace("Send", c);
  if (OnWriteChar) Raise("WriteChar: ", [&] { OnWriteChar(c); });
  return 0;
}

int TVoiceModem::WriteString(const std::string& s) {
  Log(5, "Write: " + s);
  if (WriteBytes(s.data(), static_cast<int>(s.size())) != 0) return -1;
  for (char c : s) Trace("Send", c);
  if (OnWriteString) Raise("WriteStr: ", [&] { OnWriteString(s); });
  return WriteChar('\r');
}

int TVoiceModem::WriteSome(const void* buffer, int count) {
  if (count <= 0) return 0;
  const int n = port_ ? port_->Write(buffer, count) : -1;
  if (n < 0) {
    Log(4, "Could not write buffer to modem");
    lastError_ = 13;
    return -1;
  }
  if (n > 0 && OnWrite)
    Raise("Write: ", [&] { OnWrite(static_cast<const std::uint8_t*>(buffer), n); });
  lastError_ = 0;
  return n;
}

int TVoiceModem::OutputQueued() const {
  return port_ && port_->IsOpen() ? port_->OutCount() : 0;
}

bool TVoiceModem::InputWaiting() {
  return port_ && port_->DataAvailable();
}

void TVoiceModem::PurgeOutput() {
  if (port_) port_->PurgeOutput();
}

int TVoiceModem::Flush(int timeoutMs) {
  // A peer that never stops sending (a picture stream, a line full of
  // noise) must not hold the caller: FlushNow gives up after a bound, and
  // the window's messages run while the input drains.
  const std::uint64_t start = clock_.TickMs();
  const std::uint64_t limit =
      timeoutMs > 0 ? static_cast<std::uint64_t>(timeoutMs) : kFlushNowLimitMs;
  std::uint64_t lastYield = start;
  std::string line;
  for (;;) {
    const std::uint64_t now = clock_.TickMs();
    if (now - start >= limit) break;
    if (now - lastYield >= kFlushYieldMs) {
      lastYield = now;
      Yield();
    }
    if (!InputWaiting()) {
      clock_.Sleep(static_cast<unsigned>(
          std::max(0, Profile()->PortStatusDelay + Profile()->PortReadDelay)));
      Yield();
      lastYield = clock_.TickMs();
      if (!InputWaiting()) {
        if (timeoutMs == 0) break;
        continue;
      }
    }
    char c;
    if (!port_ || port_->Read(&c, 1) != 1) return -1;
    Trace("Recv", c);
    if (OnFlushChar) Raise("FlushChar: ", [&] { OnFlushChar(c); });
    if (c == '\r' || c == '\n') {
      if (!line.empty()) {
        Log(5, "Flush: " + line);
        if (OnFlushString) Raise("FlushString: ", [&] { OnFlushString(line); });
        line.clear();
      }
    } else {
      line += c;
    }
  }
  if (!line.empty()) Log(5, "Flush: " + line);
  return 0;
}

// ------------------------------------------------------------ command exchange

ModemAnswer TVoiceModem::MatchAnswer(const std::string& line, const std::string& answers) const {
  if (line.empty()) return ModemAnswer::Empty;
  if (!answers.empty()) {
    const auto alts = SplitAnswers(answers);
    for (std::size_t i = 0; i < alts.size() && i < kMaxExpectedAnswers; ++i)
      if (!alts[i].empty() && line.compare(0, alts[i].size(), alts[i]) == 0)
        return ExpectedAnswer(static_cast<int>(i));
  }
  for (const auto& k : kKeywords)
    if (SameText(line, k.text)) return k.code;
  return ModemAnswer::NoMatch;
}

ModemAnswer TVoiceModem::Command(const std::string& cmd, const std::string& answers) {
  Log(2, Fmt("Command: '%s' -> '%s'", cmd.c_str(), answers.c_str()));
  if (Profile()->CommandDelay > 0) clock_.Sleep(static_cast<unsigned>(Profile()->CommandDelay));
  ModemAnswer result = ModemAnswer::NoMatch;
  if (!cmd.empty()) {
    if (WriteString(cmd) != 0) {
      FlushNow();
      return ModemAnswer::NoMatch;
    }
    if (Profile()->CommandEcho) {
      for (;;) {
        std::string line;
        if (ReadLine(line) != 0) {
          FlushNow();
          return ModemAnswer::NoMatch;
        }
        const ModemAnswer code = MatchAnswer(line, cmd);
        if (code == ModemAnswer::Expected) break;
        if (code == ModemAnswer::Error) {
          Log(4, "Modem returned ERROR");
          FlushNow();
          return ModemAnswer::NoMatch;
        }
        if (code == ModemAnswer::NoMatch) {
          Log(4, "Modem did not echo the command");
          FlushNow();
          return ModemAnswer::NoMatch;
        }
      }
    }
    result = ModemAnswer::Sent;
  }
  if (answers.empty()) return result;
  for (;;) {
    std::string line;
    if (ReadLine(line) != 0) {
      FlushNow();
      return ModemAnswer::NoMatch;
    }
    const ModemAnswer code = MatchAnswer(line, answers);
    if (ExpectedIndex(code) >= 0) return code;
    if (code == ModemAnswer::Error) {
      Log(4, "Modem returned ERROR");
      FlushNow();
      return ModemAnswer::NoMatch;
    }
    if (code == ModemAnswer::NoMatch) {
      Log(4, "Invalid modem answer");
      FlushNow();
      lastError_ = 16;
      return ModemAnswer::NoMatch;
    }
  }
}

ModemAnswer TVoiceModem::CommandFmt(const std::string& format, const std::string& answers,
                                    const std::vector<FmtArg>& args) {
  std::string cmd;
  if (!FormatArgs(format, args, cmd)) {
    Log(4, "Invalid command format params");
    lastError_ = 17;
    return ModemAnswer::NoMatch;
  }
  return Command(cmd, answers);
}

// ---------------------------------------------------------------- operations

int TVoiceModem::Init() {
  const std::string echo = Profile()->CommandEcho ? "ATE1" : "ATE0";
  if (WriteString(echo) != 0) {
    Log(3, "Can't set local echo");
    return -1;
  }
  const ModemAnswer r = Command("", echo + "|OK");
  if (r != ModemAnswer::Expected && r != ExpectedAnswer(1)) return -1;
  FlushNow();
  if (Command("ATQ0V1", "OK") != ModemAnswer::Expected) {
    Log(3, "Can't set verbal result messages");
    return -1;
  }
  int result = 0;
  if (TModemDriver* d = Driver()) result = d->Init();
  if (!Profile()->ModemInitCmd.empty() &&
      Command(Profile()->ModemInitCmd, Profile()->ModemInitAnsw) != ModemAnswer::Expected)
    Log(3, "Additional initialization command failed");
  return result;
}

int TVoiceModem::InitVoice() {
  if (!CheckDriver("InitVoice")) return -1;
  return driver_->InitVoice();
}

int TVoiceModem::AnswerPhone() {
  Log(1, "Answering Call");
  if (!CheckDriver("AnswerPhone")) return -1;
  return driver_->AnswerPhone();
}

int TVoiceModem::Dial(const std::string& number) {
  if (!CheckDriver("Dial")) return -1;
  return driver_->Dial(number);
}

int TVoiceModem::HangUp() {
  if (!CheckDriver("HangUp")) return -1;
  return driver_->HangUp();
}

int TVoiceModem::PlayDTMF(const std::string& digits) {
  Log(1, "Playing DTMF");
  if (!CheckDriver("PlayDTMF")) return -1;
  return driver_->PlayDTMF(digits);
}

int TVoiceModem::Beep(int frequency, int lengthMs) {
  if (!CheckDriver("Beep")) return -1;
  return driver_->Beep(frequency, lengthMs);
}

int TVoiceModem::SetCompression(int& compression, int& speed, int& bits) {
  Log(1, "Setting compression");
  if (!CheckDriver("SetCompression")) return -1;
  const int r = driver_->SetCompression(compression, speed, bits);
  if (r == 0)
    Log(1, Fmt("Compression method $%04X, speed %d", compression, speed));
  else
    Log(4, Fmt("Could not set compression method $%04X, speed %d", compression, speed));
  return r;
}

int TVoiceModem::SetDevice(int device) {
  Log(1, "Setting device");
  if (!CheckDriver("SetDevice")) return -1;
  return driver_->SetDevice(device);
}

int TVoiceModem::VoiceModeOn() {
  Log(2, "Entering voice mode");
  if (!CheckDriver("VoiceModeOn")) return -1;
  return driver_->VoiceModeOn();
}

int TVoiceModem::VoiceModeOff() {
  Log(2, "Leaving voice mode");
  if (!CheckDriver("VoiceModeOff")) return -1;
  return driver_->VoiceModeOff();
}

int TVoiceModem::RestoreVoiceMode() {
  Log(2, "Restoring voice mode");
  if (!CheckDriver("RestoreVoiceMode")) return -1;
  return driver_->RestoreVoiceMode();
}

int TVoiceModem::SwitchToDataFax(const std::string& faxClass) {
  if (!CheckDriver("SwitchToDataFax")) return -1;
  return driver_->SwitchToDataFax(faxClass);
}

int TVoiceModem::Wait(int timeoutMs) {
  if (!CheckDriver("Wait")) return -1;
  return driver_->Wait(timeoutMs);
}

int TVoiceModem::WaitAnswer(const std::string& answers, int timeoutMs) {
  if (!CheckDriver("WaitAnswer")) return -1;
  return driver_->WaitAnswer(answers, timeoutMs);
}

int TVoiceModem::HandleDLE(int code) {
  if (!CheckDriver("HandleDLE")) return -1;
  return driver_->HandleDLE(code);
}

int TVoiceModem::StopDialing() {
  if (!CheckDriver("StopDialing")) return -1;
  return driver_->StopDialing();
}

int TVoiceModem::StopPlaying() {
  if (!CheckDriver("StopPlaying")) return -1;
  return driver_->StopPlaying();
}

int TVoiceModem::StopRecording() {
  if (!CheckDriver("StopRecording")) return -1;
  return driver_->StopRecording();
}

int TVoiceModem::StopWaiting() {
  if (!CheckDriver("StopWaiting")) return -1;
  return driver_->StopWaiting();
}

int TVoiceModem::StopCurrent() {
  switch (GetState()) {
    case msDialing:
      return StopDialing();
    case msPlaying:
      return StopPlaying();
    case msRecording:
      return StopRecording();
    case msWaiting:
      return StopWaiting();
    default:
      lastError_ = 0;
      return 0;
  }
}

int TVoiceModem::Stop() {
  return QueueEvent(ModemEvent::Stop);
}

std::string TVoiceModem::ModemRMDName() {
  TModemDriver* d = Driver();
  return d ? d->ModemType() : std::string();
}

// --------------------------------------------------------------- voice files

int TVoiceModem::PlayFile(const std::string& fileName) {
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) {
    Log(4, Fmt("File '%s' not found", fileName.c_str()));
    lastError_ = 24;
    return -1;
  }
  std::ifstream f(fileName, std::ios::binary);
  if (!f) {
    Log(4, Fmt("Could not open voice file '%s' (%d)", fileName.c_str(), errno));
    lastError_ = 25;
    return -1;
  }
  Log(1, Fmt("Playing voice file '%s'", fileName.c_str()));
  return PlayStream(f);
}

int TVoiceModem::PlayStream(std::istream& stream) {
  if (!CheckDriver("PlayStream")) return -1;
  int compression, speed, bits;
  if (Profile()->RawData) {
    compression = Profile()->RecCompression;
    speed = Profile()->RecSpeed;
    bits = 8;
  } else {
    std::uint8_t h[32] = {};
    stream.read(reinterpret_cast<char*>(h), 32);
    if (stream.gcount() < 32) {
      Log(4, "Could not read voice file header");
      lastError_ = 20;
      return -1;
    }
    if (std::memcmp(h, "RMD1", 4) != 0) {
      Log(4, "No raw modem data header found");
      lastError_ = 22;
      return -1;
    }
    const std::string type = driver_->ModemType();
    const std::string field(reinterpret_cast<const char*>(h + 4), 16);
    if (field.compare(0, type.size(), type) != 0) {
      Log(4, "Wrong modem type found");
      lastError_ = 23;
      return -1;
    }
    compression = GetLE16(h + 20);
    speed = GetLE16(h + 22);
    bits = h[24];
  }
  if (SetCompression(compression, speed, bits) != 0) return -1;
  if (driver_->StartPlayStream() != 0) {
    Log(4, "StartPlayStream command failed");
    return -1;
  }
  const int r = driver_->PlayStream(stream, speed * bits);
  if (r == -1) {
    Log(4, "PlayStream command failed");
    // Whatever the modem still sends about the broken transfer must not be
    // taken for the answer to the next command.
    FlushNow();
    return -1;
  }
  if (driver_->StopPlayStream() != 0) {
    Log(4, "StopPlayStream command failed");
    return -1;
  }
  return r;
}

int TVoiceModem::RecordFile(const std::string& fileName) {
  std::ofstream f(fileName, std::ios::binary | std::ios::trunc);
  if (!f) {
    Log(4, Fmt("Could not create file '%s' (%d)", fileName.c_str(), errno));
    lastError_ = 26;
    return -1;
  }
  Log(1, Fmt("Recording voice file '%s'", fileName.c_str()));
  return RecordStream(f);
}

int TVoiceModem::RecordStream(std::ostream& stream) {
  if (!CheckDriver("RecordStream")) return -1;
  int compression = Profile()->RecCompression;
  int speed = Profile()->RecSpeed;
  int bits = 8;
  if (SetCompression(compression, speed, bits) != 0) return -1;
  if (!Profile()->RawData) {
    std::uint8_t h[32] = {};
    std::memcpy(h, "RMD1", 4);
    const std::string type = ModemRMDName().substr(0, 16);
    std::memcpy(h + 4, type.data(), type.size());
    PutLE16(h + 20, compression);
    PutLE16(h + 22, speed);
    h[24] = static_cast<std::uint8_t>(bits);
    stream.write(reinterpret_cast<const char*>(h), 32);
    stream.flush();
    if (!stream) {
      Log(4, "Could not write voice file header");
      lastError_ = 21;
      return -1;
    }
  }
  if (driver_->StartRecordStream() != 0) {
    Log(4, "StartRecordStream command failed");
    return -1;
  }
  const int r = driver_->RecordStream(stream, speed * bits);
  if (r == -1) {
    Log(4, "RecordStream command failed");
    // Whatever the modem still sends about the broken transfer must not be
    // taken for the answer to the next command.
    FlushNow();
    return -1;
  }
  if (driver_->StopRecordStream() != 0) {
    Log(4, "StopRecordStream command failed");
    return -1;
  }
  return r;
}

// ---------------------------------------------------------------- event queue

int TVoiceModem::QueueEvent(ModemEvent event, TEventData data) {
  if (count_ + 1 >= kQueueSlots) {
    Log(4, "Event queue full, ignoring event");
    lastError_ = 5;
    return -1;
  }
  ++count_;
  int pos = writeIndex_;
  while (queue_[static_cast<std::size_t>(pos)]) pos = (pos + 1) % kQueueSlots;
  auto ev = std::make_unique<TModemEvent>();
  ev->Event = event;
  ev->Data = data;
  queue_[static_cast<std::size_t>(pos)] = std::move(ev);
  writeIndex_ = (pos + 1) % kQueueSlots;
  Log(5, Fmt("Queued event $%04X at position %d", EventCode(event), pos));
  return 0;
}

int TVoiceModem::UnqueueEvent(TModemEvent& event) {
  if (count_ <= 0) {
    lastError_ = 6;
    return -1;
  }
  int pos = readIndex_;
  for (int i = 0; i < kQueueSlots && !queue_[static_cast<std::size_t>(pos)]; ++i)
    pos = (pos + 1) % kQueueSlots;
  auto& slot = queue_[static_cast<std::size_t>(pos)];
  if (!slot) {
    lastError_ = 7;
    return -1;
  }
  event = *slot;
  slot.reset();
  --count_;
  readIndex_ = (pos + 1) % kQueueSlots;
  Log(5, Fmt("Unqueued event $%04X at position %d", EventCode(event.Event), pos));
  return 0;
}

int TVoiceModem::ProcessEvents() {
  while (count_ > 0) {
    TModemEvent ev;
    if (UnqueueEvent(ev) != 0) return -1;
    if (HandleEvent(ev.Event, ev.Data) == -1) {
      Log(4, "Could not handle event, something failed");
      lastError_ = 4;
      return -1;
    }
  }
  lastError_ = 0;
  return 0;
}

int TVoiceModem::HandleEvent(ModemEvent code, TEventData data) {
  const std::string text = DataText(data);
  Log(5, Fmt("Got event $%04X with data <%s>", EventCode(code), text.c_str()));
  int result = -2;
  if (TModemDriver* d = Driver()) result = d->HandleEvent(code, data);
  if (result != -2) return result;
  if (OnEvent) {
    Raise("HandleEvent: ", [&] { OnEvent(code, data, result); });
    if (result != -2) return result;
  }
  if (code == ModemEvent::Stop) {
    StopCurrent();
    return 0;
  }
  const int state = GetState();
  const bool stopAll =
      code == ModemEvent::Busy || code == ModemEvent::DataTone || code == ModemEvent::CallingTone;
  const bool dialTone = code == ModemEvent::DialTone;
  if (state == msDialing && stopAll) return StopDialing();
  if (state == msPlaying && (stopAll || dialTone)) return StopPlaying();
  if (state == msRecording) {
    if (stopAll || dialTone || code == ModemEvent::Silence) return StopRecording();
    if (code == ModemEvent::Quiet) return Profile()->RecIgnoreSilence ? 0 : StopRecording();
  }
  if (state == msWaiting && (stopAll || dialTone || code == ModemEvent::Ring)) return StopWaiting();
  Log(3, Fmt("Got unknown event $%04X with data <%s>", EventCode(code), text.c_str()));
  return -2;
}

}  // namespace zv
