// The IS-101 and SM56 drivers against the simulated modem: initialisation,
// dialling outcomes, playing and recording with DLE shielding, stops, DTMF,
// voice-file headers, a vanished device, and a whole call.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "ModemFixture.h"
#include "support/TempDir.h"

namespace zv::test {
namespace {

const std::string kDLE = "\x10";
const std::string kETX = "\x03";

// A voice file with the 32-byte header.
std::string Rmd(const std::string& type, int compression, int speed, int bits,
                const std::string& data) {
  std::string h(32, '\0');
  std::memcpy(h.data(), "RMD1", 4);
  std::memcpy(h.data() + 4, type.data(), std::min<std::size_t>(type.size(), 16));
  h[20] = static_cast<char>(compression & 0xFF);
  h[21] = static_cast<char>((compression >> 8) & 0xFF);
  h[22] = static_cast<char>(speed & 0xFF);
  h[23] = static_cast<char>((speed >> 8) & 0xFF);
  h[24] = static_cast<char>(bits);
  return h + data;
}

using Sm56 = ModemFixture;

TEST_F(Sm56, InitSendsTheSequenceAndReturnsToIdle) {
  profile.ModemInitCmd = "ATL0";
  OpenModem();
  std::vector<int> states;
  modem.OnChangeState = [&] { states.push_back(modem.GetState()); };
  sim.Answer("ATE0", {"OK"});
  sim.Answer("ATQ0V1", {"OK"});
  sim.Answer("AT&R1\\Q3", {"OK"});
  sim.Answer("ATX4", {"OK"});
  sim.Answer("ATL0", {"ERROR"});
  EXPECT_EQ(modem.Init(), 0);  // the extra command's failure does not count
  EXPECT_EQ(sim.Received(), "ATE0\rATQ0V1\rAT&R1\\Q3\rATX4\rATL0\r");
  EXPECT_EQ(states, (std::vector<int>{msInitializing, msIdle}));
  EXPECT_TRUE(Logged(1, "Initializing Motorola SM56 voice modem"));
  EXPECT_TRUE(Logged(3, "Additional initialization command failed"));

  sim.Answer("ATE0", {"OK"});
  sim.Answer("ATQ0V1", {"OK"});
  sim.Answer("AT&R1\\Q3", {"ERROR"});
  sim.Answer("ATL0", {"OK"});  // the extra command goes out all the same
  EXPECT_EQ(modem.Init(), -1);
  EXPECT_TRUE(Logged(3, "Can't turn on hardware flow control"));
  EXPECT_EQ(modem.GetState(), msIdle);
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(Sm56, InitVoiceGoesOnAfterAFailure) {
  profile.TransmitGain = 100;
  OpenModem();
  sim.Answer("AT+VNH=1", {"OK"});
  sim.Answer("AT+VSD=51,20", {"ERROR"});
  sim.Answer("AT+VGT=255", {"OK"});
  sim.Answer("AT+VGR=127", {"OK"});
  sim.Answer("AT+VRA=45+VRN=120", {"OK"});
  EXPECT_EQ(modem.InitVoice(), 0);
  EXPECT_TRUE(Logged(3, "Setting silence preferences didn't work"));
  EXPECT_FALSE(Logged("Setting transmit gain didn't work"));
  EXPECT_TRUE(sim.WaitDone(100));
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(Sm56, CompressionAndDeviceChecks) {
  OpenModem();
  int c = 3, s = 8000, b = 0;
  EXPECT_EQ(modem.SetCompression(c, s, b), -1);
  EXPECT_EQ(modem.LastError(), 18);
  EXPECT_TRUE(Logged(3, "Motorola SM56: Illegal voice compression method (3)"));
  c = 1;
  s = 7200;
  EXPECT_EQ(modem.SetCompression(c, s, b), -1);
  EXPECT_TRUE(Logged(3, "Motorola SM56: Illegal sample rate (7200)"));
  EXPECT_TRUE(Logged(4, "Could not set compression method $0001, speed 7200"));
  EXPECT_EQ(modem.SetDevice(4), -1);
  EXPECT_EQ(modem.LastError(), 19);
  EXPECT_TRUE(Logged(3, "Motorola SM56: Unknown output device (4)"));
  EXPECT_EQ(sim.Received(), "");

  sim.Answer("AT+VLS=1", {"VCON"});
  EXPECT_EQ(modem.SetDevice(2), TMotorolaSM56::kVoiceConnected);
  sim.Answer("AT+VLS=8", {"ERROR"});
  EXPECT_EQ(modem.SetDevice(5), 0);  // whatever the answer
  c = 0;
  s = 0;
  sim.Answer("AT+VSM=129,8000,0,0", {"OK"});
  EXPECT_EQ(modem.SetCompression(c, s, b), 0);
  EXPECT_EQ(c, 2);
  EXPECT_EQ(s, 8000);
  EXPECT_EQ(b, 8);
}

TEST_F(Sm56, DialOutcomes) {
  profile.DialMode = "T";
  OpenModem();
  sim.Answer("ATDT5550199", {"RINGING", "VCON"});
  EXPECT_EQ(modem.Dial("5550199"), 0);
  EXPECT_EQ(sim.Received(), "ATDT5550199\r");

  sim.Answer("ATDT5550199", {"BUSY"});
  EXPECT_EQ(modem.Dial("5550199"), kStopped);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().first, ModemEvent::Busy);

  sim.Answer("ATDT5550199", {"NO ANSWER"});
  EXPECT_EQ(modem.Dial("5550199"), kStopped);  // not connected is not a success
  EXPECT_EQ(events.back().first, ModemEvent::NoAnswer);
  EXPECT_TRUE(Logged(3, "Got unknown event $200B with data <>"));

  sim.Answer("ATDT5550199", {"NO DIAL TONE"});
  EXPECT_EQ(modem.Dial("5550199"), kStopped);
  EXPECT_EQ(events.back().first, ModemEvent::NoDialTone);

  profile.DialTimeOut = 1;
  sim.OnLine("ATDT5550199");  // and then silence
  const auto t = std::chrono::steady_clock::now();
  EXPECT_EQ(modem.Dial("5550199"), kStopped);
  EXPECT_GE(std::chrono::steady_clock::now() - t, std::chrono::milliseconds(900));
  EXPECT_EQ(events.back().first, ModemEvent::TimeLimit);
  EXPECT_EQ(modem.GetState(), msIdle);
  EXPECT_TRUE(sim.Errors().empty());
}

// A data call is through when the modem reports the connection, with or
// without its rate; in voice mode the same line is an unexpected answer.
TEST_F(Sm56, DataCallsConnectAndAnswersReportTheConnection) {
  OpenModem();
  sim.Answer("ATDP5550100", {"CONNECT 33600"});
  EXPECT_EQ(modem.Dial("5550100"), 0);
  sim.Answer("ATDP5550100", {"CONNECT"});
  EXPECT_EQ(modem.Dial("5550100"), 0);
  sim.Answer("ATDP5550100", {"NO CARRIER"});
  EXPECT_EQ(modem.Dial("5550100"), kStopped);
  sim.Answer("ATA", {"CONNECT 33600"});
  EXPECT_EQ(modem.AnswerPhone(), AnswerCode(ModemAnswer::Ok));
  sim.Answer("ATA", {"NO CARRIER"});
  EXPECT_EQ(modem.AnswerPhone(), AnswerCode(ModemAnswer::Error));

  sim.Answer("AT+FCLASS=8", {"OK"});
  ASSERT_EQ(modem.VoiceModeOn(), 0);
  sim.Answer("ATDP5550100", {"CONNECT 2400"});
  EXPECT_EQ(modem.Dial("5550100"), -1);
  EXPECT_EQ(modem.LastError(), 16);
  sim.Answer("AT+FCLASS=0", {"OK"});
  ASSERT_EQ(modem.VoiceModeOff(), 0);
  sim.Answer("ATDP5550100", {"CONNECT 2400"});
  EXPECT_EQ(modem.Dial("5550100"), 0);
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(Sm56, PlayDoublesDleAndEndsWithDleEtx) {
  OpenModem();
  const std::string data = "ab" + kDLE + "c" + std::string(1000, 'v') + kDLE;
  sim.Answer("AT+VSM=128,8000,0,0", {"OK"});
  sim.Answer("AT+FLO=2", {"OK"});
  sim.Answer("AT+VTX", {"CONNECT"});
  sim.OnVoice(ModemSim::Lines({"OK"}));
  std::istringstream in(Rmd("Motorola SM56", 1, 8000, 8, data));
  std::vector<int> progress;
  modem.OnProgress = [&](int p) { progress.push_back(p); };
  EXPECT_EQ(modem.PlayStream(in), 0);
  EXPECT_EQ(sim.Voice(), data);
  EXPECT_EQ(sim.VoiceCodes(), "");
  const std::string raw = sim.Received();
  EXPECT_NE(raw.find("ab" + kDLE + kDLE + "c"), std::string::npos);
  EXPECT_EQ(raw.substr(raw.size() - 4), kDLE + kDLE + kDLE + kETX);
  EXPECT_TRUE(Logged(5, "<STOP PLAYING>"));
  // A tenth of a second (800 bytes) per pass, plus the doubled DLE.
  EXPECT_TRUE(Logged(5, "<VOICE DATA 801 bytes>"));
  EXPECT_TRUE(Logged(5, "<VOICE DATA 206 bytes>"));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_EQ(modem.GetState(), msIdle);
}

TEST_F(Sm56, StopInterruptsAPlayback) {
  OpenModem();
  sim.SetVoiceRate(16000);
  sim.Answer("AT+VSM=128,8000,0,0", {"OK"});
  sim.Answer("AT+FLO=2", {"OK"});
  sim.Answer("AT+VTX", {"CONNECT"});
  sim.OnVoice(ModemSim::Lines({"OK"}));
  std::istringstream in(Rmd("Motorola SM56", 1, 8000, 8, std::string(40000, 'v')));
  bool stopped = false;
  modem.OnProgress = [&](int p) {
    if (p >= 10 && !stopped) {
      stopped = true;
      modem.Stop();
    }
  };
  EXPECT_EQ(modem.PlayStream(in), kStopped);
  EXPECT_TRUE(stopped);
  EXPECT_LT(sim.Voice().size(), 40000u);
  EXPECT_EQ(sim.VoiceCodes(), "\x18");  // zero byte, DLE CAN, DLE ETX
  EXPECT_EQ(sim.Voice().back(), '\0');
  EXPECT_TRUE(Logged(5, "<INTERRUPT PLAYING>"));
  EXPECT_EQ(modem.GetState(), msIdle);
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(Sm56, VoiceFileChecksComeBeforeAnythingIsSent) {
  TempDir dir;
  OpenModem();
  EXPECT_EQ(modem.PlayFile(dir.file("none.rmd")), -1);
  EXPECT_EQ(modem.LastError(), 24);
  EXPECT_TRUE(Logged(4, "File '" + dir.file("none.rmd") + "' not found"));

  WriteFile(dir.file("is101.rmd"), Rmd("IS-101", 1, 8000, 8, "data"));
  EXPECT_EQ(modem.PlayFile(dir.file("is101.rmd")), -1);
  EXPECT_EQ(modem.LastError(), 23);
  EXPECT_TRUE(Logged(4, "Wrong modem type found"));

  WriteFile(dir.file("short.rmd"), "RMD1");
  EXPECT_EQ(modem.PlayFile(dir.file("short.rmd")), -1);
  EXPECT_EQ(modem.LastError(), 20);

  WriteFile(dir.file("wav.rmd"), std::string(40, 'W'));
  EXPECT_EQ(modem.PlayFile(dir.file("wav.rmd")), -1);
  EXPECT_EQ(modem.LastError(), 22);
  EXPECT_EQ(sim.Received(), "");

  EXPECT_EQ(modem.RecordFile(dir.file("no/such/dir.rmd")), -1);
  EXPECT_EQ(modem.LastError(), 26);
}

TEST_F(Sm56, RecordUnshieldsDataAndWritesTheHeader) {
  TempDir dir;
  profile.RecCompression = 1;
  profile.RecSpeed = 0;
  OpenModem();
  sim.Answer("AT+VSM=128,8000,0,0", {"OK"});
  sim.Answer("AT+FLO=2", {"OK"});
  // Data, DLE DLE, more, DLE SUB, more, then silence detected (DLE s).
  sim.OnLine("AT+VRX", ModemSim::Lines({"CONNECT"}) + "ab" + kDLE + kDLE + "c" + kDLE + "\x1a" +
                           "d" + kDLE + "s");
  sim.OnBytes(kDLE + "!", "ef" + kDLE + kETX + ModemSim::Lines({"OK"}));
  EXPECT_EQ(modem.RecordFile(dir.file("rec.rmd")), kStopped);
  EXPECT_EQ(ReadFile(dir.file("rec.rmd")),
            Rmd("Motorola SM56", 1, 8000, 8, "ab" + kDLE + "c" + kDLE + kDLE + "def"));
  EXPECT_TRUE(Logged(5, "<STOP RECORDING>"));
  EXPECT_TRUE(Logged(5, "<DLE> <ETX>"));
  EXPECT_EQ(modem.GetState(), msIdle);
  EXPECT_TRUE(sim.WaitDone(100));
  EXPECT_TRUE(sim.Errors().empty());
}

// A stream that takes only so many bytes, as a file on a full disk.
struct FullDisk : std::streambuf {
  std::string data;
  std::size_t room;
  explicit FullDisk(std::size_t r) : room(r) {}
  int overflow(int c) override {
    if (c == traits_type::eof() || data.size() >= room) return traits_type::eof();
    data += static_cast<char>(c);
    return c;
  }
};

TEST_F(Sm56, RecordingIntoAFullFileFails) {
  OpenModem();
  sim.Answer("AT+VSM=129,8000,0,0", {"OK"});
  sim.Answer("AT+FLO=2", {"OK"});
  sim.OnLine("AT+VRX", ModemSim::Lines({"CONNECT"}) + "abcdef" + kDLE + "s");
  sim.OnBytes(kDLE + "!", kDLE + kETX + ModemSim::Lines({"OK"}));
  sim.Answer("ATH0", {"OK"});
  FullDisk disk(34);  // the header and two bytes
  std::ostream out(&disk);
  EXPECT_EQ(modem.RecordStream(out), -1);
  EXPECT_TRUE(Logged(4, "Could not write voice data"));
  EXPECT_TRUE(Logged(4, "RecordStream command failed"));
  EXPECT_EQ(modem.HangUp(), 0);  // the next command starts clean:
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(modem.InputWaiting());  // it took its own answer, not a stale one
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(Sm56, LineAndModeCommands) {
  OpenModem();
  sim.Answer("ATA", {"OK"});
  EXPECT_EQ(modem.AnswerPhone(), AnswerCode(ModemAnswer::Ok));
  sim.Answer("ATA", {"NO CARRIER"});  // nobody on the line: the answer ends there
  EXPECT_EQ(modem.AnswerPhone(), AnswerCode(ModemAnswer::Error));
  sim.Answer("AT+FCLASS=8", {"OK"});
  EXPECT_EQ(modem.RestoreVoiceMode(), 0);
  sim.Answer("ATA", {"NO CARRIER", "ERROR"});  // in voice mode only OK answers
  EXPECT_EQ(modem.AnswerPhone(), AnswerCode(ModemAnswer::Error));
  sim.Answer("AT+FCLASS=0", {"OK"});
  EXPECT_EQ(modem.VoiceModeOff(), 0);
  sim.Answer("AT+FCLASS=2", {"OK"});
  sim.Answer("AT", {"OK"});
  EXPECT_EQ(modem.SwitchToDataFax("2"), 0);
  EXPECT_EQ(sim.Received(), "ATA\rATA\rAT+FCLASS=8\rATA\rAT+FCLASS=0\rAT+FCLASS=2\rAT\r");
  EXPECT_TRUE(Logged(1, "Answering Call"));
  EXPECT_TRUE(Logged(2, "Restoring voice mode"));
  EXPECT_TRUE(Logged(2, "Leaving voice mode"));
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(Sm56, PlayStopsAtItsTimeLimit) {
  profile.PlayMaxLen = 1;
  OpenModem();
  sim.SetVoiceRate(8000);  // as fast as the modem plays
  sim.Answer("AT+VSM=128,8000,0,0", {"OK"});
  sim.Answer("AT+FLO=2", {"OK"});
  sim.Answer("AT+VTX", {"CONNECT"});
  sim.OnVoice(ModemSim::Lines({"OK"}));
  std::istringstream in(Rmd("Motorola SM56", 1, 8000, 8, std::string(40000, 'v')));
  const auto t = std::chrono::steady_clock::now();
  EXPECT_EQ(modem.PlayStream(in), kStopped);
  EXPECT_GE(std::chrono::steady_clock::now() - t, std::chrono::milliseconds(900));
  TModemEvent ev;  // left for the next event pass
  ASSERT_EQ(modem.UnqueueEvent(ev), 0);
  EXPECT_EQ(ev.Event, ModemEvent::TimeLimit);
  EXPECT_TRUE(Logged(5, "<INTERRUPT PLAYING>"));
  EXPECT_LT(sim.Voice().size(), 40000u);
}

TEST_F(Sm56, DtmfBeepAndWaiting) {
  OpenModem();
  EXPECT_EQ(modem.PlayDTMF(""), -1);
  EXPECT_EQ(sim.Received(), "");
  sim.Answer("AT+VTS=1,#,9", {"OK"});
  EXPECT_EQ(modem.PlayDTMF("1#9"), 0);
  sim.Answer("AT+VTS=[933,0,150]", {"OK"});
  EXPECT_EQ(modem.Beep(933, 1500), 0);

  sim.Send(ModemSim::Lines({"RING"}));
  EXPECT_EQ(modem.WaitAnswer("RING", 2000), 0x1000);
  EXPECT_TRUE(Logged(5, "Wait: RING"));

  sim.Send(kDLE + "d");  // dial tone: ends a wait by the default policy
  EXPECT_EQ(modem.Wait(0), kStopped);
  EXPECT_EQ(events.back().first, ModemEvent::DialTone);
  EXPECT_EQ(modem.Wait(200), kStopped);
  EXPECT_EQ(events.back().first, ModemEvent::TimeLimit);
  EXPECT_EQ(modem.GetState(), msIdle);
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(Sm56, DleCodesMapToEventsOrLogLines) {
  OpenModem();
  modem.SetState(msIdle);
  EXPECT_EQ(modem.HandleDLE('b'), 0);
  EXPECT_EQ(modem.HandleDLE('q'), 0);
  EXPECT_EQ(modem.HandleDLE('T'), 0);
  EXPECT_EQ(modem.HandleDLE('u'), 0);
  EXPECT_EQ(modem.HandleDLE('Z'), -1);
  EXPECT_TRUE(Logged(3, "Buffer underrun"));
  EXPECT_TRUE(Logged(3, "Unknown code <DLE> <Z>"));
  TModemEvent ev;
  ASSERT_EQ(modem.UnqueueEvent(ev), 0);
  EXPECT_EQ(ev.Event, ModemEvent::Busy);
  ASSERT_EQ(modem.UnqueueEvent(ev), 0);
  EXPECT_EQ(ev.Event, ModemEvent::Quiet);
  EXPECT_EQ(modem.QueuedEvents(), 0);
}

TEST_F(Sm56, VanishedDeviceEndsAPlaybackWithAnError) {
  OpenModem();
  int closed = 0;
  modem.Port()->OnClose = [&] { ++closed; };
  sim.SetVoiceRate(16000);
  sim.Answer("AT+VSM=128,8000,0,0", {"OK"});
  sim.Answer("AT+FLO=2", {"OK"});
  sim.Answer("AT+VTX", {"CONNECT"});
  sim.OnVoice({});
  std::istringstream in(Rmd("Motorola SM56", 1, 8000, 8, std::string(40000, 'v')));
  modem.OnProgress = [&](int p) {
    if (p >= 10) sim.Hangup();
  };
  const auto t = std::chrono::steady_clock::now();
  EXPECT_EQ(modem.PlayStream(in), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - t, std::chrono::seconds(3));
  EXPECT_EQ(modem.LastError(), 13);
  EXPECT_TRUE(Logged(4, "Could not write buffer to modem") ||
              Logged(4, "Could not read buffer from modem"));
  EXPECT_TRUE(Logged(4, "PlayStream command failed"));
  EXPECT_EQ(modem.GetState(), msIdle);
  EXPECT_FALSE(modem.IsOpen());
  EXPECT_EQ(modem.Close(), 0);
  EXPECT_EQ(closed, 1);
}

// Open, Init, VoiceModeOn, InitVoice, SetDevice(2), Dial, PlayFile of an
// "RMD1" file with DTMF keyed during the message, HangUp, Close.
TEST_F(Sm56, AWholeCall) {
  TempDir dir;
  profile.ModemInitCmd = "ATL0";
  profile.DialMode = "T";
  profile.ModemLogging = true;
  TModemLogFile log(clock), trace(clock);
  log.SetFileName(dir.file("Debug.log"));
  trace.SetFileName(dir.file("Trace.log"));
  log.Title = trace.Title = "Zorvenix";
  modem.SetLogFile(&log);
  modem.SetTraceFile(&trace);
  std::string message;
  for (int i = 0; i < 24000; ++i) message += static_cast<char>(i % 251);  // holds DLE bytes
  WriteFile(dir.file("msg.rmd"), Rmd("Motorola SM56", 1, 8000, 8, message));

  sim.SetVoiceRate(32000);
  sim.Answer("ATE0", {"OK"});
  sim.Answer("ATQ0V1", {"OK"});
  sim.Answer("AT&R1\\Q3", {"OK"});
  sim.Answer("ATX4", {"OK"});
  sim.Answer("ATL0", {"OK"});
  sim.Answer("AT+FCLASS=8", {"OK"});
  sim.Answer("AT+VNH=1", {"OK"});
  sim.Answer("AT+VSD=51,20", {"OK"});
  sim.Answer("AT+VGT=127", {"OK"});
  sim.Answer("AT+VGR=127", {"OK"});
  sim.Answer("AT+VRA=45+VRN=120", {"OK"});
  sim.Answer("AT+VLS=1", {"OK"});
  sim.Answer("ATDT5550199", {"VCON"});
  sim.Answer("AT+VSM=128,8000,0,0", {"OK"});
  sim.Answer("AT+FLO=2", {"OK"});
  sim.Answer("AT+VTX", {"CONNECT"});
  sim.OnVoice(ModemSim::Lines({"OK"}), kDLE + "1" + kDLE + "2");
  sim.Answer("ATH0", {"OK"});

  ASSERT_EQ(modem.Open(), 0);
  EXPECT_EQ(modem.Init(), 0);
  EXPECT_EQ(modem.VoiceModeOn(), 0);
  EXPECT_EQ(modem.InitVoice(), 0);
  EXPECT_EQ(modem.SetDevice(2), 0);
  EXPECT_EQ(modem.Dial("5550199"), 0);
  EXPECT_EQ(modem.PlayFile(dir.file("msg.rmd")), 0);
  EXPECT_EQ(modem.HangUp(), 0);
  const auto t = std::chrono::steady_clock::now();
  EXPECT_EQ(modem.Close(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t, std::chrono::milliseconds(500));

  EXPECT_TRUE(sim.Errors().empty());
  std::string shielded;
  for (char c : message) {
    shielded += c;
    if (c == '\x10') shielded += c;
  }
  EXPECT_EQ(sim.Received(),
            "ATE0\rATQ0V1\rAT&R1\\Q3\rATX4\rATL0\rAT+FCLASS=8\rAT+VNH=1\rAT+VSD=51,20\r"
            "AT+VGT=127\rAT+VGR=127\rAT+VRA=45+VRN=120\rAT+VLS=1\rATDT5550199\r"
            "AT+VSM=128,8000,0,0\rAT+FLO=2\rAT+VTX\r" +
                shielded + kDLE + kETX + "ATH0\r");
  EXPECT_EQ(events, (std::vector<std::pair<ModemEvent, int>>{{ModemEvent::Dtmf, '1'},
                                                             {ModemEvent::Dtmf, '2'}}));

  const std::vector<std::string> expected = {
      "Opening voice modem device",
      "Opened voice modem device",
      "Command: '' -> 'ATE0|OK'",
      "Command: 'ATQ0V1' -> 'OK'",
      "Initializing Motorola SM56 voice modem",
      "Command: 'AT&R1\\Q3' -> 'OK'",
      "Command: 'ATX4' -> 'OK'",
      "Command: 'ATL0' -> 'OK'",
      "Entering voice mode",
      "Command: 'AT+FCLASS=8' -> 'OK'",
      "Initializing Motorola SM56 voice params",
      "Command: 'AT+VNH=1' -> 'OK'",
      "Command: 'AT+VSD=51,20' -> 'OK'",
      "Command: 'AT+VGT=127' -> 'OK'",
      "Command: 'AT+VGR=127' -> 'OK'",
      "Command: 'AT+VRA=45+VRN=120' -> 'OK'",
      "Setting device",
      "Command: 'AT+VLS=1' -> 'OK|VCON'",
      "Command: 'ATDT5550199' -> ''",
      "Playing voice file '" + dir.file("msg.rmd") + "'",
      "Setting compression",
      "Command: 'AT+VSM=128,8000,0,0' -> 'OK'",
      "Compression method $0001, speed 8000",
      "Command: 'AT+FLO=2' -> 'OK'",
      "Command: 'AT+VTX' -> 'CONNECT'",
      "Got unknown event $2011 with data <1>",
      "Got unknown event $2011 with data <2>",
      "Command: '' -> 'OK'",
      "Command: 'ATH0' -> 'OK'",
      "Closing voice modem device",
      "Closed voice modem device",
  };
  EXPECT_EQ(LogFrom("Opening voice modem device"), expected);
  EXPECT_TRUE(Logged(5, "Read: <DLE> <1>"));
  EXPECT_TRUE(Logged(5, "<START PLAYING>"));
  EXPECT_TRUE(Logged(5, "<STOP PLAYING>"));

  using T = std::pair<std::string, std::string>;
  const std::vector<T> lines = {
      {"Send", "ATE0"},        {"Recv", "OK"},          {"Send", "ATQ0V1"},
      {"Recv", "OK"},          {"Send", "AT&R1\\Q3"},   {"Recv", "OK"},
      {"Send", "ATX4"},        {"Recv", "OK"},          {"Send", "ATL0"},
      {"Recv", "OK"},          {"Send", "AT+FCLASS=8"}, {"Recv", "OK"},
      {"Send", "AT+VNH=1"},    {"Recv", "OK"},          {"Send", "AT+VSD=51,20"},
      {"Recv", "OK"},          {"Send", "AT+VGT=127"},  {"Recv", "OK"},
      {"Send", "AT+VGR=127"},  {"Recv", "OK"},          {"Send", "AT+VRA=45+VRN=120"},
      {"Recv", "OK"},          {"Send", "AT+VLS=1"},    {"Recv", "OK"},
      {"Send", "ATDT5550199"}, {"Recv", "VCON"},        {"Send", "AT+VSM=128,8000,0,0"},
      {"Recv", "OK"},          {"Send", "AT+FLO=2"},    {"Recv", "OK"},
      {"Send", "AT+VTX"},      {"Recv", "CONNECT"},     {"Recv", "OK"},
      {"Send", "ATH0"},
  };
  EXPECT_EQ(traces, lines);
  std::string traceText = "Zorvenix\r\n\r\n";
  for (const auto& l : lines) traceText += l.second + "\r\n";
  EXPECT_EQ(ReadFile(dir.file("Trace.log")), traceText);
  const std::string debug = ReadFile(dir.file("Debug.log"));
  EXPECT_EQ(debug.rfind("Zorvenix\r\n\r\nOpening voice modem device\r\n", 0), 0u);
  EXPECT_NE(debug.find("Got unknown event $2011 with data <2>\r\n"), std::string::npos);
}

}  // namespace
}  // namespace zv::test
