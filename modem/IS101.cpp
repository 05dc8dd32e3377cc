#include "modem/IS101.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <ostream>
#include <vector>

#include "modem/Format.h"
#include "modem/VoiceModem.h"

namespace zv {

namespace {
constexpr char kDLE = 16;
constexpr char kETX = 3;
constexpr char kCAN = 24;
constexpr char kSUB = 26;

std::string Ch(int c) {
  return std::string(1, static_cast<char>(c));
}
}  // namespace

TIS101::TIS101() {
  PickPhoneCmd = "AT+VLS=2A";
  PickPhoneAnsw = "OK";
  HangUpCmd = "ATH0";
  HangUpAnsw = "OK";
  BeepCmd = "AT+VTS=[%d,0,%d]";
  BeepAnsw = "OK";
  BeepTimeUnit = 10;
  HardFlowCmd = "AT+FLO=2";
  HardFlowAnsw = "OK";
  SoftFlowCmd = "AT+FLO=1";
  SoftFlowAnsw = "OK";
  StartPlayCmd = "AT+VTX";
  StartPlayAnsw = "CONNECT";
  IntrPlayCmd = {kDLE, kCAN, kDLE, kETX};
  IntrPlayAnsw = "OK";
  StopPlayCmd = {kDLE, kETX};
  StopPlayAnsw = "OK";
  StartRecCmd = "AT+VRX";
  StartRecAnsw = "CONNECT";
  StopRecCmd = {kDLE, '!'};
  StopRecAnsw = "OK";
  SwitchModeCmd = "AT+FCLASS=%s";
  SwitchModeAnsw = "OK";
  VoiceModeOnCmd = "AT+FCLASS=8";
  VoiceModeOnAnsw = "OK";
  VoiceModeOffCmd = "AT+FCLASS=0";
  VoiceModeOffAnsw = "OK";
  PlayDTMFCmd = "AT+VTS=%s";
  PlayDTMFExtra = ",%s";
  PlayDTMFAnsw = "OK";
}

ModemAnswer TIS101::Cmd(const std::string& cmd, const std::string& answers) {
  return Modem()->Command(cmd, answers);
}

int TIS101::WriteRaw(const std::string& bytes) {
  return Modem()->WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
}

int TIS101::AnswerPhone() {
  if (!CheckModem("AnswerPhone", true)) return -1;
  const int ok = AnswerCode(ModemAnswer::Ok), error = AnswerCode(ModemAnswer::Error);
  if (!dataMode_) return Cmd(PickPhoneCmd, PickPhoneAnsw) == ModemAnswer::Expected ? ok : error;
  // Answering a data call, the modem reports the connection ("CONNECT" or
  // "CONNECT <rate>"), or that none came about.
  const ModemAnswer r = Cmd(PickPhoneCmd, PickPhoneAnsw + "|CONNECT|NO CARRIER");
  return r == ModemAnswer::Expected || r == ExpectedAnswer(1) ? ok : error;
}

int TIS101::HangUp() {
  if (!CheckModem("HangUp", true)) return -1;
  return Cmd(HangUpCmd, HangUpAnsw) == ModemAnswer::Expected ? 0 : -1;
}

int TIS101::VoiceModeOn() {
  if (!CheckModem("VoiceModeOn", true)) return -1;
  if (Cmd(VoiceModeOnCmd, VoiceModeOnAnsw) != ModemAnswer::Expected) return -1;
  dataMode_ = false;
  return 0;
}

int TIS101::VoiceModeOff() {
  if (!CheckModem("VoiceModeOff", true)) return -1;
  if (Cmd(VoiceModeOffCmd, VoiceModeOffAnsw) != ModemAnswer::Expected) return -1;
  dataMode_ = true;
  return 0;
}

int TIS101::RestoreVoiceMode() {
  return TIS101::VoiceModeOn();
}

int TIS101::SetCompression(int&, int&, int&) {
  return CheckModem("SetCompression", true) ? 0 : -1;
}

int TIS101::SetDevice(int) {
  return CheckModem("SetDevice", true) ? 0 : -1;
}

int TIS101::HandleEvent(ModemEvent, TEventData) {
  return -2;
}

int TIS101::SwitchToDataFax(const std::string& faxClass) {
  if (!CheckModem("SwitchToDataFax", true)) return -1;
  if (Modem()->CommandFmt(SwitchModeCmd, SwitchModeAnsw, {faxClass}) != ModemAnswer::Expected)
    return -1;
  dataMode_ = faxClass == "0";
  return Cmd("AT", "OK") == ModemAnswer::Expected ? 0 : -1;
}

int TIS101::PlayingTime(int speed, int bits, int count) const {
  const long long perSecond = static_cast<long long>(speed) * bits / 8;
  if (perSecond == 0) return 0;
  return static_cast<int>(std::llround(static_cast<double>(count) / perSecond * 1000.0));
}

int TIS101::HandleDLE(int code) {
  if (!CheckModem("HandleDLE", true)) return -1;
  TVoiceModem& m = *Modem();
  auto event = [&](ModemEvent ev, int value = 0) {
    TEventData d;
    d.value = value;
    return m.QueueEvent(ev, d);
  };
  auto note = [&](const char* text) {
    Log(3, text);
    return 0;
  };
  if ((code >= '0' && code <= '9') || code == '*' || code == '#' || (code >= 'A' && code <= 'D'))
    return event(ModemEvent::Dtmf, code);
  switch (code) {
    case kETX:
      return note("<DLE> <ETX> received");
    case 'T':
      return 0;
    case kDLE:
      return note("Shielded <DLE> received");
    case kSUB:
      return note("Shielded <DLE> <DLE> received");
    case '$':
      return event(ModemEvent::Bong);
    case '/':
      return note("Start of DTMF shielding received");
    case '~':
      return note("End of DTMF shielding received");
    case 'E':
      return note("Invalid voice format detected");
    case 'H':
    case 'P':
      return event(ModemEvent::OnHook);
    case 'J':
      return event(ModemEvent::DleJ);
    case 'K':
    case 'b':
      return event(ModemEvent::Busy);
    case 'L':
      return event(ModemEvent::LoopReversed);
    case 'Q':
      return note("XON received");
    case 'S':
      return note("XOFF received");
    case 'R':
      return event(ModemEvent::Ring);
    case 'V':
    case 'v':
      return event(ModemEvent::DleV);
    case 'Y':
      return note("Lost data detected event");
    case 'a':
      return event(ModemEvent::AnswerTone);
    case 'c':
    case 'm':
      return event(ModemEvent::CallingTone);
    case 'd':
    case 'i':
      return event(ModemEvent::DialTone);
    case 'e':
    case 'f':
      return event(ModemEvent::DataTone);
    case 'h':
    case 'p':
      return event(ModemEvent::OffHook);
    case 'l':
      return event(ModemEvent::LoopInterrupted);
    case 'o':
      return note("Buffer overrun");
    case 'q':
      return event(ModemEvent::Quiet);
    case 'r':
      return event(ModemEvent::Ringback);
    case 's':
      return event(ModemEvent::Silence);
    case 't':
      return event(ModemEvent::DleT);
    case 'u':
      return note("Buffer underrun");
    case 'w':
      return event(ModemEvent::DleW);
    default:
      Log(3, Fmt("Unknown code <DLE> <%s>", Ch(code).c_str()));
      return -1;
  }
}

int TIS101::Dial(const std::string& number) {
  if (!CheckModem("Dial", true)) return -1;
  TVoiceModem& m = *Modem();
  TModemProfile& p = *Profile();
  m.SetState(msDialing);
  stopDialing_ = false;
  std::string cmd;
  FormatArgs("ATD%s%s", {p.DialMode, number}, cmd);
  if (m.Command(cmd, "") != ModemAnswer::Sent) {
    m.SetState(msIdle);
    return -1;
  }
  const std::uint64_t limit =
      p.DialTimeOut > 0 ? static_cast<std::uint64_t>(p.DialTimeOut) * 1000 : 0;
  const std::uint64_t start = m.Clock().TickMs();
  // In data mode the call is through when the modem reports the connection
  // ("CONNECT" or "CONNECT <rate>"); "NO CARRIER" means it did not come about.
  const std::string answers = dataMode_ ? cmd + "|CONNECT|NO CARRIER" : cmd;
  bool known = false;
  int outcome = 0;
  for (;;) {
    if (stopDialing_ || known) {
      m.SetState(msIdle);
      m.ProcessEvents();
      if (stopDialing_) return kStopped;
      // Event handling clears the last error; an unexpected answer keeps its own.
      if (outcome == -1) m.SetLastError(16);
      return outcome;
    }
    if (m.InputWaiting()) {
      std::string line;
      if (m.ReadLine(line) != 0) {
        m.SetState(msIdle);
        return -1;
      }
      const ModemAnswer code = m.MatchAnswer(line, answers);
      const int alternative = ExpectedIndex(code);
      if (alternative == 1 || alternative == 2) {
        // In data mode: "CONNECT" (through) or "NO CARRIER" (not through).
        known = true;
        outcome = alternative == 1 ? 0 : kStopped;
      } else {
        switch (code) {
          case ModemAnswer::Expected:
          case ModemAnswer::Empty:
          case ModemAnswer::Ringing:
            break;
          // A call that did not come through is not a success: the event
          // tells which way it failed, the result that it was not connected.
          case ModemAnswer::Busy:
            m.QueueEvent(ModemEvent::Busy);
            known = true;
            outcome = kStopped;
            break;
          case ModemAnswer::NoAnswer:
            m.QueueEvent(ModemEvent::NoAnswer);
            known = true;
            outcome = kStopped;
            break;
          case ModemAnswer::NoDialTone:
            m.QueueEvent(ModemEvent::NoDialTone);
            known = true;
            outcome = kStopped;
            break;
          case ModemAnswer::Ok:
          case ModemAnswer::VCon:
            known = true;
            outcome = 0;
            break;
          default:
            m.SetLastError(16);
            known = true;
            outcome = -1;
            break;
        }
      }
    } else {
      m.Clock().Sleep(static_cast<unsigned>(std::max(0, p.PortReadDelay)));
    }
    Yield();
    m.ProcessEvents();
    if (limit && m.Clock().TickMs() - start >= limit && !stopDialing_) {
      m.QueueEvent(ModemEvent::TimeLimit);
      m.StopDialing();
    }
  }
}

int TIS101::PlayDTMF(const std::string& digits) {
  if (!CheckModem("PlayDTMF", true)) return -1;
  if (digits.empty()) return -1;
  TVoiceModem& m = *Modem();
  std::string cmd;
  bool ok = FormatArgs(PlayDTMFCmd, {digits.substr(0, 1)}, cmd);
  for (std::size_t i = 1; ok && i < digits.size(); ++i) {
    std::string next;
    ok = FormatArgs(cmd + PlayDTMFExtra, {digits.substr(i, 1)}, next);
    cmd = next;
  }
  if (!ok) {
    Log(4, "Invalid DTMF command format params");
    m.SetLastError(17);
    return -1;
  }
  if (m.Command(cmd, "") != ModemAnswer::Sent) return -1;
  m.Clock().Sleep(static_cast<unsigned>(500 * digits.size()));
  return m.Command("", PlayDTMFAnsw) == ModemAnswer::Expected ? 0 : -1;
}

int TIS101::Beep(int frequency, int lengthMs) {
  if (!CheckModem("Beep", true)) return -1;
  TVoiceModem& m = *Modem();
  const int unit = BeepTimeUnit > 0 ? BeepTimeUnit : 1;
  if (m.CommandFmt(BeepCmd, "", {frequency, lengthMs / unit}) != ModemAnswer::Sent) return -1;
  const std::uint64_t start = m.Clock().TickMs();
  while (m.Clock().TickMs() - start < static_cast<std::uint64_t>(std::max(0, lengthMs)) &&
         !m.InputWaiting())
    m.Clock().Sleep(static_cast<unsigned>(std::max(1, Profile()->PortReadDelay)));
  return m.Command("", BeepAnsw) == ModemAnswer::Expected ? 0 : -1;
}

int TIS101::StartPlayStream() {
  if (!CheckModem("StartPlayStream", true)) return -1;
  stopPlaying_ = false;
  if (Cmd(HardFlowCmd, HardFlowAnsw) != ModemAnswer::Expected) return -1;
  return Cmd(StartPlayCmd, StartPlayAnsw) == ModemAnswer::Expected ? 0 : -1;
}

int TIS101::StartRecordStream() {
  if (!CheckModem("StartRecordStream", true)) return -1;
  stopRecording_ = false;
  if (Cmd(HardFlowCmd, HardFlowAnsw) != ModemAnswer::Expected) return -1;
  return Cmd(StartRecCmd, StartRecAnsw) == ModemAnswer::Expected ? 0 : -1;
}

int TIS101::StopDialing() {
  stopDialing_ = true;
  return 0;
}

int TIS101::StopPlaying() {
  stopPlaying_ = true;
  return 0;
}

int TIS101::StopWaiting() {
  stopWaiting_ = true;
  return 0;
}

int TIS101::StopRecording() {
  if (!CheckModem("StopRecording", true)) return -1;
  stopRecording_ = true;
  const int r = WriteRaw(StopRecCmd);
  Log(5, "<STOP RECORDING>");
  return r == 0 ? 0 : -1;
}

int TIS101::StopPlayStream() {
  if (!CheckModem("StopPlayStream", true)) return -1;
  TVoiceModem& m = *Modem();
  if (stopPlaying_) {
    m.PurgeOutput();
    const char zero = 0;
    if (m.WriteBytes(&zero, 1) != 0 || WriteRaw(IntrPlayCmd) != 0) return -1;
    Log(5, "<INTERRUPT PLAYING>");
    return Cmd("", IntrPlayAnsw) == ModemAnswer::Expected ? 0 : -1;
  }
  if (WriteRaw(StopPlayCmd) != 0) return -1;
  Log(5, "<STOP PLAYING>");
  return Cmd("", StopPlayAnsw) == ModemAnswer::Expected ? 0 : -1;
}

int TIS101::StopRecordStream() {
  if (!CheckModem("StopRecordStream", true)) return -1;
  return Cmd("", StopRecAnsw) == ModemAnswer::Expected ? 0 : -1;
}

int TIS101::DrainEvents() {
  TVoiceModem& m = *Modem();
  while (m.InputWaiting()) {
    char c;
    if (m.ReadBytes(&c, 1) != 1) return -1;
    if (c != kDLE) {
      Log(3, Fmt("Unexpected byte %s from voice modem", Ch(c).c_str()));
      continue;
    }
    char code;
    if (m.ReadBytes(&code, 1) != 1) return -1;
    Log(5, Fmt("Read: <DLE> <%s>", Ch(code).c_str()));
    m.HandleDLE(static_cast<unsigned char>(code));
  }
  return 0;
}

int TIS101::PlayStream(std::istream& stream, int bitsPerSecond) {
  if (!CheckModem("PlayStream", true)) return -1;
  TVoiceModem& m = *Modem();
  TModemProfile& p = *Profile();
  m.SetState(msPlaying);
  // A tenth of a second per pass, at least one byte so that the loop ends.
  const int chunk = std::clamp(bitsPerSecond / 8 / 10, 1, 1024);
  const int seconds = p.PlayPreview ? p.PlayPreviewLen : p.PlayMaxLen;
  const std::uint64_t limit = seconds > 0 ? static_cast<std::uint64_t>(seconds) * 1000 : 0;
  const std::uint64_t start = m.Clock().TickMs();

  const auto begin = stream.tellg();
  stream.seekg(0, std::ios::end);
  const auto end = stream.tellg();
  stream.seekg(begin);
  const double size = (begin >= 0 && end >= 0) ? static_cast<double>(end) : 0.0;

  Log(5, "<START PLAYING>");
  bool exhausted = false;
  std::vector<char> buf;
  for (;;) {
    if (stopPlaying_ || exhausted) {
      m.SetState(msIdle);
      if (stopPlaying_) return kStopped;
      m.ProcessEvents();
      return 0;
    }
    buf.clear();
    for (int i = 0; i < chunk; ++i) {
      const int c = stream.get();
      if (c == std::char_traits<char>::eof()) {
        exhausted = true;
        break;
      }
      buf.push_back(static_cast<char>(c));
      if (c == kDLE) buf.push_back(kDLE);
      Yield();
    }
    if (!buf.empty()) {
      Log(5, Fmt("<VOICE DATA %d bytes>", static_cast<int>(buf.size())));
      if (m.WriteBytes(buf.data(), static_cast<int>(buf.size())) != 0) {
        m.SetState(msIdle);
        return -1;
      }
      stream.clear();
      const auto pos = stream.tellg();
      if (size > 0 && pos >= 0)
        Progress(static_cast<int>(std::lround(pos / size * 100.0)));
      else if (exhausted)
        Progress(100);
    }
    if (DrainEvents() != 0) {
      m.SetState(msIdle);
      return -1;
    }
    m.ProcessEvents();
    if (limit && m.Clock().TickMs() - start >= limit && !stopPlaying_) {
      m.QueueEvent(ModemEvent::TimeLimit);
      m.StopPlaying();
    }
  }
}

int TIS101::RecordStream(std::ostream& stream, int bitsPerSecond) {
  if (!CheckModem("RecordStream", true)) return -1;
  TVoiceModem& m = *Modem();
  TModemProfile& p = *Profile();
  m.SetState(msRecording);
  const std::size_t chunk = static_cast<std::size_t>(std::clamp(bitsPerSecond / 8 / 10, 1, 1024));
  const std::uint64_t limit = p.RecMaxLen > 0 ? static_cast<std::uint64_t>(p.RecMaxLen) * 1000 : 0;
  const std::uint64_t start = m.Clock().TickMs();
  Log(5, "<START RECORDING>");

  std::vector<char> buf;
  bool lost = false;
  auto save = [&] {
    stream.write(buf.data(), static_cast<std::streamsize>(buf.size()));
    Log(5, Fmt("<VOICE DATA %d bytes>", static_cast<int>(buf.size())));
    buf.clear();
    if (!stream && !lost) {
      // The file takes no more (a full disk): a recording with a hole is
      // not a recording.  Stop the modem and report the failure.
      lost = true;
      Log(4, "Could not write voice data");
      if (!stopRecording_) m.StopRecording();
    }
    const auto size = stream.tellp();
    Progress(size >= 0 ? static_cast<int>(size) : 0);
  };
  bool afterDle = false;
  bool endMark = false;
  while (!endMark) {
    if (limit && m.Clock().TickMs() - start >= limit && !stopRecording_) {
      m.QueueEvent(ModemEvent::TimeLimit);
      m.StopRecording();
    }
    char c;
    if (m.ReadBytes(&c, 1) != 1) {
      m.SetState(msIdle);
      return -1;
    }
    if (afterDle) {
      afterDle = false;
      if (c == kETX) {
        save();
        Log(5, "<DLE> <ETX>");
        endMark = true;
      } else if (c == kDLE) {
        buf.push_back(kDLE);
      } else if (c == kSUB) {
        buf.push_back(kDLE);
        buf.push_back(kDLE);
      } else {
        Log(5, Fmt("Read: <DLE> <%s>", Ch(c).c_str()));
        m.HandleDLE(static_cast<unsigned char>(c));
      }
    } else if (c == kDLE) {
      afterDle = true;
    } else {
      buf.push_back(c);
    }
    if (!endMark && buf.size() >= chunk) save();
    Yield();
    m.ProcessEvents();
  }
  m.SetState(msIdle);
  m.ProcessEvents();
  return lost ? -1 : kStopped;
}

int TIS101::WaitLoop(const std::string* answers, int timeoutMs) {
  TVoiceModem& m = *Modem();
  m.SetState(msWaiting);
  stopWaiting_ = false;
  const std::uint64_t start = m.Clock().TickMs();
  std::string line;
  while (!stopWaiting_) {
    while (m.InputWaiting()) {
      char c;
      if (m.ReadBytes(&c, 1) != 1) {
        m.SetState(msIdle);
        return -1;
      }
      if (c == kDLE) {
        char code;
        if (m.ReadBytes(&code, 1) != 1) {
          m.SetState(msIdle);
          return -1;
        }
        Log(5, Fmt("Read: <DLE> <%s>", Ch(code).c_str()));
        m.HandleDLE(static_cast<unsigned char>(code));
        continue;
      }
      if (!answers || c == 17 || c == 19) {
        Log(3, Fmt("Unexpected byte %s from voice modem", Ch(c).c_str()));
        continue;
      }
      if (c == '\r') continue;
      if (c != '\n') {
        line += c;
        continue;
      }
      Log(5, "Wait: " + line);
      if (!line.empty()) {
        const ModemAnswer code = m.MatchAnswer(line, *answers);
        if (code != ModemAnswer::NoMatch) {
          m.SetState(msIdle);
          return AnswerCode(code);
        }
      }
      line.clear();
    }
    Yield();
    m.ProcessEvents();
    if (timeoutMs > 0 && m.Clock().TickMs() - start >= static_cast<std::uint64_t>(timeoutMs) &&
        !stopWaiting_) {
      m.QueueEvent(ModemEvent::TimeLimit);
      m.StopWaiting();
    }
    if (!stopWaiting_)
      m.Clock().Sleep(static_cast<unsigned>(std::max(0, Profile()->PortReadDelay)));
  }
  m.SetState(msIdle);
  m.ProcessEvents();
  return kStopped;
}

int TIS101::Wait(int timeoutMs) {
  if (!CheckModem("Wait", true)) return -1;
  return WaitLoop(nullptr, timeoutMs);
}

int TIS101::WaitAnswer(const std::string& answers, int timeoutMs) {
  if (!CheckModem("WaitAnswer", true)) return -1;
  return WaitLoop(&answers, timeoutMs);
}

}  // namespace zv
