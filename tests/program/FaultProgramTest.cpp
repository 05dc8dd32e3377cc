// Whole programs on their worst days: a recording site whose power is cut
// (SIGKILL) at random moments over one pair, a site whose disk fills up
// and empties again, and a station killed and started again while its
// sites send.  The seed and the number of cuts come from ZV_FAULT_SEED and
// ZV_POWER_CUTS (scripts/soak runs many more); every test prints what it
// measured in lines starting "figure:".
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "Programs.h"
#include "app/IniFile.h"
#include "support/DiskFaults.h"
#include "support/FileChecks.h"
#include "support/LoopbackPorts.h"
#include "support/PhoneExchange.h"

namespace zv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long EnvNumber(const char* name, long def) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtol(v, nullptr, 10) : def;
}

// COM ports mapped to the given devices ("n=path"), every other one to a
// missing path; no parallel port.
std::string Ports(const std::string& dir, const std::vector<std::string>& mapped = {}) {
  std::string s = "[Ports]\r\n";
  for (int i = 1; i <= 8; ++i) {
    std::string dev = dir + "/missing-com" + std::to_string(i);
    for (const auto& m : mapped)
      if (m.rfind(std::to_string(i) + "=", 0) == 0) dev = m.substr(2);
    s += "COM" + std::to_string(i) + "=" + dev + "\r\n";
  }
  for (int i = 1; i <= 3; ++i) s += "LPT" + std::to_string(i) + "=" + dir + "/missing-lpt\r\n";
  return s;
}

std::string Cameras(int n) {
  std::string s;
  for (int k = 1; k <= n; ++k)
    s += "[Camera" + std::to_string(k) + "]\r\nDescription=Камера " + std::to_string(k) +
         "\r\nColored=1\r\nFramesPerMinute=1000\r\nZones=" + std::string(320, '1') + "\r\n";
  return s;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

void Kill(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

TEST(PowerCutProgram, ARecordingSiteCutOffAtRandomMomentsKeepsItsFilesWhole) {
  const long seed = EnvNumber("ZV_FAULT_SEED", 15);
  const long cuts = EnvNumber("ZV_POWER_CUTS", 5);
  std::mt19937 rnd(static_cast<unsigned>(seed));
  TempDir dir;
  const std::string d = dir.path().string();
  // Two emulated cameras recorded as fast as the page allows, into a pair
  // of 1 MB that goes round.
  WriteFile(dir.file("Zorvenix.ini"),
            "[Main]\r\nServerMode=0\r\n[MainForm]\r\nVideoEmulation.Checked=1\r\n"
            "CamerasAmount.Value=2\r\nRecordingOn.ItemIndex=0\r\nAutoStartRecord.Checked=1\r\n"
            "RecFileName.FileName=rec.dsc\r\nVolumeLimit.Value=1\r\nVolumeLimitType.ItemIndex=2\r\n"
            "ClientCommType.ItemIndex=2\r\nServerAddresses.Text=127.0.0.1\r\n" +
                Cameras(2) + Ports(d));
  const std::string log = dir.file("Zorvenix.log"), dsc = dir.file("rec.dsc");
  const auto start = Clock::now();
  int whileSaving = 0, maxRecords = 0, wrapped = 0;
  for (long cut = 0; cut < cuts; ++cut) {
    const std::string where = "seed " + std::to_string(seed) + ", cut " + std::to_string(cut + 1);
    const pid_t pid = Launch(d);
    Reaper reap{pid};
    const int runs = Count(ReadFile(log), "Программа запущена");
    const auto started = Clock::now();
    while (Count(ReadFile(log), "Программа запущена") == runs && Clock::now() - started < 60s)
      std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(200 + rnd() % 2000));
    if (cut % 3 == 2) {
      // Cut in the middle of the shutdown, while the settings are saved.
      ::kill(pid, SIGTERM);
      std::this_thread::sleep_for(std::chrono::milliseconds(rnd() % 300));
      ++whileSaving;
    }
    Kill(pid);

    const PairReport pair = CheckPair(dsc);
    EXPECT_TRUE(pair.Whole()) << where << ": " << pair.Describe();
    maxRecords = std::max(maxRecords, pair.pictures);
    if (pair.overwritten > 0) ++wrapped;
    const JournalReport journal = CheckJournal(log);
    EXPECT_TRUE(journal.Whole()) << where << ": " << journal.Describe();
    IniFile ini(dir.file("Zorvenix.ini"));
    ASSERT_TRUE(ini.Load()) << where;
    EXPECT_EQ(ini.ReadString("MainForm", "RecFileName.FileName", ""), "rec.dsc") << where;
    EXPECT_EQ(ini.ReadString("Camera2", "Zones", ""), std::string(320, '1')) << where;
    EXPECT_EQ(ini.ReadString("Ports", "COM8", ""), d + "/missing-com8") << where;
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(maxRecords, 10);
  std::printf(
      "figure: power cuts %ld (%d in the shutdown), seed %ld, %d whole pictures at most, "
      "%.1f s\n",
      cuts, whileSaving, seed, maxRecords,
      std::chrono::duration<double>(Clock::now() - start).count());
}

TEST(PowerCutProgram, ASiteClosedInTheMiddleOfItsArmingCountdownEndsWithoutArming) {
  TempDir dir;
  const std::string d = dir.path().string();
  WriteFile(dir.file("Zorvenix.ini"),
            "[Main]\r\nServerMode=0\r\n[MainForm]\r\nAutoStartDefence.Checked=1\r\n"
            "DefenceOnDelay.Value=5\r\nClientCommType.ItemIndex=2\r\n"
            "ServerAddresses.Text=127.0.0.1\r\n" +
                Ports(d));
  const std::string log = dir.file("Zorvenix.log");
  const pid_t pid = Launch(d);
  Reaper reap{pid};
  ASSERT_TRUE(WaitForText(log, "Постановка на охрану...", 60s));
  EXPECT_EQ(Stop(pid), 0);
  const JournalReport journal = CheckJournal(log);
  EXPECT_TRUE(journal.Whole()) << journal.Describe();
  ASSERT_FALSE(journal.texts.empty());
  EXPECT_EQ(journal.texts.back(), "Программа завершена");
  EXPECT_EQ(Count(ReadFile(log), "Режим охраны установлен"), 0);
}

TEST(DiskFullProgram, ASiteOnAFullDiskTellsItOnceKeepsItsFilesAndRecordsAgain) {
  SmallDisk disk(16u << 20);
  const std::string d = disk.path().string();
  const std::string settings =
      "[Main]\r\nServerMode=0\r\n[MainForm]\r\nVideoEmulation.Checked=1\r\n"
      "CamerasAmount.Value=1\r\nRecordingOn.ItemIndex=0\r\nAutoStartRecord.Checked=1\r\n"
      "RecFileName.FileName=rec.dsc\r\nClientCommType.ItemIndex=2\r\n"
      "ServerAddresses.Text=127.0.0.1\r\n" +
      Cameras(1) + Ports(d);
  WriteFile(disk.file("Zorvenix.ini"), settings);
  const std::string log = disk.file("Zorvenix.log"), dsc = disk.file("rec.dsc");
  const pid_t pid = Launch(d);
  Reaper reap{pid};
  ASSERT_TRUE(WaitForText(log, "Программа запущена", 60s));
  std::this_thread::sleep_for(2s);
  const int before = CheckPair(dsc).records;
  ASSERT_GT(before, 5);

  disk.Fill(pid);
  std::this_thread::sleep_for(3s);
  const PairReport full = CheckPair(dsc);
  EXPECT_TRUE(full.Whole()) << full.Describe();
  disk.Free(pid);
  ASSERT_TRUE(WaitForText(log, "Запись возобновлена", 20s)) << ReadFile(log);
  std::this_thread::sleep_for(1s);
  const int resumed = CheckPair(dsc).records;
  EXPECT_GT(resumed, full.records + 5);

  // Full again at the shutdown: the program still ends cleanly, and the
  // settings file it could not write is the one it had.
  disk.Fill(pid);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(Stop(pid), 0);
  disk.Free(pid);
  EXPECT_EQ(ReadFile(disk.file("Zorvenix.ini")), settings);
  const PairReport pair = CheckPair(dsc);
  EXPECT_TRUE(pair.Whole()) << pair.Describe();
  const JournalReport journal = CheckJournal(log);
  EXPECT_TRUE(journal.Whole()) << journal.Describe();
  // The first full disk: its failure told once, before the recording resumed.
  const auto resumedAt = std::find_if(journal.texts.begin(), journal.texts.end(), [](auto& t) {
    return t.find("Запись возобновлена") != std::string::npos;
  });
  EXPECT_EQ(
      std::count_if(journal.texts.begin(), resumedAt,
                    [](auto& t) { return t.find("Ошибка записи в файл") != std::string::npos; }),
      1);
  std::printf("figure: full disk (%s): %d records before, %d while full, %d after\n",
              disk.Tmpfs() ? "tmpfs" : "file-size limit", before, full.records, resumed);
}

TEST(StationRestartProgram, SitesComeBackByThemselvesWithinFifteenSeconds) {
  PhoneExchange exchange;
  const auto [stationLine, siteLine] = exchange.AddCable();
  const int port = FreePort();
  TempDir st, s1, s2, s3;
  WriteFile(st.file("Zorvenix.ini"),
            "[Main]\r\nServerMode=1\r\nObjectsCount=3\r\nLinkPort=" + std::to_string(port) +
                "\r\nDirectLineComPort=4\r\n[MainForm]\r\nServerCommType.ItemIndex=2\r\n"
                "[Object1]\r\nName=Склад\r\nID=1\r\nCams=1\r\nCameras=\"Ворота\"\r\n"
                "[Object2]\r\nName=Касса\r\nID=2\r\nCams=1\r\nCameras=\"Зал\"\r\n"
                "[Object3]\r\nName=Дача\r\nID=3\r\nCams=1\r\nCameras=\"Участок\"\r\n" +
                Ports(st.path().string(), {"4=" + stationLine}));
  auto site = [&](TempDir& dir, int id, int kind, const std::vector<std::string>& ports) {
    WriteFile(dir.file("Zorvenix.ini"),
              "[Main]\r\nServerMode=0\r\nLinkPort=" + std::to_string(port) +
                  "\r\n[MainForm]\r\nVideoEmulation.Checked=1\r\nCamerasAmount.Value=1\r\n"
                  "ClientCommType.ItemIndex=" +
                  std::to_string(kind) +
                  "\r\nClientComPort.Value=2\r\nObjNum.Value=" + std::to_string(id) +
                  "\r\nServerAddresses.Text=127.0.0.1\r\nAutoStartDefence.Checked=1\r\n"
                  "DefenceOnDelay.Value=0\r\n" +
                  Ports(dir.path().string(), ports));
  };
  site(s1, 1, 2, {});
  site(s2, 2, 2, {});
  site(s3, 3, 1, {"2=" + siteLine});
  const std::string log = st.file("Zorvenix.log");
  const std::vector<std::string> armed{"Установка на охрану объекта №1(Склад)",
                                       "Установка на охрану объекта №2(Касса)",
                                       "Установка на охрану объекта №3(Дача)"};
  auto allArmedAfter = [&](std::size_t from) {
    const std::string tail = ReadFile(log).substr(from);
    return std::all_of(armed.begin(), armed.end(),
                       [&](const std::string& a) { return tail.find(a) != std::string::npos; });
  };

  pid_t station = Launch(st.path().string());
  Reaper reapStation{station};
  ASSERT_TRUE(WaitForText(log, "Программа запущена", 60s));
  const pid_t p1 = Launch(s1.path().string()), p2 = Launch(s2.path().string()),
              p3 = Launch(s3.path().string());
  Reaper r1{p1}, r2{p2}, r3{p3};
  for (int i = 0; i < 600 && !allArmedAfter(0); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(allArmedAfter(0)) << ReadFile(log);

  // The station goes, the sites go on sending into nothing for a while.
  Kill(station);
  std::this_thread::sleep_for(1s);
  const std::size_t from = ReadFile(log).size();
  const auto restart = Clock::now();
  station = Launch(st.path().string());
  Reaper reapAgain{station};
  for (int i = 0; i < 600 && !allArmedAfter(from); ++i) std::this_thread::sleep_for(50ms);
  const double back = std::chrono::duration<double>(Clock::now() - restart).count();
  EXPECT_TRUE(allArmedAfter(from)) << ReadFile(log).substr(from);
  EXPECT_LT(back, 15.0);
  const JournalReport journal = CheckJournal(log);
  EXPECT_TRUE(journal.Whole()) << journal.Describe() << "\n" << ReadFile(log);

  EXPECT_EQ(Stop(station), 0);
  for (pid_t p : {p1, p2, p3}) EXPECT_EQ(Stop(p), 0);
  std::printf("figure: station restarted, every site back after %.1f s\n", back);
}

}  // namespace
}  // namespace zv::test
