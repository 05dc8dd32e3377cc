// Devices that go away under a running site and come back: the serial
// port of the sensors, the switcher's port, the modem in the middle of a
// call, the direct line's adapter, and the capture device.  Each is a
// pseudo-terminal of the simulated exchange reached through a stable name
// (a symbolic link, as /dev/serial/by-id gives one), pulled out and plugged
// in again.  Each loss is told once, nothing crashes, and the site takes
// the device up again by itself once it is back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "detect/RecordPanel.h"
#include "link/LinkFixture.h"
#include "support/FileChecks.h"
#include "support/PhoneExchange.h"
#include "tests/video/VideoFixture.h"

namespace zv::test {
namespace {

namespace fs = std::filesystem;

int CountHaving(const std::vector<std::string>& texts, const std::string& part) {
  return static_cast<int>(std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
    return t.find(part) != std::string::npos;
  }));
}

// A device's stable name, pointing at whatever pseudo-terminal it is now.
class StableName {
 public:
  StableName(const TempDir& dir, const std::string& name, const std::string& target)
      : path_(dir.file(name)) {
    Point(target);
  }
  void Point(const std::string& target) {
    std::error_code ec;
    fs::remove(path_, ec);
    fs::create_symlink(target, path_);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A site on the fake platform whose ports are pseudo-terminals of the
// exchange; its heartbeat and frames run on the fake clock.
class DeviceSite : public ::testing::Test {
 protected:
  void Start(const std::string& form, const std::string& ports) {
    WriteFile(dir.file("Zorvenix.ini"), "[MainForm]\r\n" + form + "[Ports]\r\n" + ports);
    app = std::make_unique<Application>(loop.services,
                                        AppPaths{dir.path().string(), dir.path().string()});
    auto d = std::make_unique<ScriptedDriver>();
    d->w = 160;
    d->h = 120;
    driver = d.get();
    app->video->SetCaptureDriver(std::move(d));
    app->journal.LineAdded.Connect([this](const Journal::ViewLine& l) { shown.push_back(l.text); });
    app->FormCreate();
  }
  void TearDown() override {
    if (app) app->FormClose();
  }
  int Shown(const std::string& part) const { return CountHaving(shown, part); }

  PhoneExchange exchange;
  TempDir dir;
  FakeLoop loop;
  std::unique_ptr<Application> app;
  ScriptedDriver* driver = nullptr;
  std::vector<std::string> shown;
};

TEST_F(DeviceSite, TheSensorsPortThatGoesIsToldOnceAndReadAgainWhenItIsBack) {
  const std::string device = exchange.AddCable().first;
  StableName com5(dir, "ttyUSB-sensors", device);
  Start("UseGaugesOnCom.Checked=1\r\nEventComPort.Value=5\r\nCD.Checked=1\r\n",
        "COM5=" + com5.path() + "\r\n");
  const std::string open = "Порт Com5: для получения сигналов с датчиков открыт";
  // Said with the system's reason.
  const std::string failed = "Ошибка открытия порта Com5: для получения сигналов с датчиков (";
  EXPECT_EQ(Shown(open), 1);
  loop.RunFor(3000);
  EXPECT_EQ(Shown(failed), 0);

  exchange.Unplug(device);
  loop.RunFor(5000);
  EXPECT_EQ(Shown(failed), 1);  // once, not once a second

  com5.Point(exchange.Replug(device));
  loop.RunFor(2000);
  EXPECT_EQ(Shown(open), 2);
  EXPECT_EQ(Shown(failed), 1);
}

TEST_F(DeviceSite, TheSwitcherPortThatGoesIsToldOnceAndOpenedAgainWhenItIsBack) {
  const std::string device = exchange.AddCable().first;
  StableName com6(dir, "ttyUSB-switcher", device);
  Start(
      "VideoDriver.Value=1\r\nCamerasAmount.Value=2\r\nUseSwitcher.Checked=1\r\n"
      "SwitcherComPort.Value=6\r\nSwitchDelay.Value=0\r\n",
      "COM6=" + com6.path() + "\r\n");
  const std::string open = "Порт Com6: для управления видеокоммутатором открыт";
  const std::string lost = "Порт Com6: для управления видеокоммутатором потерян !";
  EXPECT_EQ(Shown(open), 1);
  loop.RunFor(1000);
  EXPECT_EQ(Shown(lost), 0);

  exchange.Unplug(device);
  loop.RunFor(3000);
  EXPECT_EQ(Shown(lost), 1);
  EXPECT_FALSE(app->record->Switcher().IsOpen());
  // The cameras keep getting frames: without its switcher the card shows
  // one input, but nothing stops.
  const auto frames = app->video->Video.FramesDelivered();
  loop.RunFor(1000);
  EXPECT_GT(app->video->Video.FramesDelivered(), frames + 10);

  com6.Point(exchange.Replug(device));
  loop.RunFor(1000);
  EXPECT_EQ(Shown(open), 2);
  EXPECT_EQ(Shown(lost), 1);
  EXPECT_TRUE(app->record->Switcher().IsOpen());
}

TEST_F(DeviceSite, ACaptureDeviceThatStopsIsToldOnceAndRecordingGoesOnWhenItIsBack) {
  Start("VideoDriver.Value=1\r\nRecordingOn.ItemIndex=0\r\n[Camera1]\r\nFramesPerMinute=600\r\n",
        "");
  app->form.RecFileName.SetFileName(dir.file("rec.dsc"));
  app->form.RecordBtn.Click();
  loop.RunFor(2000);
  const int before = CheckPair(dir.file("rec.dsc")).records;
  ASSERT_GT(before, 5);

  driver->grabFails = true;
  loop.RunFor(10000);
  EXPECT_EQ(Shown("Нет видеосигнала с устройства"), 1);
  EXPECT_LE(CheckPair(dir.file("rec.dsc")).records, before + 1);
  EXPECT_TRUE(app->record->Recording());

  driver->grabFails = false;
  loop.RunFor(5000);
  EXPECT_EQ(Shown("восстановлен"), 1);
  const PairReport after = CheckPair(dir.file("rec.dsc"));
  EXPECT_TRUE(after.Whole()) << after.Describe();
  EXPECT_GT(after.records, before + 10);
}

// The modem and the direct line, with the link's own fixture.
class LinkDeviceTest : public LinkFixture {
 protected:
  void SetUp() override {
    loop.onPump = [this] {
      if (++pumps % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (onPump) onPump();
    };
  }
  void TearDown() override {
    onPump = nullptr;
    if (a_) a_->app->alarm->gauges.ReadCamera = nullptr;
    LinkFixture::TearDown();
  }
  ~LinkDeviceTest() override { loop.onPump = nullptr; }
  void Seconds(int n) { loop.RunFor(static_cast<std::uint64_t>(n) * 1000); }
  // Runs the fake clock a second at a time until done, at most limit seconds;
  // then, on a loaded machine, a few real seconds more: a device's loss is
  // seen by its port's reader thread in real time.
  bool SecondsUntil(const std::function<bool()>& done, int limit) {
    for (int i = 0; i < limit && !done(); ++i) Seconds(1);
    return done() || PumpUntil(
                         [&] {
                           loop.RunFor(100);
                           return done();
                         },
                         5000);
  }
  static bool Sealed(Program& p) {
    const SecureChannel* c = p.link().SerialChannel();
    return c && c->Established();
  }
  std::string SealedCable();
  // Stops the output of a pseudo-terminal's end as flow control does,
  // through a second opener; ResumeOutput lets it go on.
  static int StopOutput(const std::string& end) {
    const int hold = ::open(end.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(hold, 0);
    EXPECT_EQ(::tcflow(hold, TCOOFF), 0);
    return hold;
  }
  static void ResumeOutput(int hold) {
    EXPECT_EQ(::tcflow(hold, TCOON), 0);
    ::close(hold);
  }
  static void ExpectNotJournaled(Program& p, std::size_t from, const std::string& text) {
    for (const auto& t : p.Logged(from)) EXPECT_EQ(t.find(text), std::string::npos) << t;
  }
  // Waits with the fake clock kept near real time, so that a handshake over
  // a pseudo-terminal on a loaded machine is not timed out by the clock.
  bool Settle(const std::function<bool()>& done) {
    return PumpUntil([&] {
      loop.RunFor(10);
      PumpFor(2);
      return done();
    });
  }
  PhoneExchange exchange;
  TempDir names;
  std::function<void()> onPump;
  long pumps = 0;
  bool motion = false;
};

TEST_F(LinkDeviceTest, TheModemPulledOutInTheMiddleOfACallIsToldOnceAndTheCallIsMadeWhenItIsBack) {
  const std::string modem = exchange.AddModem("5550155");
  exchange.AddSubscriber("5550001", {});
  StableName com3(names, "ttyACM-modem", modem);
  comPaths[3] = com3.path();
  const std::string voice = names.file("message.raw");
  WriteFile(voice, std::string(16000, '\x7F'));  // two seconds
  a_ = Site(
      1, 1,
      "AbonentsCount=1\r\n[Abonent1]\r\nName=Хозяин\r\nPhoneNumber=5550001\r\nVoiceFile=" + voice +
          "\r\nConnectToServerMode=0\r\nRecallDelay=20\r\nRecallTime=5\r\n",
      0,
      [](Program& p) {
        TModemProfile& m = p.link().ModemProfile1;
        m.PortTimeOut = 2;
        m.PortStatusDelay = 5;
        m.PortReadDelay = 2;
        m.PortWriteDelay = 2;
      },
      "ClientComPort.Value=3\r\nDialType.ItemIndex=1\r\nDefenceOffDelay.Value=1\r\n");
  Program& site = *a_;
  site.app->video->Shutdown();
  motion = true;
  site.app->alarm->gauges.ReadCamera = [this](int k, CameraMotionInput& out) {
    out = {true, 0.08, motion ? 50 : 0};
    return k == 1;
  };
  const std::string open = "Порт Com3: для связи с сервером открыт";
  const std::string lost = "Порт Com3: для связи с сервером потерян !";
  ASSERT_TRUE(site.HasLine(open));
  site.site().Armed = true;

  // The modem goes while the subscriber is hearing the message.
  bool pulled = false;
  onPump = [&] {
    if (!pulled && exchange.VoiceHeard("5550001") > 2000) {
      pulled = true;
      exchange.Unplug(modem);
    }
  };
  ASSERT_TRUE(SecondsUntil([&] { return pulled; }, 60));
  ASSERT_TRUE(SecondsUntil([&] { return site.HasLine(lost); }, 10));
  Seconds(10);
  const auto logged = site.Logged();
  EXPECT_EQ(CountHaving(logged, "потерян"), 1);
  EXPECT_FALSE(site.app->settings.Abonents[1].Reached);

  // Plugged in again: opened and set up as at the start, and the subscriber
  // is called again at the next redial and hears the whole message.
  const std::size_t heard = exchange.VoiceHeard("5550001");
  com3.Point(exchange.Replug(modem));
  ASSERT_TRUE(SecondsUntil([&] { return CountHaving(site.Logged(), open) == 2; }, 10));
  // (A loaded machine may let a redial's answer come too late on the test's
  // clock: the next redial then reaches the subscriber.)
  ASSERT_TRUE(SecondsUntil([&] { return site.app->settings.Abonents[1].Reached; }, 150))
      << ::testing::PrintToString(site.Logged());
  EXPECT_GE(exchange.VoiceHeard("5550001"), heard + 15000);
  EXPECT_EQ(CountHaving(site.Logged(), "потерян"), 1) << ::testing::PrintToString(site.Logged());
}

TEST_F(LinkDeviceTest, TheDirectLinesAdapterThatGoesIsToldOnceAndCommandsArriveWhenItIsBack) {
  const auto [station, siteEnd] = exchange.AddCable();
  StableName com3(names, "ttyUSB-line", siteEnd);
  comPaths[3] = com3.path();
  a_ = Site(1, 1, "", 1, {}, "ClientComPort.Value=3\r\n");
  Program& site = *a_;
  site.app->video->Shutdown();
  const std::string open = "Порт Com3: для связи с сервером открыт";
  ASSERT_TRUE(site.HasLine(open));

  exchange.Unplug(siteEnd);
  ASSERT_TRUE(
      SecondsUntil([&] { return site.HasLine("Порт Com3: для связи с сервером потерян !"); }, 10));
  Seconds(10);
  EXPECT_EQ(CountHaving(site.Logged(), "потерян"), 1);

  com3.Point(exchange.Replug(siteEnd));
  ASSERT_TRUE(SecondsUntil([&] { return CountHaving(site.Logged(), open) == 2; }, 10));
  // The station's arming command comes over the line again.
  const auto cmd = BuildCommand(true, 0);
  const int fd = ::open(station.c_str(), O_WRONLY | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, cmd.data(), cmd.size()), static_cast<ssize_t>(cmd.size()));
  ::close(fd);
  EXPECT_TRUE(PumpUntil([&] {
    loop.RunFor(100);
    return site.site().Armed;
  }));
}

// A line whose output stops (flow control, a cable end that takes nothing):
// the port's buffer fills and the site's messages are refused, but none goes
// in part, so the other end reads whole messages when the line moves again.
TEST_F(LinkDeviceTest, ADirectLineThatStallsGivesTheOtherEndWholeMessagesWhenItMovesAgain) {
  int master = -1, slave = -1;
  char name[64];
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  comPaths[3] = name;
  a_ = Site(1, 1, "", 1, {}, "ClientComPort.Value=3\r\n");
  Program& site = *a_;
  site.app->video->Shutdown();
  ASSERT_TRUE(site.HasLine("Порт Com3: для связи с сервером открыт"));
  std::string got;
  auto drain = [&] {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(master, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
  };
  ASSERT_TRUE(site.link().SendPictureMessage(1, true));
  ASSERT_TRUE(PumpUntil([&] {
    drain();
    return !got.empty();
  }));
  PumpFor(200);
  drain();
  // The status message as the line carries it (the port's opening sent one too).
  const std::size_t size = static_cast<std::size_t>(link::kHeaderSize) + 4;
  ASSERT_EQ(got.size() % size, 0u);
  const std::string message = got.substr(got.size() - size);

  ASSERT_EQ(::tcflow(slave, TCOOFF), 0);
  got.clear();
  int sent = 0, refused = 0;
  for (int i = 0; i < 600; ++i) {
    (site.link().SendPictureMessage(1, true) ? sent : refused)++;
    if (i % 50 == 0) PumpFor(20);
  }
  EXPECT_GT(sent, 100);
  EXPECT_GT(refused, 0);  // the stall was felt

  ASSERT_EQ(::tcflow(slave, TCOON), 0);
  const std::size_t want = message.size() * static_cast<std::size_t>(sent);
  EXPECT_TRUE(PumpUntil([&] {
    drain();
    return got.size() >= want;
  }));
  PumpFor(200);
  drain();
  ASSERT_EQ(got.size(), want);
  for (std::size_t at = 0; at < got.size(); at += message.size())
    ASSERT_EQ(got.compare(at, message.size(), message), 0) << "message at byte " << at;
  a_->app->FormClose();
  a_.reset();
  ::close(master);
  ::close(slave);
}

// The same on a sealed line: what the port cannot take whole is not sealed,
// so the station never sees half a record and the session goes on.
// A site and a station keyed on a simulated cable (the site's end is
// returned), both sealed and the station's peer bound.
std::string LinkDeviceTest::SealedCable() {
  const std::string key = "8f3a9c0d51e27b46a9d8c3e1f0b27d4c6e5a9b8c7d6e5f4a3b2c1d0e9f8a7b61";
  const auto [stationEnd, siteEnd] = exchange.AddCable();
  comPaths[3] = siteEnd;
  comPaths[4] = stationEnd;
  b_ = StationOf(
      1,
      "[Object1]\r\nName=Склад\r\nID=1\r\nCams=1\r\nCameras=\"Ворота\"\r\nLinkKey=" + key + "\r\n",
      "ServerComPort.Value=4\r\n", 1);
  a_ = Site(1, 1, "", 1, {}, "ClientComPort.Value=3\r\nLinkKey.Text=" + key + "\r\n");
  a_->app->video->Shutdown();
  EXPECT_TRUE(Settle([&] { return Sealed(*a_) && Sealed(*b_) && b_->link().SerialPeer().Bound(); }))
      << ::testing::PrintToString(b_->Logged()) << ::testing::PrintToString(a_->Logged());
  return siteEnd;
}

TEST_F(LinkDeviceTest, ASealedDirectLineThatStallsKeepsItsSession) {
  const std::string siteEnd = SealedCable();
  ASSERT_FALSE(HasFatalFailure());
  Program& site = *a_;
  Program& station = *b_;
  const std::size_t stationFrom = station.Logged().size(), siteFrom = site.Logged().size();

  const int hold = StopOutput(siteEnd);
  int sent = 0, refused = 0;
  for (int i = 0; i < 600; ++i) {
    (site.link().SendPictureMessage(1, true) ? sent : refused)++;
    if (i % 50 == 0) PumpFor(20);
  }
  EXPECT_GT(sent, 20);
  EXPECT_GT(refused, 0);
  ResumeOutput(hold);

  // Every record sealed arrives and opens, and so does the next one; nothing
  // is left half way for the stall deadline to find.
  ASSERT_TRUE(PumpUntil([&] {
    loop.RunFor(100);
    return site.link().CommPort1.OutCount() == 0;
  }));
  ASSERT_TRUE(site.link().SendPictureMessage(1, true));
  for (int i = 0; i < 30; ++i) {
    loop.RunFor(1000);
    PumpFor(20);
  }
  EXPECT_TRUE(Sealed(site));
  EXPECT_TRUE(Sealed(station));
  ExpectNotJournaled(station, stationFrom, "Защищённая связь");
  ExpectNotJournaled(site, siteFrom, "Защищённая связь");
  // And the line still carries the station's commands.
  ASSERT_FALSE(site.site().Armed);
  ASSERT_TRUE(station.link().SendCommand(true, 0));
  EXPECT_TRUE(Settle([&] { return site.site().Armed; }));
}

TEST_F(LinkDeviceTest, ASealedDirectLineOpenedAnewWhileStalledBeginsANewSession) {
  const std::string siteEnd = SealedCable();
  ASSERT_FALSE(HasFatalFailure());
  Program& site = *a_;
  Program& station = *b_;
  const std::size_t stationFrom = station.Logged().size(), siteFrom = site.Logged().size();
  const int hold = StopOutput(siteEnd);
  int sent = 0;
  while (sent < 600 && site.link().SendPictureMessage(1, true))
    if (++sent % 50 == 0) PumpFor(20);
  EXPECT_GT(sent, 20);
  // The port chosen again: closed and opened with records of the old session
  // still on their way, and the line stays stopped while the site gives up
  // on one hello after another.
  site.link().ClientComPortChange(false);
  for (int i = 0; i < 25; ++i) {
    loop.RunFor(1000);
    PumpFor(5);
  }
  ResumeOutput(hold);
  // When it moves, the station answers every hello in turn; the site takes
  // the answer to its last one and nobody is told the keys differ.
  ASSERT_TRUE(Settle([&] {
    return Sealed(site) && Sealed(station) && station.link().SerialPeer().Bound();
  })) << ::testing::PrintToString(station.Logged(stationFrom))
      << ::testing::PrintToString(site.Logged(siteFrom));
  ASSERT_TRUE(station.link().SendCommand(true, 0));
  EXPECT_TRUE(Settle([&] { return site.site().Armed; }));
  ExpectNotJournaled(station, stationFrom, "не совпадает");
  ExpectNotJournaled(site, siteFrom, "не совпадает");
}

}  // namespace
}  // namespace zv::test
