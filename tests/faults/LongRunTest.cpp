// A long run on the fake clock: a site armed for hours, its door opening
// every twenty minutes, each alarm a voice call to the owner and a data
// call to the station (which answers, follows the site's pictures and
// status, and hangs up after five minutes), and recording all the time
// into a pair that goes round.  Memory in use and open descriptors of the
// whole process must stay flat.  The site and the station share the
// process and the fake clock; the telephone exchange runs in real time.
//
// ZV_LONGRUN_HOURS sets the simulated hours (ctest: 1; scripts/soak: 24).
// The figures are printed in lines starting "figure:".
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "alarm/AlarmFixture.h"
#include "detect/RecordPanel.h"
#include "link/Link.h"
#include "support/FileChecks.h"
#include "support/PhoneExchange.h"
#include "tests/video/VideoFixture.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count of the bytes the program holds (its allocator
// replaces the C library's, whose figures then say nothing).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace zv::test {
namespace {

std::size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

long OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                       std::filesystem::directory_iterator());
}

double Hours() {
  const char* v = std::getenv("ZV_LONGRUN_HOURS");
  const double h = v && *v ? std::strtod(v, nullptr) : 1;
  return h >= 1 ? h : 1;
}

struct Node {
  TempDir dir;
  std::unique_ptr<Application> app;
  std::vector<std::string> shown;
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& s : shown) n += s.find(part) != std::string::npos;
    return n;
  }
};

// The station's line of the site's alarm, seen over the data call.
const std::string kFollowed = "Сработка датчика \"Дверь\" на объекте №1(Склад) !";

class LongRun : public ::testing::Test {
 protected:
  void SetUp() override {
    // Inside a modem operation the fake clock moves by its sleeps; the
    // exchange runs in real time, and the modem's escape needs a real pause
    // of half a second around it.  So 60% of every sleep passes for real.
    loop.onPump = [this] {
      const std::uint64_t slept = loop.clock.sleptMs - sleptBefore;
      sleptBefore = loop.clock.sleptMs;
      std::this_thread::sleep_for(std::chrono::microseconds(slept * 600 + 100));
    };
  }
  void TearDown() override {
    for (Node* n : {&site, &station})
      if (n->app) n->app->FormClose();
    loop.onPump = nullptr;
  }

  // No real port but the modems: every other name is missing.
  std::string Ports(const std::string& dir) const {
    std::string s = "[Ports]\r\n";
    for (int i = 1; i <= 8; ++i)
      s += "COM" + std::to_string(i) + "=" +
           (i == 3   ? siteModem
            : i == 4 ? stationModem
                     : dir + "/missing" + std::to_string(i)) +
           "\r\n";
    return s;
  }
  void Start(Node& n, const std::string& ini, const std::function<void(Application&)>& before) {
    WriteFile(n.dir.file("Zorvenix.ini"), ini + Ports(n.dir.path().string()));
    n.app = std::make_unique<Application>(loop.services,
                                          AppPaths{n.dir.path().string(), n.dir.path().string()});
    n.app->journal.LineAdded.Connect(
        [&n](const Journal::ViewLine& l) { n.shown.push_back(l.text.substr(26)); });
    TModemProfile& m = n.app->link->ModemProfile1;
    m.PortTimeOut = 10;  // a loaded machine answers late on this clock
    m.PortStatusDelay = 5;
    m.PortReadDelay = 2;
    m.PortWriteDelay = 2;
    before(*n.app);
    n.app->FormCreate();
  }

  FakeLoop loop;
  PhoneExchange exchange;
  std::string siteModem = exchange.AddModem("5550155");
  std::string stationModem = exchange.AddModem("5550100");
  Node site, station;
  std::uint64_t sleptBefore = 0;
};

TEST_F(LongRun, ADayOfAlarmsCallsAndRecordingKeepsMemoryAndDescriptorsFlat) {
  const double hours = Hours();
  const int cycles = static_cast<int>(hours * 3);
  exchange.AddSubscriber("5550001", {});
  const std::string voice = site.dir.file("message.raw");
  WriteFile(voice, std::string(800, '\x7F'));  // a tenth of a second

  Start(
      station,
      "[Main]\r\nServerMode=1\r\nObjectsCount=1\r\nLinkPort=1\r\n[MainForm]\r\n"
      "ServerCommType.ItemIndex=0\r\nServerComPort.Value=4\r\nRecFileName.FileName=station.dsc\r\n"
      "VolumeLimit.Value=2\r\nVolumeLimitType.ItemIndex=2\r\n"
      "[Object1]\r\nName=Склад\r\nID=1\r\nCams=1\r\nCameras=\"Ворота\"\r\n"
      "Gauges=\"1\",\"2\",\"3\",\"4\",\"Дверь\",\"6\",\"7\",\"8\"\r\n",
      [](Application&) {});
  auto lpt = std::make_shared<ParallelState>();
  ScriptedDriver* camera = nullptr;
  Start(
      site,
      "[Main]\r\nServerMode=0\r\nAbonentsCount=2\r\n"
      "[Abonent1]\r\nName=Хозяин\r\nPhoneNumber=5550001\r\nVoiceFile=" +
          voice +
          "\r\nConnectToServerMode=0\r\nRecallDelay=30\r\nRecallTime=3\r\n"
          "[Abonent2]\r\nName=Пульт\r\nPhoneNumber=5550100\r\nConnectToServerMode=1\r\n"
          "RecallDelay=30\r\nRecallTime=3\r\n"
          "[MainForm]\r\nVideoDriver.Value=1\r\nClientCommType.ItemIndex=0\r\n"
          "ClientComPort.Value=3\r\nDialType.ItemIndex=1\r\nObjNum.Value=1\r\n"
          "UseGaugesOnLpt.Checked=1\r\nNotAck.Checked=1\r\nAutoStartDefence.Checked=1\r\n"
          "RecordSound.Checked=0\r\n"
          "DefenceOnDelay.Value=0\r\nAutoStartRecord.Checked=1\r\nRecordingOn.ItemIndex=0\r\n"
          "RecFileName.FileName=site.dsc\r\nVolumeLimit.Value=1\r\nVolumeLimitType.ItemIndex=2\r\n"
          "[Camera1]\r\nReactionEnabled=0\r\nFramesPerMinute=60\r\n",
      [&](Application& app) {
        app.alarm->gauges.SetParallelStatus(std::make_unique<FakeParallel>(lpt));
        auto d = std::make_unique<ScriptedDriver>();
        d->w = 160;
        d->h = 120;
        camera = d.get();
        app.video->SetCaptureDriver(std::move(d));
      });
  site.app->video->Video.SetFps(1);
  ASSERT_TRUE(site.app->alarm->Status.Armed);

  // Twenty minutes a cycle: the door opens for 40 seconds five minutes
  // in.  The first cycle warms up (buffers, the ring of the pair, the
  // modem's set-up); every later one is measured against it.
  std::size_t heapAfterFirst = 0, heapPeak = 0;
  long fdsAfterFirst = 0, fdsPeak = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int cycle = 0; cycle < cycles; ++cycle) {
    for (int minute = 0; minute < 20; ++minute) {
      if (minute == 5) {
        const int before = station.Count(kFollowed);
        lpt->status = 0x80 | 0x40;
        loop.RunFor(40000);
        // The pictures cross the exchange in real time (33,600 bit/s), while
        // the fake clock runs far ahead outside the modem's waits: on a
        // loaded machine the door stays open, and real time passes, until
        // the station has the alarm (four simulated minutes more at most).
        for (int s = 0; s < 240 && station.Count(kFollowed) == before; ++s) {
          std::this_thread::sleep_for(std::chrono::milliseconds(25));
          loop.RunFor(1000);
        }
        lpt->status = 0x80;
        loop.RunFor(20000);
        continue;
      }
      for (int s = 0; s < 60; ++s) {
        camera->fill = static_cast<std::uint8_t>(camera->fill + 7);
        loop.RunFor(1000);
      }
    }
    if (cycle == 0) {
      heapAfterFirst = HeapInUse();
      fdsAfterFirst = OpenDescriptors();
    } else {
      heapPeak = std::max(heapPeak, HeapInUse());
      fdsPeak = std::max(fdsPeak, OpenDescriptors());
    }
  }
  const double real =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const int alarms = cycles;
  const int calls = site.Count("Исходящий голосовой звонок (5550001)");
  const int dataCalls = site.Count("Исходящий звонок на сервер (5550100)");
  const int followed = station.Count(kFollowed);
  const PairReport sitePair = CheckPair(site.dir.file("site.dsc"));
  const PairReport stationPair = CheckPair(station.dir.file("station.dsc"));
  std::printf(
      "figure: %.1f simulated hours in %.0f s: %d alarms, %d voice calls, %d data calls, "
      "%d alarms followed by the station, site pair %d records (%d given up going round), "
      "station pair %d records; heap after the first 20 minutes %zu KiB, highest later %zu KiB; "
      "descriptors %ld, highest later %ld\n",
      hours, real, alarms, calls, dataCalls, followed, sitePair.records, sitePair.overwritten,
      stationPair.records, heapAfterFirst / 1024, heapPeak / 1024, fdsAfterFirst, fdsPeak);

  if (std::getenv("ZV_LONGRUN_DUMP")) {
    for (const auto& l : site.shown) std::printf("site: %s\n", l.c_str());
    for (const auto& l : station.shown) std::printf("station: %s\n", l.c_str());
  }
  EXPECT_EQ(calls, alarms);
  EXPECT_EQ(dataCalls, alarms);
  // Every alarm, the first call's too; the pictures cross the exchange in
  // real time, so on a loaded machine one may arrive only after the door
  // has closed again.
  EXPECT_GE(followed, alarms - 1);
  EXPECT_TRUE(sitePair.Whole()) << sitePair.Describe();
  // It went round (whether a record is given up on the way depends on the
  // sizes of the pictures that meet at the end of the ring).
  EXPECT_GT(site.app->record->RecordsWritten, sitePair.records);
  EXPECT_EQ(site.Count("Ошибка"), 0) << ::testing::PrintToString(site.shown);
  EXPECT_EQ(station.Count("Ошибка"), 0) << ::testing::PrintToString(station.shown);
  // Flat: no descriptor more than after the first cycle, and the memory in
  // use grows no more than the journal's view does (a few lines an alarm).
  EXPECT_LE(fdsPeak, fdsAfterFirst);
  EXPECT_LE(heapPeak, heapAfterFirst + (64 + 16 * static_cast<std::size_t>(cycles)) * 1024);
}

// Found by the long run: after its first voice call the site's capture
// stopped for good, so it detected, recorded and sent nothing more.
TEST_F(LongRun, TheCamerasKeepRunningAfterAVoiceMessageIsPlayed) {
  const std::string voice = site.dir.file("message.raw");
  WriteFile(voice, std::string(800, '\x7F'));
  Start(site,
        "[Main]\r\nServerMode=0\r\n[MainForm]\r\nVideoDriver.Value=1\r\n"
        "ClientCommType.ItemIndex=0\r\nClientComPort.Value=3\r\nWaveFile.FileName=" +
            voice + "\r\n",
        [](Application& app) {
          auto d = std::make_unique<ScriptedDriver>();
          d->w = 160;
          d->h = 120;
          app.video->SetCaptureDriver(std::move(d));
        });
  site.app->link->WaveFile.SetText(voice);
  loop.RunFor(1000);
  site.app->link->WaveTest.Click();  // "Прослушать": played on the modem's speaker
  EXPECT_TRUE(site.app->link->VoiceModem1.IsOpen());
  const long long frames = site.app->video->Video.FramesDelivered();
  loop.RunFor(2000);
  EXPECT_GT(site.app->video->Video.FramesDelivered(), frames + 20);
}

}  // namespace
}  // namespace zv::test
