// Whole programs linked by the simulated telephone exchange: a site in alarm
// calls the station over the modem and streams its pictures, and a site
// whose owner keys the disarming code calls nobody after that.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "Programs.h"
#include "app/Picture.h"
#include "link/Protocol.h"
#include "link/secure/SecureChannel.h"
#include "support/LoopbackPorts.h"
#include "support/PhoneExchange.h"
#include "video/Bmp.h"

namespace zv::test {
namespace {

using namespace std::chrono_literals;

// COM ports mapped to the given devices, every other one to a missing path.
std::string Ports(const std::string& dir, int com, const std::string& device) {
  std::string s = "[Ports]\r\n";
  for (int i = 1; i <= 8; ++i)
    s += "COM" + std::to_string(i) + "=" +
         (i == com ? device : dir + "/missing-com" + std::to_string(i)) + "\r\n";
  for (int i = 1; i <= 3; ++i) s += "LPT" + std::to_string(i) + "=" + dir + "/missing-lpt\r\n";
  return s;
}

// A site with one emulated camera that sees nothing but motion (a box
// crossing the picture), armed at start with the modem on COM4.
std::string SiteIni(const std::string& dir, const std::string& modem, int objNum,
                    const std::string& abonents, int count) {
  std::filesystem::create_directories(dir + "/frames");
  for (int k = 0; k < 7; ++k) {
    TPicture pic(352, 288);
    for (std::size_t i = 0; i < pic.SizeBytes(); ++i) pic.Data()[i] = 128;
    for (int y = 100; y < 180; ++y)
      for (int x = 20 + 45 * k; x < 60 + 45 * k; ++x) pic.ScreenRow(y)[3 * x + 2] = 220;
    SaveBmp(dir + "/frames/" + std::to_string(k) + ".bmp", pic);
  }
  return "[Main]\r\nServerMode=0\r\nLinkPort=" + std::to_string(FreePort()) +
         "\r\nAbonentsCount=" + std::to_string(count) + "\r\n" + abonents +
         "[MainForm]\r\nClientCommType.ItemIndex=0\r\nClientComPort.Value=4\r\n"
         "DialType.ItemIndex=1\r\nObjNum.Value=" +
         std::to_string(objNum) +
         "\r\nCamerasAmount.Value=1\r\nVideoEmulation.Checked=1\r\n"
         "VideoEmulationFile.FileName=" +
         dir +
         "/frames\r\nAutoStartRecord.Checked=1\r\nAutoStartDefence.Checked=1\r\n"
         "DefenceOnDelay.Value=0\r\nDefenceOffDelay.Value=1\r\n"
         "ServerAddresses.Text=127.0.0.1\r\n"
         "[Camera1]\r\nDescription=Двор\r\nZones=" +
         std::string(320, '1') + "\r\n" + Ports(dir, 4, modem);
}

std::string Abonent(int n, const std::string& phone, bool toServer, const std::string& voice) {
  return "[Abonent" + std::to_string(n) + "]\r\nName=Абонент " + std::to_string(n) +
         "\r\nPhoneNumber=" + phone + "\r\nConnectToServerMode=" + (toServer ? "1" : "0") +
         "\r\nVoiceFile=" + voice +
         "\r\nWaitAnswerTimeout=15\r\nRecallDelay=30\r\nRecallTime=3\r\n";
}

// A station with Object 7 ("Дача", one camera) and the key given (none when
// empty), on the link kind given (0 the modem, 1 the direct line, 2 the
// network) with the device given on COM3.
std::string StationIni(const std::string& dir, int port, int kind, const std::string& key,
                       const std::string& device = {}) {
  return "[Main]\r\nServerMode=1\r\nObjectsCount=1\r\nLinkPort=" + std::to_string(port) +
         "\r\n[MainForm]\r\nServerCommType.ItemIndex=" + std::to_string(kind) +
         "\r\nServerComPort.Value=3\r\n"
         "[Object1]\r\nName=Дача\r\nID=7\r\nCams=1\r\nCameras=\"Двор\"\r\nLinkKey=" +
         key + "\r\n" + Ports(dir, 3, device.empty() ? dir + "/missing-com3" : device);
}

// A station and a site, each a program in its own folder; the site starts
// once the station has.
struct StationAndSite {
  TempDir st, si;
  Reaper station{-1}, site{-1};  // after the folders: they go first

  std::string StationDir() const { return st.path().string(); }
  std::string SiteDir() const { return si.path().string(); }
  std::string StationLog() const { return st.file("Zorvenix.log"); }
  std::string SiteLog() const { return si.file("Zorvenix.log"); }
  std::string BothLogs() const { return ReadFile(StationLog()) + ReadFile(SiteLog()); }

  ::testing::AssertionResult Start(const std::string& stationIni, const std::string& siteIni) {
    WriteFile(st.file("Zorvenix.ini"), stationIni);
    WriteFile(si.file("Zorvenix.ini"), siteIni);
    station.pid = Launch(StationDir());
    if (!WaitForText(StationLog(), "Программа запущена", 60s))
      return ::testing::AssertionFailure() << "the station did not start\n" << BothLogs();
    site.pid = Launch(SiteDir());
    return ::testing::AssertionSuccess();
  }
  // The station has taken the site's first status: Object 7 armed.
  ::testing::AssertionResult Armed() const {
    if (WaitForText(StationLog(), "Установка на охрану объекта №7(Дача)", 60s))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "Object 7 never armed at the station\n" << BothLogs();
  }
};

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// A station and a site, each with its modem on the exchange: the site
// calls the station (5550100) when in alarm.
::testing::AssertionResult StartOverModems(PhoneExchange& exchange, StationAndSite& p) {
  const std::string stationModem = exchange.AddModem("5550100");
  const std::string siteModem = exchange.AddModem("5550155");
  return p.Start(StationIni(p.StationDir(), FreePort(), 0, "", stationModem),
                 SiteIni(p.SiteDir(), siteModem, 7, Abonent(1, "5550100", true, ""), 1));
}

TEST(LinkProgram, ASiteInAlarmCallsTheStationOverTheModemAndTheStationFollowsIt) {
  PhoneExchange exchange;
  StationAndSite p;
  ASSERT_TRUE(StartOverModems(exchange, p));
  const std::string stationLog = p.StationLog(), siteLog = p.SiteLog();

  // The call, its answer, and the site's pictures with its status.
  ASSERT_TRUE(p.Armed());
  const auto siteTexts = Texts(ReadFile(siteLog));
  EXPECT_TRUE(Has(siteTexts, "Исходящий звонок на сервер (5550100)"));
  EXPECT_TRUE(
      Has(siteTexts, "Установлено соединение в режиме приёма/передачи данных (скорость: 33600)"));
  const auto stationTexts = Texts(ReadFile(stationLog));
  EXPECT_TRUE(Has(stationTexts, "Входящий звонок !"));
  EXPECT_TRUE(Has(stationTexts,
                  "Установлено соединение в режиме приёма/передачи данных (скорость: 33600)"));
  // Tone dialling as set, the modem's own set-up command, and its logs.
  const auto commands = exchange.Commands("5550155");
  EXPECT_TRUE(Has(commands, "ATDT5550100"));
  EXPECT_TRUE(Has(commands, "ATL0"));
  EXPECT_NE(ReadFile(p.si.file("Trace.log")).find("ATDT5550100"), std::string::npos);
  EXPECT_NE(ReadFile(p.si.file("Debug.log")).find("Opened voice modem device"), std::string::npos);
  // Pictures keep coming, frame after frame.
  EXPECT_TRUE(exchange.WaitFor([&] { return exchange.DataSent("5550155") > 40000; }));

  // The station goes: it hangs up, and the site sees the line drop.
  EXPECT_EQ(Stop(p.station.pid), 0);
  EXPECT_TRUE(WaitForText(siteLog, "Завершение соединения", 10s)) << ReadFile(siteLog);
  EXPECT_FALSE(exchange.Connected("5550155"));
  EXPECT_EQ(Stop(p.site.pid), 0);
}

TEST(LinkProgram, AStationKilledInACallHangsItUpWhenStartedAgain) {
  PhoneExchange exchange;
  StationAndSite p;
  ASSERT_TRUE(StartOverModems(exchange, p));
  const std::string stationLog = p.StationLog(), siteLog = p.SiteLog();
  ASSERT_TRUE(p.Armed());
  ASSERT_TRUE(exchange.WaitFor([&] { return exchange.DataSent("5550155") > 40000; }));

  // The station dies without hanging up; its modem keeps the call.
  kill(p.station.pid, SIGKILL);
  waitpid(p.station.pid, nullptr, 0);
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(exchange.Connected("5550100"));
  const std::size_t before = ReadFile(stationLog).size();

  // Started again, it finds its modem deaf in that call: back to commands,
  // the call hung up, the modem set up; the site sees its call end.
  p.station.pid = Launch(p.StationDir());
  ASSERT_TRUE(exchange.WaitFor(
      [&] { return ReadFile(stationLog).find("Программа запущена", before) != std::string::npos; },
      60000))
      << ReadFile(stationLog);
  EXPECT_EQ(ReadFile(stationLog).find("не отвечает на команды", before), std::string::npos)
      << ReadFile(stationLog).substr(before);
  EXPECT_TRUE(WaitForText(siteLog, "Завершение соединения", 10s)) << ReadFile(siteLog);
  EXPECT_FALSE(exchange.Connected("5550100"));
  EXPECT_TRUE(Has(exchange.Commands("5550100"), "ATH0"));
  EXPECT_EQ(Stop(p.station.pid), 0);
  EXPECT_EQ(Stop(p.site.pid), 0);
}

TEST(LinkProgram, TheOwnerDisarmsByDtmfAndTheNextAbonentIsNeverCalled) {
  PhoneExchange exchange;
  const std::string siteModem = exchange.AddModem("5550155");
  exchange.AddSubscriber("5550001", {"7295"});
  exchange.AddSubscriber("5550002", {});
  TempDir si;
  // Two seconds of voice, without a header.
  const std::string voice = si.file("message.raw");
  WriteFile(voice, std::string(16000, '\x7F'));
  WriteFile(si.file("Zorvenix.ini"),
            SiteIni(si.path().string(), siteModem, 3,
                    Abonent(1, "5550001", false, voice) + Abonent(2, "5550002", false, voice), 2));
  const std::string log = si.file("Zorvenix.log");
  const pid_t site = Launch(si.path().string());
  Reaper reap{site};
  ASSERT_TRUE(WaitForText(log, "Исходящий голосовой звонок (5550001)", 60s)) << ReadFile(log);
  ASSERT_TRUE(WaitForText(log, "Режим охраны снят", 20s)) << ReadFile(log);
  // Time enough for a second call, had the dispatch gone on.
  std::this_thread::sleep_for(2s);
  EXPECT_EQ(exchange.Dialled(), std::vector<std::string>{"5550001"});
  EXPECT_GE(exchange.VoiceHeard("5550001"), 400u);
  EXPECT_EQ(ReadFile(log).find("Исходящий голосовой звонок (5550002)"), std::string::npos);
  // PCM voice, as the main window sets the modem up.
  EXPECT_TRUE(Has(exchange.Commands("5550155"), "AT+VSM=128,8000,0,0"));
  EXPECT_EQ(Stop(site), 0);
}

// --- the link with keys, whole programs over loopback TCP and a serial cable

const std::string kKey = "8f3a9c0d51e27b46a9d8c3e1f0b27d4c6e5a9b8c7d6e5f4a3b2c1d0e9f8a7b61";
const std::string kOtherKey = "1c2b3a4d5e6f708192a3b4c5d6e7f8091a2b3c4d5e6f708192a3b4c5d6e7f809";

// The armed site of Object 7 on the network (kind 2) or the direct line on
// COM4 (kind 1), with the key given.
std::string KeyedSiteIni(const std::string& dir, int port, int kind, const std::string& key,
                         const std::string& cable = {}) {
  std::string ini = SiteIni(dir, cable.empty() ? dir + "/missing-com4" : cable, 7, "", 0);
  const auto at = ini.find("ClientCommType.ItemIndex=0");
  ini.replace(at, std::string("ClientCommType.ItemIndex=0").size(),
              "ClientCommType.ItemIndex=" + std::to_string(kind) + "\r\nLinkKey.Text=" + key);
  const auto p = ini.find("LinkPort=");
  ini.replace(p, ini.find("\r\n", p) - p, "LinkPort=" + std::to_string(port));
  return ini;
}

// Every file a program writes its journal and modem logs to.
std::string Logs(const TempDir& d) {
  std::string all;
  for (const char* f : {"Zorvenix.log", "Debug.log", "Trace.log"}) all += ReadFile(d.file(f));
  return all;
}

bool Private(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600;
}

TEST(SecureLinkProgram, KeyedSiteAndStationOverTheNetworkAndTheKeyStaysOutOfEveryLog) {
  StationAndSite p;
  const int port = FreePort();
  ASSERT_TRUE(
      p.Start(StationIni(p.StationDir(), port, 2, kKey), KeyedSiteIni(p.SiteDir(), port, 2, kKey)));
  const std::string stationLog = p.StationLog(), siteLog = p.SiteLog();
  ASSERT_TRUE(p.Armed());
  EXPECT_NE(ReadFile(stationLog).find("Защищённая связь с объектом №7(Дача)"), std::string::npos);
  EXPECT_TRUE(WaitForText(siteLog, "Защищённая связь с сервером 127.0.0.1 установлена", 10s));
  EXPECT_EQ(ReadFile(stationLog).find("не защищена"), std::string::npos);
  EXPECT_EQ(Stop(p.site.pid), 0);
  EXPECT_EQ(Stop(p.station.pid), 0);
  // The key is in the settings files alone, and they are their owner's.
  for (const TempDir* d : {&p.st, &p.si}) {
    EXPECT_EQ(Logs(*d).find(kKey), std::string::npos);
    EXPECT_TRUE(Private(d->file("Zorvenix.ini")));
  }
}

TEST(SecureLinkProgram, DifferentKeysAreRefusedOnBothSidesAndNothingIsTaken) {
  StationAndSite p;
  const int port = FreePort();
  ASSERT_TRUE(p.Start(StationIni(p.StationDir(), port, 2, kKey),
                      KeyedSiteIni(p.SiteDir(), port, 2, kOtherKey)));
  const std::string stationLog = p.StationLog(), siteLog = p.SiteLog();
  EXPECT_TRUE(WaitForText(siteLog, "ключ связи сервера не совпадает с ключом объекта", 60s))
      << ReadFile(siteLog);
  EXPECT_TRUE(WaitForText(stationLog, "ключ связи объекта не совпадает с ключом в записи", 10s))
      << ReadFile(stationLog);
  EXPECT_EQ(Stop(p.site.pid), 0);
  EXPECT_EQ(Stop(p.station.pid), 0);
  EXPECT_EQ(ReadFile(stationLog).find("Установка на охрану объекта №7"), std::string::npos);
}

TEST(SecureLinkProgram, KeyedSiteAndStationOverTheDirectLine) {
  PhoneExchange exchange;
  const auto [stationEnd, siteEnd] = exchange.AddCable();
  StationAndSite p;
  ASSERT_TRUE(p.Start(StationIni(p.StationDir(), FreePort(), 1, kKey, stationEnd),
                      KeyedSiteIni(p.SiteDir(), FreePort(), 1, kKey, siteEnd)));
  const std::string stationLog = p.StationLog(), siteLog = p.SiteLog();
  ASSERT_TRUE(p.Armed());
  EXPECT_NE(ReadFile(stationLog).find("Защищённая связь с объектом №7(Дача) (Com3:)"),
            std::string::npos);
  EXPECT_NE(ReadFile(siteLog).find("Защищённая связь с сервером по Com4: установлена"),
            std::string::npos);
  EXPECT_EQ(Stop(p.site.pid), 0);
  EXPECT_EQ(Stop(p.station.pid), 0);
  for (const TempDir* d : {&p.st, &p.si}) EXPECT_EQ(Logs(*d).find(kKey), std::string::npos);
}

TEST(SecureLinkProgram, KeyedSiteCallsTheStationOverTheModemAndItsPicturesGoSealed) {
  PhoneExchange exchange;
  const std::string stationModem = exchange.AddModem("5550100");
  const std::string siteModem = exchange.AddModem("5550155");
  StationAndSite p;
  std::string siteIni = SiteIni(p.SiteDir(), siteModem, 7, Abonent(1, "5550100", true, ""), 1);
  siteIni.replace(siteIni.find("[MainForm]\r\n"), 12,
                  "[MainForm]\r\nLinkKey.Text=" + kKey + "\r\n");
  ASSERT_TRUE(p.Start(StationIni(p.StationDir(), FreePort(), 0, kKey, stationModem), siteIni));
  const std::string stationLog = p.StationLog(), siteLog = p.SiteLog();
  ASSERT_TRUE(p.Armed());
  EXPECT_NE(ReadFile(stationLog).find("Защищённая связь с объектом №7(Дача) (модем) установлена"),
            std::string::npos);
  EXPECT_NE(ReadFile(siteLog).find("Защищённая связь с сервером по модему установлена"),
            std::string::npos);
  EXPECT_TRUE(exchange.WaitFor([&] { return exchange.DataSent("5550155") > 40000; }));
  EXPECT_EQ(Stop(p.station.pid), 0);
  EXPECT_TRUE(WaitForText(siteLog, "Завершение соединения", 10s)) << ReadFile(siteLog);
  EXPECT_EQ(Stop(p.site.pid), 0);
  // The modem's log and trace were written, and hold no key.
  EXPECT_FALSE(ReadFile(p.si.file("Trace.log")).empty());
  for (const TempDir* d : {&p.st, &p.si}) EXPECT_EQ(Logs(*d).find(kKey), std::string::npos);
}

// Someone at the station's port who speaks the secure link through the
// engine on a plain socket, and keeps every byte it sent.
struct PortSpeaker {
  int fd = -1;
  std::unique_ptr<SecureChannel> channel;
  std::vector<std::uint8_t> sent;
  ~PortSpeaker() {
    if (fd >= 0) ::close(fd);
  }
  bool Connect(int port) {
    fd = ConnectLoopback(port);
    return fd >= 0;
  }
  void Send(const std::vector<std::uint8_t>& b) {
    sent.insert(sent.end(), b.begin(), b.end());
    ::send(fd, b.data(), b.size(), MSG_NOSIGNAL);
  }
  void Flush() {
    ByteBuffer& out = channel->Outbox();
    Send(std::vector<std::uint8_t>(out.data(), out.data() + out.size()));
    out.clear();
  }
  // A session as Object id's site with this key, up to its proof.
  bool Session(int port, std::uint32_t id, const std::string& key) {
    if (!Connect(port)) return false;
    LinkKey k;
    LinkKey::Parse(key, k);
    channel = std::make_unique<SecureChannel>(id, k, ChannelOptions::Network(), Now());
    channel->Start(Now());
    Flush();
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!channel->Established() && std::chrono::steady_clock::now() < until) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      std::uint8_t buf[512];
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return false;
      channel->Receive(buf, static_cast<std::size_t>(n), Now());
      Flush();
    }
    return channel->Established();
  }
  std::vector<std::uint8_t> Sealed(const std::vector<std::uint8_t>& plain) {
    channel->Seal(plain);
    ByteBuffer& out = channel->Outbox();
    std::vector<std::uint8_t> r(out.data(), out.data() + out.size());
    out.clear();
    return r;
  }
  static std::uint64_t Now() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
};

std::vector<std::uint8_t> StatusOf(int id, bool armed) {
  std::vector<std::uint8_t> m =
      BuildHeader(19 + 4, link::mtPicture, static_cast<std::uint8_t>(id), 1, 0xFF, 0);
  m.insert(m.end(), {static_cast<std::uint8_t>(armed ? 1 : 0), 0, 0, 0});
  return m;
}

// A station process against what an attacker at its port can do: a
// recorded session played again, a byte changed, a record sent twice, a
// site naming this Object with another key.  Each is refused and journaled,
// and the Object stays armed.
TEST(SecureLinkProgram, RecordedChangedAndRepeatedRecordsAreRefusedByAStationProcess) {
  TempDir st;
  const int port = FreePort();
  WriteFile(st.file("Zorvenix.ini"), StationIni(st.path().string(), port, 2, kKey));
  const std::string log = st.file("Zorvenix.log");
  const pid_t station = Launch(st.path().string());
  Reaper reap{station};
  ASSERT_TRUE(WaitForText(log, "Программа запущена", 60s));

  PortSpeaker real;
  ASSERT_TRUE(real.Session(port, 7, kKey)) << ReadFile(log);
  const auto armed = real.Sealed(StatusOf(7, true));
  real.Send(armed);
  ASSERT_TRUE(WaitForText(log, "Установка на охрану объекта №7(Дача)", 10s)) << ReadFile(log);

  PortSpeaker replay;
  ASSERT_TRUE(replay.Connect(port));
  replay.Send(real.sent);
  EXPECT_TRUE(
      WaitForText(log, SecureFaultText(SecureFault::ProofFailed, SecureRole::Station), 10s));

  real.Send(armed);  // the same record once more
  EXPECT_TRUE(WaitForText(log, SecureFaultText(SecureFault::Replayed, SecureRole::Station), 10s));

  PortSpeaker changed;
  ASSERT_TRUE(changed.Session(port, 7, kKey));
  auto disarm = changed.Sealed(StatusOf(7, false));
  disarm[disarm.size() - 20] ^= 0x40;
  changed.Send(disarm);
  EXPECT_TRUE(WaitForText(log, SecureFaultText(SecureFault::AuthFailed, SecureRole::Station), 10s));

  PortSpeaker other;
  EXPECT_FALSE(other.Session(port, 7, kOtherKey));
  EXPECT_TRUE(
      WaitForText(log, SecureFaultText(SecureFault::RefusedMismatch, SecureRole::Station), 10s));

  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Stop(station), 0);
  EXPECT_EQ(ReadFile(log).find("Снятие с охраны объекта №7"), std::string::npos);
}

}  // namespace
}  // namespace zv::test
