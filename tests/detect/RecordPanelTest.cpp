// The recording page and the processing tick in a whole application on the
// fake platform: frames come from a scripted capture device at the grab
// rate, Timer1 processes them, and the pair is read back from disk.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "alarm/AlarmInputs.h"
#include "detect/RecordPanel.h"
#include "detect/Rounding.h"
#include "detect/ViewerPanel.h"
#include "tests/video/VideoFixture.h"

namespace zv::test {
namespace {

bool SameBar(const ChangeBarGeometry& a, const ChangeBarGeometry& b) {
  return a.outline == b.outline && a.level == b.level && a.hasIgnoreFill == b.hasIgnoreFill &&
         a.ignoreFill == b.ignoreFill && a.hasEventFill == b.hasEventFill &&
         a.eventFill == b.eventFill && a.eventLineY == b.eventLineY &&
         a.ignoreLineY == b.ignoreLineY;
}

class RecordPanelTest : public VideoAppTest {
 protected:
  // A site with `cams` cameras on the scripted driver, all zones on.
  void StartSite(int cams = 1, const std::string& extra = "") {
    Make();
    WriteIni("[MainForm]\nVideoDriver.Value=1\nCamerasAmount.Value=" + std::to_string(cams) + "\n" +
             extra);
    Start();
    for (int k = 1; k <= cams; ++k) cam(k)->Zones.SetAll(true);
  }
  RecordPanel& rec() { return *app->record; }
  std::string Dsc() { return dir.file("rec.dsc"); }
  void StartRecording() {
    app->form.RecFileName.SetFileName(Dsc());
    app->form.RecordBtn.Click();
    ASSERT_TRUE(rec().Recording());
  }
  std::vector<FrameDescriptor> Records() {
    RecordingReader r;
    std::vector<FrameDescriptor> out;
    if (!r.Open(Dsc())) return out;
    for (std::int32_t n = 1; n <= r.RecordCount(); ++n) {
      FrameDescriptor d;
      EXPECT_TRUE(r.ReadDescriptor(n, d));
      out.push_back(d);
    }
    return out;
  }
};

TEST_F(RecordPanelTest, RecordButtonCreatesThePairStartsTheTickAndPointsTheViewer) {
  StartSite();
  TFormModel& f = app->form;
  f.RecFreq.SetValue(120);
  f.RecFileName.SetFileName(dir.file("rec.avi"));
  EXPECT_EQ(f.RecFileName.FileName(), Dsc());  // extension becomes ".dsc"
  EXPECT_FALSE(rec().FilesOpen());             // missing files are not created here
  f.RecordBtn.Click();
  EXPECT_TRUE(rec().Recording());
  EXPECT_EQ(f.RecordBtn.Caption(), "Стоп");
  EXPECT_TRUE(f.RecordBtn.Down());
  EXPECT_TRUE(std::filesystem::exists(dir.file("rec.bin")));
  EXPECT_EQ(app->Timer1.Interval(), 500u);
  EXPECT_EQ(f.ViewFileName.FileName(), Dsc());
  EXPECT_TRUE(app->viewer->Session.IsOpen());

  // Changing the pair while recording is refused, the old pair stays open.
  f.RecFileName.SetFileName(dir.file("other.dsc"));
  ASSERT_EQ(loop.dialogs.boxes.size(), 1u);
  EXPECT_EQ(loop.dialogs.boxes[0].text, RecordPanel::kStopToChangeText);
  EXPECT_EQ(rec().Pair.DscName(), Dsc());

  f.RecordBtn.Click();
  EXPECT_FALSE(rec().Recording());
  EXPECT_TRUE(rec().FilesOpen());  // stopping leaves the pair open
  EXPECT_EQ(f.RecordBtn.Caption(), "Запись");
  EXPECT_FALSE(f.RecordBtn.Down());
  // Not recording: another existing pair is opened, a half-missing one not.
  WriteFile(dir.file("b.dsc"), "");
  WriteFile(dir.file("b.bin"), "");
  f.RecFileName.SetFileName(dir.file("b.dsc"));
  EXPECT_TRUE(rec().FilesOpen());
  EXPECT_EQ(rec().Pair.DscName(), dir.file("b.dsc"));
  WriteFile(dir.file("c.dsc"), "");
  f.RecFileName.SetFileName(dir.file("c.dsc"));
  EXPECT_FALSE(rec().FilesOpen());
}

TEST_F(RecordPanelTest, RelativePairNamesLieInTheDataFolder) {
  StartSite();
  TFormModel& f = app->form;
  f.RecordBtn.Click();  // no name chosen yet
  EXPECT_EQ(rec().Pair.DscName(), dir.file("Video.dsc"));
  f.RecordBtn.Click();
  f.RecFileName.SetFileName("rel.avi");
  EXPECT_EQ(f.RecFileName.FileName(), "rel.dsc");
  f.RecordBtn.Click();
  EXPECT_TRUE(std::filesystem::exists(dir.file("rel.bin")));
  EXPECT_EQ(f.ViewFileName.FileName(), dir.file("rel.dsc"));
}

TEST_F(RecordPanelTest, RecordingRefusesToStartWhenThePairCannotBeOpened) {
  StartSite();
  TFormModel& f = app->form;
  f.RecFileName.SetFileName(dir.file("missing/rec.dsc"));
  f.RecordBtn.Click();
  EXPECT_FALSE(rec().Recording());
  EXPECT_FALSE(rec().FilesOpen());
  EXPECT_EQ(f.RecordBtn.Caption(), "Запись");
  EXPECT_EQ(Journaled("Запись не начата: Ошибка открытия файла", 4, jcRecording), 1);
  // The status line says why too.
  EXPECT_NE(app->journal.Status()[0].text.find("Запись не начата"), std::string::npos);
}

TEST_F(RecordPanelTest, FrameCycleRecordsDetectsMotionBeepsAndTheViewerFollows) {
  StartSite();
  TFormModel& f = app->form;
  f.Compression.SetChecked(false);
  f.RecFreq.SetValue(600);  // a tick every 100 ms
  StartRecording();
  loop.RunFor(1000);
  const auto quiet = Records();
  ASSERT_GE(quiet.size(), 5u);
  // Identical frames: the first has level 0 uncompared, the rest measure 0;
  // the form's threshold of 0.02 rounds to 0, so every frame is recorded.
  for (std::size_t i = 0; i < quiet.size(); ++i) {
    EXPECT_EQ(quiet[i].recordNumber, static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(quiet[i].changeLevel, 0);
    EXPECT_EQ(quiet[i].format, kFormatRaw);
    EXPECT_EQ(quiet[i].camera, 1);
    EXPECT_EQ(quiet[i].length, 352 * 3 * 288);
  }
  EXPECT_TRUE(loop.speaker.beeps.empty());  // level 0 never beeps
  EXPECT_EQ(f.FrameSizeLabel.Caption(), std::to_string(352 * 3 * 288));

  // The scene changes: every byte differs by 100, beyond the filter.
  f.Compression.SetChecked(true);
  driver->fill = 200;
  loop.RunFor(300);
  const auto all = Records();
  ASSERT_GT(all.size(), quiet.size());
  const FrameDescriptor& moved = all[quiet.size()];
  // Cells share their boundary rows and columns, which count in both.
  EXPECT_GE(moved.changeLevel, 100);
  EXPECT_EQ(moved.format, kFormatJpeg);
  ASSERT_FALSE(loop.speaker.beeps.empty());
  EXPECT_EQ(loop.speaker.beeps[0].hz, kMotionBeepHz);
  EXPECT_EQ(loop.speaker.beeps[0].ms, kMotionBeepMs);
  EXPECT_EQ(cam(1)->ChangeValue, 0);  // quiet again after the change
  EXPECT_GE(cam(1)->FrameCounter, static_cast<int>(all.size()) + 1);
  EXPECT_EQ(rec().RecordsWritten, static_cast<long long>(all.size()));

  // The viewer follows the growing pair: slider maximum, label and graph.
  const ViewerPanel& v = *app->viewer;
  EXPECT_EQ(v.Session.nav.maximum, static_cast<std::int32_t>(all.size()));
  EXPECT_EQ(f.MaxValueLabel.Caption(), std::to_string(all.size()));
  EXPECT_EQ(v.Session.Index().Level(static_cast<std::int32_t>(quiet.size()) + 1),
            moved.changeLevel);
  EXPECT_EQ(v.Session.nav.value, 1);  // the shown record moves only with the slider
  // Both formats play back.
  f.ViewSlider.SetValue(static_cast<int>(quiet.size()) + 1);
  EXPECT_EQ(v.Current.format, kFormatJpeg);
  // Read through the program's read buffer, allocated at start-up.
  ASSERT_EQ(app->FrameReadBuffer.size(), 1000000u);
  EXPECT_EQ(app->FrameReadBuffer[0], 0xFF);
  EXPECT_EQ(app->FrameReadBuffer[1], 0xD8);
  EXPECT_EQ(cam(1)->PlaybackPicture.Width(), 352);
  f.ViewSlider.SetValue(2);
  EXPECT_EQ(v.Current.format, kFormatRaw);
  EXPECT_EQ(cam(1)->PlaybackPicture.Data()[0], 100);

  // Stopped: the tick does nothing, frames are still taken for display.
  f.RecordBtn.Click();
  const std::size_t n = Records().size();
  const long long taken = video().Intake.FramesTaken();
  loop.RunFor(500);
  EXPECT_EQ(Records().size(), n);
  EXPECT_GT(video().Intake.FramesTaken(), taken);
}

// The capture changes its picture size while recording (another device or
// source): the comparison starts again at the new size, every record keeps
// its own size and length, no picture turns black, and motion is still seen.
TEST_F(RecordPanelTest, PictureSizeChangeRestartsTheComparison) {
  StartSite();
  TFormModel& f = app->form;
  f.Compression.SetChecked(false);
  f.RecFreq.SetValue(600);
  StartRecording();
  loop.RunFor(600);
  const std::size_t before = Records().size();
  ASSERT_GE(before, 3u);
  driver->w = 176;
  driver->h = 144;
  loop.RunFor(600);
  driver->fill = 200;  // motion at the new size
  loop.RunFor(600);
  const auto all = Records();
  ASSERT_GE(all.size(), before + 6);

  RecordingReader reader;
  ASSERT_TRUE(reader.Open(Dsc()));
  bool moved = false;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const FrameDescriptor& d = all[i];
    const int w = i < before ? 352 : 176, h = i < before ? 288 : 144;
    ASSERT_EQ(d.width, w) << i;
    ASSERT_EQ(d.height, h) << i;
    ASSERT_EQ(d.length, TPicture::StrideFor(w) * h) << i;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(d.length));
    ASSERT_TRUE(reader.ReadPicture(d.offset, pixels.data(), pixels.size()));
    EXPECT_TRUE(pixels[0] == 100 || pixels[0] == 200) << "record " << i + 1 << " is black";
    EXPECT_EQ(pixels.back(), pixels[0]) << i;
    if (i == before) {
      EXPECT_EQ(d.changeLevel, 0);  // the first frame of the new size
    }
    moved = moved || d.changeLevel >= 100;
  }
  EXPECT_TRUE(moved);
  EXPECT_EQ(cam(1)->PreviousPicture.Width(), 176);
  EXPECT_EQ(app->video->Intake.CaptureWidth, 176);
  EXPECT_EQ(cam(1)->Zones.frameWidth, 176);
}

// Motion is measured only while recording.  Disarming stops recording in the
// middle of motion: the last change level must not keep the site from being
// armed again, and the next recording must not compare with a picture from
// before the stop.
TEST_F(RecordPanelTest, DisarmingInTheMiddleOfMotionLeavesNoStaleMotion) {
  StartSite(1, "DefenceOnDelay.Value=0\n");
  app->form.RecFileName.SetFileName(Dsc());
  app->form.RecFreq.SetValue(600);
  SiteStatus& site = app->alarm->Status;
  app->form.SwitchModeBtn.Click();
  ASSERT_TRUE(site.Armed);
  ASSERT_TRUE(rec().Recording());
  loop.RunFor(500);
  driver->fill = 200;
  for (int i = 0; i < 40 && cam(1)->ChangeValue == 0; ++i) loop.RunFor(10);
  ASSERT_GT(cam(1)->ChangeValue, 0);  // motion right now
  app->alarm->RemoteSwitchMode();     // disarmed by the station
  ASSERT_FALSE(site.Armed);
  EXPECT_FALSE(rec().Recording());
  driver->fill = 100;  // the scene is as it was before the motion
  loop.RunFor(3000);
  EXPECT_EQ(cam(1)->ChangeValue, 0);
  EXPECT_EQ(site.CameraAlarmMask, 0);

  const int alarms = Journaled("Сработка по видеокамере", 3);
  const std::size_t recorded = Records().size();
  const std::size_t beeps = loop.speaker.beeps.size();
  app->form.SwitchModeBtn.Click();
  EXPECT_TRUE(site.Armed);
  EXPECT_EQ(Journaled("Попытка постановки на охрану", 2), 0);
  loop.RunFor(2000);
  // Nothing is measured against the picture from before the stop.
  const auto all = Records();
  ASSERT_GT(all.size(), recorded);
  EXPECT_EQ(all[recorded].changeLevel, 0);
  EXPECT_EQ(Journaled("Сработка по видеокамере", 3), alarms);
  EXPECT_EQ(site.CameraAlarmMask, 0);
  EXPECT_EQ(loop.speaker.beeps.size() - beeps, 1u);  // the arming tone only
}

TEST_F(RecordPanelTest, ChangeBarFollowsTheWriteCameraAndItsThresholds) {
  StartSite();
  TFormModel& f = app->form;
  f.EventLimit.SetValue(40);
  f.ChangeLimit.SetValue(10);
  EXPECT_TRUE(SameBar(rec().Bar, ComputeChangeBar(0, 10, 40, 17, 110)));
  StartRecording();
  loop.RunFor(1000);
  driver->fill = 10;
  loop.RunFor(1300);
  // The last measured level is 0 again; the bar has followed every frame.
  EXPECT_TRUE(SameBar(rec().Bar, ComputeChangeBar(cam(1)->ChangeValue, 10, 40, 17, 110)));
  bool sawChange = false;
  for (const auto& d : Records()) sawChange = sawChange || d.changeLevel >= 100;
  EXPECT_TRUE(sawChange);
}

TEST_F(RecordPanelTest, PanelLoadsAndStoresTheWriteCamerasSettings) {
  StartSite(2);
  TFormModel& f = app->form;
  TCamera& two = *cam(2);
  two.RecordingMode = 0;
  two.IgnoreChangesPercent = 7.5;
  two.ChangesEventPercent = 12.25;
  two.FramesPerMinute = 30;
  two.ReactionEnabled = false;
  f.WriteCam.SetValue(2);
  EXPECT_EQ(f.RecordingOn.ItemIndex(), 0);
  EXPECT_DOUBLE_EQ(f.ChangeLimit.Value(), 7.5);
  EXPECT_DOUBLE_EQ(f.EventLimit.Value(), 12.25);
  EXPECT_DOUBLE_EQ(f.RecFreq.Value(), 30);
  EXPECT_FALSE(f.ReactionOn.Checked());
  EXPECT_EQ(app->Timer1.Interval(), 2000u);
  // Loading the panel did not spill camera 2's values into camera 1.
  EXPECT_EQ(cam(1)->RecordingMode, 1);
  EXPECT_TRUE(cam(1)->ReactionEnabled);

  f.ChangeLimit.SetValue(3);
  f.EventLimit.SetValue(4);
  f.RecordingOn.SetItemIndex(1);
  f.ReactionOn.SetChecked(true);
  f.RecFreq.SetValue(200);
  EXPECT_DOUBLE_EQ(two.IgnoreChangesPercent, 3);
  EXPECT_DOUBLE_EQ(two.ChangesEventPercent, 4);
  EXPECT_EQ(two.RecordingMode, 1);
  EXPECT_TRUE(two.ReactionEnabled);
  EXPECT_DOUBLE_EQ(two.FramesPerMinute, 200);
  EXPECT_EQ(app->Timer1.Interval(), 300u);

  // A camera that does not exist: nothing is loaded or stored.
  f.WriteCam.SetValue(5);
  EXPECT_DOUBLE_EQ(f.ChangeLimit.Value(), 3);
  f.ChangeLimit.SetValue(9);
  EXPECT_DOUBLE_EQ(two.IgnoreChangesPercent, 3);
  EXPECT_DOUBLE_EQ(cam(1)->IgnoreChangesPercent, 0.01);

  f.FilterDeep.SetValue(10);
  EXPECT_EQ(rec().FilterThreshold, 10);
  // The spin takes any number; outside 0..255 it is a range error, reported
  // by the exception handler, and the threshold stays.
  for (int v : {256, 300, -1}) {
    f.FilterDeep.SetValue(v);
    EXPECT_EQ(f.FilterDeep.Value(), v);
    EXPECT_EQ(rec().FilterThreshold, 10);
  }
  EXPECT_EQ(Journaled("Ошибка: Порог фильтра 300 вне диапазона 0..255 !", 0, 1), 1);
  EXPECT_EQ(Journaled("вне диапазона 0..255", 0, 1), 3);
  f.FilterDeep.SetValue(255);
  EXPECT_EQ(rec().FilterThreshold, 255);
}

TEST_F(RecordPanelTest, FailedWritesAreJournaledOnceAndRecordingGoesOn) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  StartSite();
  WriteFile(Dsc(), "");
  ASSERT_EQ(::symlink("/dev/full", dir.file("rec.bin").c_str()), 0);
  app->form.RecFreq.SetValue(600);
  StartRecording();
  loop.RunFor(1000);
  EXPECT_EQ(Journaled("Ошибка записи в файл", 4, jcRecording), 1);
  EXPECT_TRUE(rec().Recording());
  EXPECT_EQ(rec().RecordsWritten, 0);
}

TEST_F(RecordPanelTest, VolumeLimitStopsRecordingWithAJournalLine) {
  StartSite(1, "VolumeLimit.Value=1\nVolumeLimitType.ItemIndex=0\n");
  app->form.Compression.SetChecked(false);  // 304,128 bytes a frame: four pass 1 MB
  app->form.RecFreq.SetValue(600);
  StartRecording();
  loop.RunFor(1000);
  EXPECT_FALSE(rec().Recording());
  EXPECT_EQ(app->form.RecordBtn.Caption(), "Запись");
  EXPECT_EQ(Records().size(), 3u);
  EXPECT_EQ(Journaled("Запись остановлена", 2), 1);
}

// "Зациклить" with a limit of three raw pictures: after a restart the pair
// goes on after its newest record, so the newest footage is the last to go.
TEST_F(RecordPanelTest, WrapPairReopenedAfterARestartKeepsTheNewest) {
  StartSite(1, "VolumeLimit.Value=1\nVolumeLimitType.ItemIndex=2\n");
  app->form.Compression.SetChecked(false);
  app->form.RecFreq.SetValue(600);
  StartRecording();
  while (rec().RecordsWritten < 8) loop.RunFor(50);
  auto newestSlot = [&] {
    const auto r = Records();
    return static_cast<int>(std::max_element(r.begin(), r.end(),
                                             [](const auto& a, const auto& b) {
                                               return a.captureTime < b.captureTime;
                                             }) -
                            r.begin()) +
           1;
  };
  const auto before = Records();
  ASSERT_EQ(before.size(), 3u);
  const int newest = newestSlot();
  ASSERT_NE(newest, 3);  // gone round and stopped inside the pair
  app->FormClose();

  app.reset();
  Start();  // the same folder, the saved settings
  app->form.Compression.SetChecked(false);
  ASSERT_TRUE(rec().FilesOpen());
  app->form.RecordBtn.Click();
  while (rec().RecordsWritten < 1) loop.RunFor(50);
  const auto after = Records();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(newestSlot(), newest + 1);  // the oldest record made room
  const auto slot = static_cast<std::size_t>(newest - 1);
  EXPECT_EQ(after[slot].captureTime, before[slot].captureTime);
  EXPECT_EQ(after[slot].kind, kKindPicture);
}

TEST_F(RecordPanelTest, NextFileContinuesInANewPairAndTheViewerMovesAlong) {
  StartSite(1, "VolumeLimit.Value=1\nVolumeLimitType.ItemIndex=1\n");
  app->form.Compression.SetChecked(false);
  app->form.RecFreq.SetValue(600);
  StartRecording();
  loop.RunFor(500);
  EXPECT_TRUE(rec().Recording());
  EXPECT_NE(rec().Pair.DscName(), Dsc());
  EXPECT_EQ(app->viewer->Session.DscName(), rec().Pair.DscName());
  EXPECT_GE(Journaled("Запись продолжена в файл", 1), 1);
}

// Switcher lines that note every change.
class NotedLines final : public ISwitcherLines {
 public:
  explicit NotedLines(std::vector<std::string>& log) : log_(log) {}
  DeviceResult Open(const std::string& path) override {
    log_.push_back("open " + path);
    open_ = true;
    return DeviceResult::Success();
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  bool SetDtr(bool on) override { return Note(on ? "DTR+" : "DTR-"); }
  bool SetRts(bool on) override { return Note(on ? "RTS+" : "RTS-"); }

 private:
  bool Note(const char* s) {
    log_.push_back(s);
    return true;
  }
  std::vector<std::string>& log_;
  bool open_ = false;
};

TEST_F(RecordPanelTest, SwitcherPortOpensOnceLoadedAndFrameIntakeStepsIt) {
  Make();
  std::vector<std::string> log;
  app->record->SetSwitcherLines(std::make_unique<NotedLines>(log));
  WriteIni(
      "[Ports]\nCOM3=/nonexistent/"
      "switcher\n[MainForm]\nVideoDriver.Value=1\nCamerasAmount.Value=2\nUseSwitcher.Checked=1\n"
      "SwitcherComPort.Value=3\nClientComPort.Value=2\nSwitchDelay.Value=0\n");
  Start();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "open /nonexistent/switcher");  // once, after loading
  EXPECT_EQ(Journaled("Порт Com3: для управления видеокоммутатором открыт", 1), 1);
  log.clear();
  loop.RunFor(300);
  ASSERT_GE(log.size(), 4u);
  // First taken frame steps to camera 2: reset, one DTR pulse, RTS up.
  const std::vector<std::string> toTwo = {"DTR-", "RTS-", "DTR+", "DTR-", "RTS+"};
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 5), toTwo);

  // The station link's port is refused with code 16.
  app->form.SwitcherComPort.SetValue(2);
  EXPECT_EQ(Journaled("Порт Com2: зарезервирован для связи с сервером !", 4, 16), 1);
}

}  // namespace
}  // namespace zv::test
