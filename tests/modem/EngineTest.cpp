// The engine: answer matching, the command exchange, line reading with DLE
// codes, tracing, the event queue and its default policy, the null driver,
// the driver registry, opening and closing.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "ModemFixture.h"
#include "Pump.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace zv::test {
namespace {

TEST(MatchAnswer, AlternativesFirstThenKeywords) {
  FakeLoop loop;
  TVoiceModem m(loop.clock, loop.dispatcher, loop.ports);
  EXPECT_EQ(m.MatchAnswer("", "OK"), ModemAnswer::Empty);
  EXPECT_EQ(m.MatchAnswer("OK", "OK"), ModemAnswer::Expected);
  EXPECT_EQ(m.MatchAnswer("VCON", "OK|VCON"), ExpectedAnswer(1));
  EXPECT_EQ(m.MatchAnswer("CONNECT 9600", "CONNECT"), ModemAnswer::Expected);  // a prefix is enough
  EXPECT_EQ(m.MatchAnswer("ok", "OK"), ModemAnswer::Ok);     // case counts for alternatives
  EXPECT_EQ(m.MatchAnswer("OK", "|OK"), ExpectedAnswer(1));  // an empty one never matches
  EXPECT_EQ(m.MatchAnswer("no dial tone", ""), ModemAnswer::NoDialTone);
  EXPECT_EQ(m.MatchAnswer("RING C", ""), ModemAnswer::Ring3);
  EXPECT_EQ(m.MatchAnswer("RING", ""), ModemAnswer::Ring);
  EXPECT_EQ(m.MatchAnswer("#VCON", ""), ModemAnswer::VCon);
  EXPECT_EQ(m.MatchAnswer("+FCO", ""), ModemAnswer::FCo);
  EXPECT_EQ(m.MatchAnswer("RINGX", ""), ModemAnswer::NoMatch);
}

TEST(EventQueue, HoldsAtMost2047AndKeepsOrder) {
  FakeLoop loop;
  TVoiceModem m(loop.clock, loop.dispatcher, loop.ports);
  std::vector<std::string> logs;
  m.OnDebugMsg = [&](int, const std::string& s) { logs.push_back(s); };
  for (int i = 0; i < 2047; ++i)
    ASSERT_EQ(m.QueueEvent(static_cast<ModemEvent>(0x2000 + i % 16)), 0) << i;
  EXPECT_EQ(logs.back(), "Queued event $200E at position 2046");
  EXPECT_EQ(m.QueueEvent(ModemEvent::Dtmf), -1);
  EXPECT_EQ(m.LastError(), 5);
  EXPECT_EQ(logs.back(), "Event queue full, ignoring event");
  TModemEvent ev;
  ASSERT_EQ(m.UnqueueEvent(ev), 0);
  EXPECT_EQ(ev.Event, ModemEvent::Bong);
  EXPECT_EQ(logs.back(), "Unqueued event $2000 at position 0");
  EXPECT_EQ(m.QueueEvent(ModemEvent::DleV), 0);  // room again, in the ring's next slot
  EXPECT_EQ(logs.back(), "Queued event $2015 at position 2047");
  for (int i = 1; i < 2047; ++i) ASSERT_EQ(m.UnqueueEvent(ev), 0);
  ASSERT_EQ(m.UnqueueEvent(ev), 0);
  EXPECT_EQ(ev.Event, ModemEvent::DleV);
  EXPECT_EQ(m.UnqueueEvent(ev), -1);
  EXPECT_EQ(m.LastError(), 6);
}

TEST(NullDriver, EveryOperationFailsWithItsName) {
  FakeLoop loop;
  TVoiceModem m(loop.clock, loop.dispatcher, loop.ports);
  TNoModem none;
  m.SetDriver(&none);
  std::vector<std::string> logs;
  m.OnDebugMsg = [&](int level, const std::string& s) {
    if (level == 4) logs.push_back(s);
  };
  int a = 0, b = 0, c = 0;
  EXPECT_EQ(m.AnswerPhone(), -1);
  EXPECT_EQ(m.Dial("1"), -1);
  EXPECT_EQ(m.SetCompression(a, b, c), -1);
  EXPECT_EQ(m.SwitchToDataFax("0"), -1);
  EXPECT_EQ(m.WaitAnswer("OK", 10), -1);
  EXPECT_EQ(m.StopRecording(), -1);
  EXPECT_EQ(m.LastError(), 1);
  EXPECT_EQ(logs, (std::vector<std::string>{
                      "AnswerPhone called", "Dial called", "SetCompression called",
                      "Could not set compression method $0000, speed 0", "SwitchToDataFax called",
                      "WaitAnswer called", "StopRecording called"}));
  EXPECT_EQ(none.ModemDescription(), "Serial Port");
  EXPECT_EQ(m.ModemRMDName(), "None");
}

TEST(Drivers, RegistryAndBinding) {
  FakeLoop loop;
  TVoiceModem a(loop.clock, loop.dispatcher, loop.ports),
      b(loop.clock, loop.dispatcher, loop.ports);
  std::string last;
  a.OnDebugMsg = [&](int, const std::string& s) { last = s; };
  EXPECT_EQ(a.HangUp(), -1);
  EXPECT_EQ(a.LastError(), 11);
  EXPECT_EQ(last, "HangUp: No modem name specified, unable to complete operation");
  a.Profile()->ModemName = "Rockwell";
  EXPECT_EQ(a.HangUp(), -1);
  EXPECT_EQ(a.LastError(), 10);
  EXPECT_EQ(last, "HangUp: No driver specified, unable to complete operation");

  TModemDriverClass cls;
  EXPECT_FALSE(FindModemDriver("IS-101 compatible modem", cls));
  ASSERT_TRUE(FindModemDriver("Motorola SM56", cls));
  a.Profile()->ModemName = "Motorola SM56";
  ASSERT_NE(a.Driver(), nullptr);  // created from the registry
  EXPECT_EQ(a.Driver()->ModemType(), "Motorola SM56");
  EXPECT_EQ(a.Driver()->Modem(), &a);

  TMotorolaSM56 d;
  d.SetModem(&a);
  EXPECT_EQ(a.Driver(), &d);
  d.SetModem(&b);
  EXPECT_EQ(b.Driver(), &d);
  EXPECT_EQ(a.Driver(), a.Driver());
  EXPECT_NE(a.Driver(), &d);  // the first engine lost it (and made its own again)
}

TEST(Drivers, ClassTables) {
  TMotorolaSM56 d;
  EXPECT_EQ(d.CompressionFromName("adpcm"), 2);
  EXPECT_EQ(d.CompressionFromName("7"), 7);
  EXPECT_EQ(d.CompressionFromName("GSM"), -1);
  EXPECT_EQ(d.CompressionName(1), "PCM");
  EXPECT_EQ(d.CompressionName(9), "9");
  EXPECT_EQ(d.DeviceFromName("Speakerphone"), 8);
  EXPECT_EQ(d.PlayDeviceList(), (std::vector<std::string>{"Dialup Line", "External Speaker",
                                                          "Internal Speaker", "Speakerphone"}));
  EXPECT_EQ(d.RecordDeviceList(),
            (std::vector<std::string>{"Dialup Line", "External Microphone", "Speakerphone"}));
  TNoModem none;
  EXPECT_TRUE(none.DeviceList().empty());
  EXPECT_EQ(none.DeviceName(3), "3");
  EXPECT_EQ(d.PlayingTime(8000, 8, 4000), 500);
  EXPECT_EQ(d.PlayingTime(0, 8, 4000), 0);
}

using Engine = ModemFixture;

TEST_F(Engine, OpenAndCloseLogTheirSteps) {
  profile.Port = 5;
  EXPECT_EQ(modem.Open(), -1);
  EXPECT_EQ(modem.LastError(), 13);
  EXPECT_TRUE(Logged(4, "Could not open device"));
  profile.Port = 3;
  profile.PortBaudRate = 2000;
  EXPECT_EQ(modem.Open(), -1);
  profile.PortBaudRate = 38400;
  profile.PortDataBits = 4;  // a valid profile value, but no Linux device has 4-bit bytes
  EXPECT_EQ(modem.Open(), -1);
  profile.PortDataBits = 8;
  logs.clear();
  EXPECT_EQ(modem.Open(), 0);
  EXPECT_EQ(modem.Open(), 0);
  EXPECT_EQ(modem.Close(), 0);
  EXPECT_EQ(modem.Close(), 0);
  EXPECT_EQ(LogFrom("Opening voice modem device"),
            (std::vector<std::string>{"Opening voice modem device", "Opened voice modem device",
                                      "Opening voice modem device", "Device already open",
                                      "Closing voice modem device", "Closed voice modem device",
                                      "Closing voice modem device", "No voice modem device open"}));
}

TEST_F(Engine, CommandSkipsRingsEmptyLinesAndLowerCaseOk) {
  OpenModem();
  sim.OnLine("ATQ0V1", ModemSim::Lines({"RING", "", "ok", "OK"}));
  EXPECT_EQ(modem.Command("ATQ0V1", "OK"), ModemAnswer::Expected);
  sim.Answer("AT+VLS=1", {"VCON"});
  EXPECT_EQ(modem.Command("AT+VLS=1", "OK|VCON"), ExpectedAnswer(1));
  EXPECT_EQ(sim.Received(), "ATQ0V1\rAT+VLS=1\r");
  EXPECT_TRUE(Logged(2, "Command: 'ATQ0V1' -> 'OK'"));
  EXPECT_TRUE(Logged(5, "Write: ATQ0V1"));
  EXPECT_TRUE(Logged(5, "Read: RING"));
  EXPECT_TRUE(Logged(5, "Read: ok"));
  // One trace line per direction run; CR LF pairs (and so empty lines) vanish.
  using T = std::pair<std::string, std::string>;
  EXPECT_EQ(traces, (std::vector<T>{{"Send", "ATQ0V1"},
                                    {"Recv", "RING"},
                                    {"Recv", "ok"},
                                    {"Recv", "OK"},
                                    {"Send", "AT+VLS=1"}}));
}

TEST_F(Engine, InvalidAnswerFlushesAndFails) {
  OpenModem();
  sim.OnLine("AT", ModemSim::Lines({"QXZWV", "OK"}));
  EXPECT_EQ(modem.Command("AT", "OK"), ModemAnswer::NoMatch);
  EXPECT_EQ(modem.LastError(), 16);
  EXPECT_TRUE(Logged(4, "Invalid modem answer"));
  EXPECT_TRUE(Logged(5, "Flush: OK"));  // the rest was discarded
  EXPECT_FALSE(modem.InputWaiting());

  sim.Answer("ATX9", {"ERROR"});
  EXPECT_EQ(modem.Command("ATX9", "OK"), ModemAnswer::NoMatch);
  EXPECT_TRUE(Logged(4, "Modem returned ERROR"));
  EXPECT_EQ(modem.Command("ATX9", "OK|ERROR"), ModemAnswer::NoMatch);  // nothing scripted: time-out
  sim.Answer("ATX9", {"ERROR"});
  EXPECT_EQ(modem.Command("ATX9", "OK|ERROR"), ExpectedAnswer(1));
  EXPECT_TRUE(Logged(4, "TimeOut while reading data from modem"));
  EXPECT_EQ(modem.CommandFmt("AT%d%s", "OK", {1}), ModemAnswer::NoMatch);
  EXPECT_EQ(modem.LastError(), 17);
  EXPECT_TRUE(Logged(4, "Invalid command format params"));
}

// A peer that keeps sending (a picture stream on a data connection) must not
// hold the caller of a flush: it gives up after its bound, letting the
// window's messages run meanwhile.
TEST_F(Engine, FlushOfAnEndlessStreamIsBoundedAndYields) {
  OpenModem();
  const auto t = std::chrono::steady_clock::now();
  std::atomic<bool> flushed{false}, quiet{false};
  std::thread talker([&] {
    while (!flushed && std::chrono::steady_clock::now() - t < std::chrono::seconds(3))
      sim.Send(std::string(512, 'x'));
    quiet = true;
  });
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return modem.InputWaiting(); }));
  int yields = 0;
  modem.OnYield = [&] { ++yields; };
  EXPECT_EQ(modem.FlushNow(), 0);
  const auto took = std::chrono::steady_clock::now() - t;
  flushed = true;
  while (!quiet) modem.FlushNow();  // the talker's last send may wait for room
  talker.join();
  EXPECT_LT(took, std::chrono::milliseconds(2500));
  EXPECT_GE(yields, 5);
}

TEST_F(Engine, EchoedCommandsAreChecked) {
  profile.CommandEcho = true;
  OpenModem();
  sim.OnLine("ATI", "ATI\r" + ModemSim::Lines({"OK"}));
  EXPECT_EQ(modem.Command("ATI", "OK"), ModemAnswer::Expected);
  sim.OnLine("ATI", ModemSim::Lines({"SM56"}));
  EXPECT_EQ(modem.Command("ATI", "OK"), ModemAnswer::NoMatch);
  EXPECT_TRUE(Logged(4, "Modem did not echo the command"));
}

TEST_F(Engine, DtmfDigitWhileIdleBecomesAnUnknownEvent) {
  OpenModem();
  modem.OnEvent = nullptr;
  sim.Send(std::string("\x10") + "5");
  std::string line = "x";
  ASSERT_EQ(modem.ReadLine(line), 0);
  EXPECT_EQ(line, "");
  EXPECT_TRUE(Logged(5, "Read: <DLE> <5>"));
  EXPECT_EQ(modem.QueuedEvents(), 1);
  EXPECT_EQ(modem.ProcessEvents(), 0);
  EXPECT_TRUE(Logged(5, "Got event $2011 with data <5>"));
  EXPECT_TRUE(Logged(3, "Got unknown event $2011 with data <5>"));

  // Handled by the application: no "unknown" line.
  logs.clear();
  handleEvents = true;
  modem.OnEvent = [this](ModemEvent ev, TEventData d, int& result) {
    events.emplace_back(ev, d.value);
    result = 0;
  };
  sim.Send(std::string("\x10") + "#");
  ASSERT_EQ(modem.ReadLine(line), 0);
  modem.ProcessEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (std::pair<ModemEvent, int>{ModemEvent::Dtmf, '#'}));
  EXPECT_FALSE(Logged("Got unknown event $2011 with data <#>"));
}

TEST_F(Engine, HandlerExceptionsAreLoggedNotThrown) {
  OpenModem();
  int yields = 0;
  modem.OnYield = [&] {
    dispatcher.Drain();
    if (++yields == 1) throw std::runtime_error("boom");
  };
  modem.OnReadString = [](const std::string&) { throw std::runtime_error("bad line"); };
  sim.Answer("AT", {"OK"});
  EXPECT_EQ(modem.Command("AT", "OK"), ModemAnswer::Expected);
  EXPECT_TRUE(Logged(4, "Yield: boom"));
  EXPECT_TRUE(Logged(4, "ReadString: bad line"));
}

TEST_F(Engine, StateChangesAndTheInUseToken) {
  int changes = 0;
  modem.OnChangeState = [&] { ++changes; };
  EXPECT_EQ(modem.GetState(), msIdle);
  modem.SetState(msIdle);
  modem.SetState(msWaiting);
  EXPECT_EQ(changes, 1);
  int owner1 = 0, owner2 = 0;
  EXPECT_TRUE(modem.Acquire(&owner1));
  EXPECT_FALSE(modem.Acquire(&owner2));
  EXPECT_EQ(modem.Owner(), &owner1);
  EXPECT_TRUE(modem.Release());
  EXPECT_FALSE(modem.Release());
  EXPECT_FALSE(modem.InUse());
}

TEST_F(Engine, LogAndTraceFilesFollowModemLogging) {
  TempDir dir;
  TModemLogFile log(clock), trace(clock);
  log.SetFileName(dir.file("Debug.log"));
  trace.SetFileName(dir.file("Trace.log"));
  log.Title = trace.Title = "Zorvenix";
  modem.SetLogFile(&log);
  modem.SetTraceFile(&trace);
  OpenModem();
  sim.Answer("AT", {"OK"});
  EXPECT_EQ(modem.Command("AT", "OK"), ModemAnswer::Expected);
  EXPECT_TRUE(ReadFile(dir.file("Debug.log")).empty());
  profile.ModemLogging = true;
  sim.Answer("ATZ", {"OK"});
  EXPECT_EQ(modem.Command("ATZ", "OK"), ModemAnswer::Expected);
  modem.Close();
  EXPECT_EQ(ReadFile(dir.file("Debug.log")),
            "Zorvenix\r\n\r\nCommand: 'ATZ' -> 'OK'\r\nWrite: ATZ\r\nRead: OK\r\n"
            "Closing voice modem device\r\nClosed voice modem device\r\n");
  // The last "OK" line is still open in the trace (it ends with the next character).
  EXPECT_EQ(ReadFile(dir.file("Trace.log")), "Zorvenix\r\n\r\nOK\r\nATZ\r\n");
}

}  // namespace
}  // namespace zv::test
