// A disk that fills up under a running site: the recording, the journal,
// the settings file, the alarm sound and the voice message.  Each failure is
// reported once, nothing written before is damaged, and work goes on when
// there is room again.  The disk is a tmpfs of its own when the tests run as
// root, otherwise the write layer refuses every write to its folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "detect/RecordPanel.h"
#include "link/LinkFixture.h"
#include "platform/WaveFile.h"
#include "support/DiskFaults.h"
#include "support/FileChecks.h"
#include "support/PhoneExchange.h"
#include "tests/video/VideoFixture.h"

namespace zv::test {
namespace {

int CountHaving(const std::vector<std::string>& texts, const std::string& part) {
  return static_cast<int>(std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
    return t.find(part) != std::string::npos;
  }));
}

// A site whose data folder (settings, journal, recording) lies on a small
// disk, with one camera on a scripted capture device.
class DiskFullSite : public ::testing::Test {
 protected:
  void StartSite(int cams = 1) {
    WriteFile(disk.file("Zorvenix.ini"),
              "[MainForm]\r\nVideoDriver.Value=1\r\nCamerasAmount.Value=" + std::to_string(cams) +
                  "\r\nRecordingOn.ItemIndex=0\r\n[Camera1]\r\nFramesPerMinute=600\r\n");
    app = std::make_unique<Application>(loop.services,
                                        AppPaths{disk.path().string(), disk.path().string()});
    auto d = std::make_unique<ScriptedDriver>();
    d->w = 160;
    d->h = 120;
    driver = d.get();
    app->video->SetCaptureDriver(std::move(d));
    app->journal.LineAdded.Connect([this](const Journal::ViewLine& l) { shown.push_back(l.text); });
    app->FormCreate();
  }
  void Record() {
    app->form.RecFileName.SetFileName(disk.file("rec.dsc"));
    app->form.RecordBtn.Click();
    ASSERT_TRUE(app->record->Recording());
  }
  // Frames that differ, so every one is a picture of its own.
  void RunFor(int ms) {
    for (int t = 0; t < ms; t += 100) {
      driver->fill = static_cast<std::uint8_t>(driver->fill + 17);
      loop.RunFor(100);
    }
  }
  int Records() { return CheckPair(disk.file("rec.dsc")).records; }
  void TearDown() override {
    disk.Free();
    if (app) app->FormClose();
  }

  SmallDisk disk{2u << 20};
  FakeLoop loop;
  std::unique_ptr<Application> app;
  ScriptedDriver* driver = nullptr;
  std::vector<std::string> shown;  // every journal line as the view shows it
};

TEST_F(DiskFullSite, RecordingIsReportedOnceKeepsItsRecordsAndResumesWhenSpaceReturns) {
  StartSite();
  Record();
  RunFor(2000);
  const int before = Records();
  ASSERT_GE(before, 10);
  disk.Fill();
  RunFor(3000);
  // Nothing written before is damaged, and nothing half written is left.
  const PairReport full = CheckPair(disk.file("rec.dsc"));
  EXPECT_TRUE(full.Whole()) << full.Describe();
  EXPECT_LE(full.records, before + 2);  // what the disk's last block still took
  EXPECT_EQ(CountHaving(shown, "Ошибка записи в файл"), 1) << ::testing::PrintToString(shown);
  EXPECT_TRUE(app->record->Recording());
  const JournalReport duringJournal = CheckJournal(app->journal.LogPath());
  EXPECT_TRUE(duringJournal.Whole()) << duringJournal.Describe();

  disk.Free();
  RunFor(2000);
  EXPECT_GE(Records(), full.records + 10);
  EXPECT_EQ(CountHaving(shown, "Запись возобновлена"), 1);
  const PairReport after = CheckPair(disk.file("rec.dsc"));
  EXPECT_TRUE(after.Whole()) << after.Describe();
  // The journal file got every line, the ones of the full disk too, once.
  const JournalReport j = CheckJournal(app->journal.LogPath());
  EXPECT_TRUE(j.Whole()) << j.Describe();
  EXPECT_EQ(CountHaving(j.texts, "Ошибка записи в файл"), 1);
  EXPECT_EQ(CountHaving(j.texts, "Запись возобновлена"), 1);
  EXPECT_EQ(app->journal.Unwritten(), 0u);
  EXPECT_EQ(j.texts.size(), shown.size());
}

TEST_F(DiskFullSite, TheJournalTakesNoHalfLineAndWritesTheRefusedOnesLater) {
  StartSite();
  const std::size_t start = CheckJournal(app->journal.LogPath()).texts.size();
  disk.Fill();
  // The journal's last block may still take a few lines; then it is full.
  int n = 0;
  while (app->journal.Unwritten() == 0 && n < 500)
    app->journal.AddJournal("Сработка - \"Двери\" ! " + std::to_string(++n), jkAlarm);
  ASSERT_GT(app->journal.Unwritten(), 0u);
  for (int i = 0; i < 5; ++i) app->journal.AddJournal("Сработка - \"Окна\" !", jkAlarm);
  const JournalReport during = CheckJournal(app->journal.LogPath());
  EXPECT_TRUE(during.Whole()) << during.Describe();
  EXPECT_EQ(CountHaving(shown, "Ошибка записи журнала"), 1);

  disk.Free();
  app->journal.AddJournal("Место на диске есть", jkInfo);
  const JournalReport after = CheckJournal(app->journal.LogPath());
  EXPECT_TRUE(after.Whole()) << after.Describe();
  EXPECT_EQ(after.texts.size(), start + static_cast<std::size_t>(n) + 5 + 1 + 1);
  EXPECT_EQ(CountHaving(after.texts, "Ошибка записи журнала"), 1);
  EXPECT_EQ(after.texts.back(), "Место на диске есть");
}

TEST_F(DiskFullSite, SettingsStayAsTheyWereAndTheFailureIsToldOnce) {
  StartSite(4);
  app->settings.SaveFormProperties();
  const std::string before = ReadFile(disk.file("Zorvenix.ini"));
  app->form.RecFreq.SetValue(30);
  disk.Fill();
  // The shutdown saves the settings, and every camera its own section.
  app->FormClose();
  app.reset();
  EXPECT_EQ(ReadFile(disk.file("Zorvenix.ini")), before);
  EXPECT_FALSE(std::filesystem::exists(disk.file("Zorvenix.ini.tmp")));
  EXPECT_EQ(CountHaving(shown, "Невозможно записать файл настроек"), 1)
      << ::testing::PrintToString(shown);
}

TEST(DiskFull, TheAlarmSoundKeepsItsEarlierRecordings) {
  SmallDisk disk(1u << 20);
  const WaveInfo fmt{1, 1, 8000, 16000, 2, 16};
  const std::string old(6000, 'a'), fresh(9000, 'b');
  std::string why;
  ASSERT_TRUE(WriteWave(disk.file("Sound.wav"), fmt, old, why)) << why;
  ASSERT_TRUE(WriteWave(disk.file("part.wav"), fmt, fresh, why)) << why;
  const std::string before = ReadFile(disk.file("Sound.wav"));
  disk.Fill();
  EXPECT_FALSE(AppendWave(disk.file("Sound.wav"), disk.file("part.wav"), why));
  WaveInfo info;
  ASSERT_TRUE(ReadWaveInfo(disk.file("Sound.wav"), info, why)) << why;
  EXPECT_EQ(info.dataSize, static_cast<std::int64_t>(old.size()));
  EXPECT_EQ(ReadFile(disk.file("Sound.wav")).substr(0, before.size()), before);
  disk.Free();
  ASSERT_TRUE(AppendWave(disk.file("Sound.wav"), disk.file("part.wav"), why)) << why;
  ASSERT_TRUE(ReadWaveInfo(disk.file("Sound.wav"), info, why)) << why;
  EXPECT_EQ(info.dataSize, static_cast<std::int64_t>(old.size() + fresh.size()));
}

// The voice message the site plays to its subscribers, recorded again on
// the "Дозвон" page.
class VoiceMessageTest : public LinkFixture {
 protected:
  void MakeSite(const std::string& com3) {
    com3Path = com3;
    // Real time passes for the modem, though not so slowly that a recording
    // could not keep up with the line; the stop button is pressed after
    // stopAfter turns of the loop.
    loop.onPump = [this] {
      if (++pumps % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (stopAfter > 0 && --stopAfter == 0) a_->link().dispatch.RecStopBtnClick();
    };
    a_ = Site(
        1, 1, "", 0,
        [](Program& p) {
          TModemProfile& m = p.link().ModemProfile1;
          m.PortTimeOut = 2;
          m.PortStatusDelay = 5;
          m.PortReadDelay = 2;
          m.PortWriteDelay = 2;
        },
        "ClientComPort.Value=3\r\n");
    a_->app->video->Shutdown();
    a_->link().WaveFile.SetText(message);
    WriteFile(message, "OLD MESSAGE");
  }
  ~VoiceMessageTest() override { loop.onPump = nullptr; }
  SmallDisk disk{1u << 20};
  const std::string message = disk.file("msg.raw");
  int stopAfter = 0;
  long pumps = 0;
};

TEST_F(VoiceMessageTest, WithoutTheModemThePreviousMessageStays) {
  MakeSite("");  // COM3 is missing
  a_->link().WaveRec.Click();
  EXPECT_EQ(ReadFile(message), "OLD MESSAGE");
  EXPECT_FALSE(std::filesystem::exists(disk.file("msg.bak")));
  EXPECT_TRUE(a_->HasLine("Голосовое сообщение \"" + message + "\" не записано !"));
}

TEST_F(VoiceMessageTest, OnAFullDiskThePreviousMessageStaysAndWithRoomTheNewOneIsKept) {
  PhoneExchange exchange;
  MakeSite(exchange.AddModem("5550155"));
  ASSERT_TRUE(a_->link().VoiceModem1.IsOpen());
  disk.Fill();
  stopAfter = 60000;
  a_->link().WaveRec.Click();
  EXPECT_EQ(ReadFile(message), "OLD MESSAGE");
  EXPECT_FALSE(std::filesystem::exists(disk.file("msg.bak")));
  EXPECT_EQ(a_->Logged().back(), "Голосовое сообщение \"" + message + "\" не записано !");

  disk.Free();
  stopAfter = 6000;
  a_->link().WaveRec.Click();
  const std::string recorded = ReadFile(message);
  EXPECT_GE(recorded.size(), 800u);
  EXPECT_EQ(recorded.find_first_not_of('\x80'), std::string::npos);  // the line's silence
  EXPECT_EQ(ReadFile(disk.file("msg.bak")), "OLD MESSAGE");
  EXPECT_EQ(CountHaving(a_->Logged(), "не записано"), 1);
}

}  // namespace
}  // namespace zv::test
