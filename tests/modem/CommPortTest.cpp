// The serial port against a pseudo-terminal (data path, settings, a vanished
// device, closing) and against a fake device (modem lines, CTS gating).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "FakeSerialDevice.h"
#include "Pump.h"
#include "modem/CommPort.h"
#include "platform/LinuxSerialDevice.h"
#include "support/ModemSim.h"

namespace zv::test {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

struct PtyPort : ::testing::Test {
  ModemSim sim;
  QueueDispatcher dispatcher;
  PortMap ports;
  TCommPort port{dispatcher, ports, MakeLinuxSerialDevice};
  void SetUp() override {
    ports.Set("COM1", sim.SlavePath());
    port.SetComNumber(cnCOM1);
  }
};

TEST_F(PtyPort, OpensThroughThePortMapAndMovesDataBothWays) {
  int opened = 0, avail = 0, lastCount = 0;
  port.OnOpen = [&] { ++opened; };
  port.OnDataAvail = [&](int count) {
    ++avail;
    lastCount = count;
  };
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(port.DevicePath(), sim.SlavePath());

  sim.OnLine("ATZ", "\r\nOK\r\n");
  EXPECT_EQ(port.WriteString("ATZ\r"), 4);
  ASSERT_TRUE(sim.WaitDone());

  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return port.InCount() == 6; }));
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return avail > 0; }));
  EXPECT_EQ(lastCount, 6);
  char buf[64];
  EXPECT_EQ(port.Read(buf, sizeof buf), 6);  // more asked than there is
  EXPECT_EQ(std::string(buf, 6), "\r\nOK\r\n");
  EXPECT_EQ(port.Read(buf, sizeof buf), 0);
  EXPECT_FALSE(port.DataAvailable());
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(PtyPort, ArrivingBytesAreTakenAtOnceNotAtTheNextPacingTick) {
  port.StatusDelay = 1000;
  port.ReadDelay = 1000;
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  char c;
  for (int i = 0; i < 5; ++i) {  // the same small arrival again and again
    const auto t = Clock::now();
    sim.Send("x");
    ASSERT_TRUE(PumpUntil(dispatcher, [&] { return port.InCount() == 1; }));
    EXPECT_LT(MsSince(t), 500) << i;
    EXPECT_EQ(port.Read(&c, 1), 1);
  }
}

TEST_F(PtyPort, TheDeviceIsHeldExclusively) {
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  if (::geteuid() == 0) GTEST_SKIP() << "root may open an exclusive tty again";
  TCommPort second{dispatcher, ports, MakeLinuxSerialDevice};
  second.SetComNumber(cnCOM1);
  second.Open();
  EXPECT_FALSE(second.IsOpen());
}

// The library opens only the devices it is handed: without a device layer
// an existing terminal stays closed, and the reason says so.
TEST_F(PtyPort, WithoutADeviceLayerNoPortOpens) {
  TCommPort bare{dispatcher, ports};
  bare.SetComNumber(cnCOM1);
  bare.Open();
  EXPECT_FALSE(bare.IsOpen());
  EXPECT_EQ(bare.OpenError(), sim.SlavePath() + ": no device");
}

TEST_F(PtyPort, PseudoTerminalLinesCountAsOnAndAreAnnouncedOnce) {
  int cts = 0, dsr = 0, rlsd = 0, ring = 0;
  port.OnCTSSignal = [&] { ++cts; };
  port.OnDSRSignal = [&] { ++dsr; };
  port.OnRLSDSignal = [&] { ++rlsd; };
  port.OnRingSignal = [&] { ++ring; };
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return ring == 1; }));
  PumpFor(dispatcher, 100);
  EXPECT_EQ(cts, 1);
  EXPECT_EQ(dsr, 1);
  EXPECT_EQ(rlsd, 1);
  EXPECT_EQ(ring, 1);
  EXPECT_TRUE(port.CTS());
  EXPECT_TRUE(port.DSR());
  EXPECT_TRUE(port.RLSD());
}

TEST_F(PtyPort, EveryRateOfTheTableIsApplied) {
  for (int r = br110; r <= br256000; ++r) {
    port.SetBaudRate(static_cast<TBaudRate>(r));
    port.Open();
    EXPECT_TRUE(port.IsOpen()) << BaudRateValue(static_cast<TBaudRate>(r));
    port.Close();
  }
}

TEST_F(PtyPort, SettingsTheDeviceDropsFailTheOpen) {
  // A pseudo-terminal forces 8 data bits without parity: asking for anything
  // else must not end in a port running with other settings.
  port.SetParity(paEven);
  port.Open();
  EXPECT_FALSE(port.IsOpen());
  port.SetParity(paNone);
  port.SetDataBits(db7);
  port.Open();
  EXPECT_FALSE(port.IsOpen());
  port.SetDataBits(db8);
  port.Open();
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(PtyPort, RefusedSettingsFailTheOpen) {
  port.SetDataBits(db4);  // no 4-bit characters on Linux
  port.Open();
  EXPECT_FALSE(port.IsOpen());
  port.SetDataBits(db8);
  port.SetStopBits(sb1_5);  // only with 5-bit characters
  port.Open();
  EXPECT_FALSE(port.IsOpen());
  port.SetStopBits(sb2_0);
  port.Open();
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(PtyPort, AbsentDeviceStaysClosedWithoutEvents) {
  ports.Set("COM1", "/nonexistent/zv-tty");
  int opened = 0, closed = 0;
  port.OnOpen = [&] { ++opened; };
  port.OnClose = [&] { ++closed; };
  port.Open();
  EXPECT_FALSE(port.IsOpen());
  port.Close();  // closing a closed port does nothing
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(closed, 0);
  char c;
  EXPECT_EQ(port.Read(&c, 1), 0);
  EXPECT_EQ(port.Write("x", 1), 0);
}

TEST_F(PtyPort, BufferSizesChangeOnlyWhileClosed) {
  port.SetInBuffSize(100);
  port.Open();
  port.SetInBuffSize(10);
  port.Close();
  port.Open();
  EXPECT_EQ(port.InBuffSize(), 100);
  sim.Send(std::string(300, 'x'));
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return port.InCount() == 100; }));
  PumpFor(dispatcher, 50);
  EXPECT_EQ(port.InCount(), 100);  // never more than fits
  char buf[300];
  int total = 0;
  PumpUntil(dispatcher, [&] {
    total += port.Read(buf, sizeof buf);
    return total >= 300;
  });
  EXPECT_EQ(total, 300);  // the rest waited in the device
}

TEST_F(PtyPort, VanishedDeviceReportsTheErrorAndClosesItself) {
  unsigned errors = 0;
  int closed = 0;
  port.OnErrorSignal = [&](unsigned e) { errors |= e; };
  port.OnClose = [&] { ++closed; };
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  sim.Hangup();
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return closed == 1; }));
  EXPECT_TRUE(errors & CE_IOE);
  EXPECT_FALSE(port.IsOpen());
  char c;
  EXPECT_EQ(port.Read(&c, 1), 0);
  const auto t = Clock::now();
  port.Close();
  EXPECT_LT(MsSince(t), 500);
  EXPECT_EQ(closed, 1);
}

TEST_F(PtyPort, CloseDoesNotWaitForAHandlerTheMainThreadNeverRan) {
  int avail = 0;
  port.OnDataAvail = [&](int) { ++avail; };
  port.Open();
  sim.Send("RING\r\n");
  // The reader is now blocked handing OnDataAvail over; nobody drains.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto t = Clock::now();
  port.Close();
  EXPECT_LT(MsSince(t), 1000);
  EXPECT_FALSE(port.IsOpen());
  dispatcher.Drain();
  EXPECT_EQ(avail, 0);
}

TEST_F(PtyPort, CloseFromInsideAHandlerFinishesAfterIt) {
  int closed = 0;
  port.OnDataAvail = [&](int) { port.Close(); };
  port.OnClose = [&] { ++closed; };
  port.Open();
  sim.Send("x");
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return closed == 1; }));
  EXPECT_FALSE(port.IsOpen());
  port.Open();  // and it opens again
  EXPECT_TRUE(port.IsOpen());
}

struct FakePort : ::testing::Test {
  FakeLine line;
  QueueDispatcher dispatcher;
  PortMap ports;
  TCommPort port{dispatcher, ports, [this] { return std::make_unique<FakeSerialDevice>(line); }};
};

TEST_F(FakePort, WritingWaitsForCtsAndTakesOnlyTheFreeSpace) {
  line.lines.cts = false;
  port.SetOutBuffSize(8);
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  EXPECT_FALSE(port.CTS());
  EXPECT_EQ(port.Write("0123456789", 10), 8);
  EXPECT_EQ(port.OutFree(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(port.OutCount(), 8);  // held back while CTS is off
  EXPECT_EQ(line.Written(), "");

  line.SetCts(true);
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return port.OutCount() == 0; }));
  EXPECT_EQ(port.Write("89", 2), 2);
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return line.Written() == "0123456789"; }));
}

TEST_F(FakePort, LineChangesBreaksAndErrorsReachTheOwnerInOrder) {
  std::vector<std::string> seen;
  port.OnCTSSignal = [&] { seen.push_back(port.CTS() ? "cts+" : "cts-"); };
  port.OnBreakSignal = [&] { seen.push_back("break"); };
  port.OnErrorSignal = [&](unsigned e) { seen.push_back("err" + std::to_string(e)); };
  port.Open();
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return seen.size() == 1; }));
  EXPECT_EQ(seen[0], "cts+");  // the initial state
  line.SetCts(false);
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return seen.size() == 2; }));
  EXPECT_EQ(seen[1], "cts-");
  line.FrameError();
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return seen.size() == 3; }));
  EXPECT_EQ(seen[2], "err" + std::to_string(CE_FRAME));
  line.Break();
  ASSERT_TRUE(PumpUntil(dispatcher, [&] { return seen.size() == 4; }));
  EXPECT_EQ(seen[3], "break");
  EXPECT_EQ(line.line.baud, 19200u);
}

TEST_F(FakePort, SettersApplyAtOnceWhileOpen) {
  port.Open();
  port.SetBaudRate(br56000);
  port.SetParity(paMark);
  port.SetStopBits(sb2_0);
  port.SetDataBits(db7);
  std::lock_guard lk(line.mu);
  EXPECT_EQ(line.line.baud, 56000u);
  EXPECT_EQ(line.line.parity, SerialParity::Mark);
  EXPECT_EQ(line.line.stopBits, SerialStopBits::Two);
  EXPECT_EQ(line.line.dataBits, 7);
}

}  // namespace
}  // namespace zv::test
