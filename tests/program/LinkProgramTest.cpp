// Whole programs linked by the simulated telephone exchange: a site in alarm
// calls the station over the modem and streams its pictures, and a site
// whose owner keys the disarming code calls nobody after that.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>

#include "Programs.h"
#include "app/Picture.h"
#include "support/PhoneExchange.h"
#include "video/Bmp.h"

namespace zv::test {
namespace {

using namespace std::chrono_literals;

// A TCP port nobody listens on now (the station listens even with the
// modem link).
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

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

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(LinkProgram, ASiteInAlarmCallsTheStationOverTheModemAndTheStationFollowsIt) {
  PhoneExchange exchange;
  const std::string stationModem = exchange.AddModem("5550100");
  const std::string siteModem = exchange.AddModem("5550155");
  TempDir st, si;
  WriteFile(st.file("Zorvenix.ini"),
            "[Main]\r\nServerMode=1\r\nObjectsCount=1\r\nLinkPort=" + std::to_string(FreePort()) +
                "\r\n[MainForm]\r\nServerCommType.ItemIndex=0\r\nServerComPort.Value=3\r\n"
                "[Object1]\r\nName=Дача\r\nID=7\r\nCams=1\r\nCameras=\"Двор\"\r\n" +
                Ports(st.path().string(), 3, stationModem));
  WriteFile(si.file("Zorvenix.ini"),
            SiteIni(si.path().string(), siteModem, 7, Abonent(1, "5550100", true, ""), 1));
  const std::string stationLog = st.file("Zorvenix.log"), siteLog = si.file("Zorvenix.log");
  const pid_t station = Launch(st.path().string());
  Reaper reapStation{station};
  ASSERT_TRUE(WaitForText(stationLog, "Программа запущена", 60s));
  const pid_t site = Launch(si.path().string());
  Reaper reapSite{site};

  // The call, its answer, and the site's pictures with its status.
  ASSERT_TRUE(WaitForText(stationLog, "Установка на охрану объекта №7(Дача)", 60s))
      << ReadFile(stationLog) << ReadFile(siteLog);
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
  EXPECT_NE(ReadFile(si.file("Trace.log")).find("ATDT5550100"), std::string::npos);
  EXPECT_NE(ReadFile(si.file("Debug.log")).find("Opened voice modem device"), std::string::npos);
  // Pictures keep coming, frame after frame.
  EXPECT_TRUE(exchange.WaitFor([&] { return exchange.DataSent("5550155") > 40000; }));

  // The station goes: it hangs up, and the site sees the line drop.
  EXPECT_EQ(Stop(station), 0);
  EXPECT_TRUE(WaitForText(siteLog, "Завершение соединения", 10s)) << ReadFile(siteLog);
  EXPECT_FALSE(exchange.Connected("5550155"));
  EXPECT_EQ(Stop(site), 0);
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

}  // namespace
}  // namespace zv::test
