// The playback page in a whole application on the fake platform: pairs
// written to disk are opened through the file-name edit, stepped and played
// on Timer2, and the alarm sound goes through a scripted player.
#include "detect/RecordPanel.h"
#include "detect/TimeStamp.h"
#include "detect/ViewerPanel.h"
#include "tests/video/VideoFixture.h"

namespace zv::test {
namespace {

// A player whose answers the test sets and whose calls it reads back.
class ScriptedPlayer final : public IMediaPlayer {
 public:
  bool Playing() const override { return playing; }
  bool Recording() const override { return recording; }
  void Stop() override { playing = false; }
  bool Save() override {
    ++saves;
    recording = false;
    return true;
  }
  bool StartRecording(const std::string&, std::string&) override { return false; }
  bool Open(const std::string& fileName, std::string& why) override {
    opened = fileName;
    if (!openOk) why = "нет файла";
    return openOk;
  }
  long long LengthMs() const override { return length; }
  long long PositionMs() const override { return position; }
  void Seek(long long ms) override { seeks.push_back(ms); }
  bool Play(std::string&) override { return playing = true; }

  bool playing = false, recording = false, openOk = true;
  int saves = 0;
  long long length = 5000, position = 0;
  std::string opened;
  std::vector<long long> seeks;
};

class ViewerPanelTest : public VideoAppTest {
 protected:
  void StartSite() {
    Make();
    WriteIni("[MainForm]\nCamerasAmount.Value=1\n");
    Start();
  }
  ViewerPanel& viewer() { return *app->viewer; }
  // A pair of raw 32 x 24 pictures, record i filled with byte 10 * i and
  // with change level i; kinds as given (0 a picture).
  std::string WritePair(const std::vector<int>& kinds) {
    const std::string name = dir.file("v.dsc");
    RecordingPair pair;
    EXPECT_TRUE(pair.OpenOrCreate(name));
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      TPicture p(32, 24);
      std::fill(p.Bytes().begin(), p.Bytes().end(), static_cast<std::uint8_t>(10 * (i + 1)));
      FrameDescriptor d;
      d.captureTime = 45000.5 + static_cast<double>(i) / 86400;
      d.width = 32;
      d.height = 24;
      d.camera = 1;
      d.changeLevel = static_cast<std::int32_t>(i + 1);
      d.kind = static_cast<std::uint8_t>(kinds[i]);
      EXPECT_TRUE(pair.Append(d, p.Data(), p.SizeBytes()).ok());
    }
    return name;
  }
  int ShownFill() { return cam(1)->PlaybackPicture.Data()[0]; }
};

TEST_F(ViewerPanelTest, OpensAPairStepsItAndPlaysItForwardAndBack) {
  StartSite();
  TFormModel& f = app->form;
  WritePair({0, 0, 1, 0, 0});
  f.ViewFileName.SetFileName(dir.file("v.bin"));
  EXPECT_EQ(f.ViewFileName.FileName(), dir.file("v.dsc"));
  ASSERT_TRUE(viewer().Session.IsOpen());
  EXPECT_EQ(f.ViewSlider.Value(), 1);
  EXPECT_EQ(f.ViewSlider.MaxValue(), 5);
  EXPECT_EQ(f.MaxValueLabel.Caption(), "5");
  EXPECT_EQ(ShownFill(), 10);  // record 1 is shown at once
  EXPECT_EQ(cam(1)->PlaybackPicture.Width(), 32);

  f.NextCadr.Click();
  EXPECT_EQ(ShownFill(), 20);
  // Record 3 is not a picture: the view stays as it was.
  f.NextCadr.Click();
  EXPECT_EQ(f.ViewSlider.Value(), 3);
  EXPECT_EQ(ShownFill(), 20);
  f.ViewSlider.SetValue(5);
  EXPECT_EQ(ShownFill(), 50);
  f.NextCadr.Click();
  EXPECT_EQ(f.ViewSlider.Value(), 5);
  f.ViewSlider.SetValue(1);
  f.PrevCadr.Click();
  EXPECT_EQ(f.ViewSlider.Value(), 1);

  // Playing forward at 20 per second: a 50 ms timer, stops at the end.
  f.ForwardButton.Click();
  EXPECT_TRUE(f.ForwardButton.Down());
  EXPECT_EQ(f.ForwardButton.Caption(), "Стоп");
  EXPECT_TRUE(app->Timer2.Enabled());
  EXPECT_EQ(app->Timer2.Interval(), 50u);
  loop.RunFor(400);
  EXPECT_EQ(f.ViewSlider.Value(), 5);
  EXPECT_FALSE(app->Timer2.Enabled());
  EXPECT_FALSE(f.ForwardButton.Down());
  EXPECT_EQ(f.ForwardButton.Caption(), ">>");
  // Backward releases forward; a step button stops playing.
  f.ViewFreq.SetValue(10);
  f.BackwardButton.Click();
  EXPECT_EQ(app->Timer2.Interval(), 100u);
  loop.RunFor(150);
  EXPECT_EQ(f.ViewSlider.Value(), 4);
  f.NextCadr.Click();
  EXPECT_FALSE(app->Timer2.Enabled());
  EXPECT_FALSE(f.BackwardButton.Down());
  EXPECT_EQ(f.BackwardButton.Caption(), "<<");
  EXPECT_EQ(f.ViewSlider.Value(), 5);

  // The graph was drawn from the index.
  const ChangeGraph expected =
      ComputeChangeGraph({1, 2, 3, 4, 5}, 484, 27, cam(1)->ChangesEventPercent);
  ASSERT_EQ(viewer().Graph.columns.size(), expected.columns.size());
  EXPECT_EQ(viewer().Graph.columns.back().top, expected.columns.back().top);
  EXPECT_EQ(viewer().Graph.thresholdY, expected.thresholdY);
}

TEST_F(ViewerPanelTest, EmptyAndHalfMissingPairs) {
  StartSite();
  TFormModel& f = app->form;
  WritePair({});
  f.ViewFileName.SetFileName(dir.file("v.dsc"));
  EXPECT_TRUE(viewer().Session.IsOpen());
  EXPECT_EQ(f.ViewSlider.Value(), 1);
  EXPECT_EQ(f.MaxValueLabel.Caption(), "1");
  EXPECT_EQ(viewer().Shown, 0);
  f.NextCadr.Click();
  EXPECT_EQ(f.ViewSlider.Value(), 1);
  WriteFile(dir.file("w.dsc"), "");
  f.ViewFileName.SetFileName(dir.file("w.dsc"));
  EXPECT_FALSE(viewer().Session.IsOpen());
}

TEST_F(ViewerPanelTest, TimeStampIsRightAlignedGreenAndClipped) {
  TPicture p(40, 12);
  DrawTimeStamp(p, "1");
  // "1": its bottom row lights columns 1..3 of the glyph, which starts at
  // x = 40 - 2 - 5; row 6 of the glyph is y = 8 from the top.
  const std::uint8_t* row = p.ScreenRow(8);
  for (int x = 0; x < 40; ++x) {
    const bool lit = x >= 34 && x <= 36;
    EXPECT_EQ(row[x * 3 + 1], lit ? 128 : 0) << x;
    EXPECT_EQ(row[x * 3], 0);
    EXPECT_EQ(row[x * 3 + 2], 0);
  }
  EXPECT_EQ(StampTextWidth("01.02.2023 10:11:12"), 19 * 6 - 1);
  // Wider than the picture: drawn clipped, nothing outside touched.
  TPicture small(8, 5);
  DrawTimeStamp(small, "01.02.2023 10:11:12");
  EXPECT_EQ(small.SizeBytes(), static_cast<std::size_t>(TPicture::StrideFor(8) * 5));
}

// The pair named in the settings is opened while they are read, before the
// site's cameras exist: its first record is on camera 1 once start-up is done.
TEST_F(ViewerPanelTest, ThePairRestoredAtStartShowsItsRecord) {
  Make();
  const std::string name = WritePair({0, 0});
  WriteIni("[MainForm]\nCamerasAmount.Value=1\nViewFileName.FileName=" + name + "\n");
  Start();
  ASSERT_TRUE(viewer().Session.IsOpen());
  EXPECT_EQ(cam(1)->PlaybackPicture.Width(), 32);
  EXPECT_EQ(ShownFill(), 10);
}

TEST_F(ViewerPanelTest, CameraListShowsHidesAndColumns) {
  StartSite();
  TFormModel& f = app->form;
  ASSERT_EQ(f.CamViewListBox.Count(), 1);
  f.CamViewListBox.UserToggle(0);
  EXPECT_FALSE(cam(1)->Visible());
  f.CamViewListBox.UserToggle(0);
  EXPECT_TRUE(cam(1)->Visible());
  EXPECT_EQ(viewer().CamViewColumns(350), 3);
  EXPECT_EQ(viewer().CamViewColumns(150), 0);  // one column is a single column
  f.ViewCamsExpand.Click();
  EXPECT_EQ(f.ViewCamsExpand.Caption(), ">");
  EXPECT_FALSE(f.ObjViewPanel.Visible());
  EXPECT_EQ(viewer().CamViewColumns(350), 2);
  f.ViewCamsExpand.Click();
  EXPECT_EQ(f.ViewCamsExpand.Caption(), "<");

  // The list's columns follow its panel's width.
  viewer().CamViewPanelResize(350);
  EXPECT_EQ(f.CamViewListBox.Columns(), 3);
  f.ViewCamsExpand.Click();  // wider columns while the site list is hidden
  EXPECT_EQ(f.CamViewListBox.Columns(), 2);
  viewer().CamViewPanelResize(150);
  EXPECT_EQ(f.CamViewListBox.Columns(), 0);
  f.ViewCamsExpand.Click();
  viewer().CamViewPanelResize(420);
  EXPECT_EQ(f.CamViewListBox.Columns(), 4);

  // A site's camera list is a plain list in navy.
  EXPECT_EQ(viewer().CamViewItem(0, false).text, colors::clNavy);
  EXPECT_EQ(SiteColor(8), colors::clSilver);
}

TEST_F(ViewerPanelTest, StationListsFollowTheSitesAndAllCams) {
  Make();
  std::string ini =
      "[Main]\r\nServerMode=1\r\nObjectsCount=2\r\n[MainForm]\r\nAllCams.Checked=0\r\n"
      "[Object1]\r\nName=Склад номер один\r\nID=7\r\nCams=3\r\n"
      "[Object2]\r\nName=Офис\r\nID=9\r\nCams=2\r\n[Ports]\r\n";
  for (int i = 1; i <= 8; ++i) ini += "COM" + std::to_string(i) + "=/nonexistent/tty\r\n";
  WriteIni(ini);
  Start();
  TFormModel& f = app->form;
  // Without AllCams the first site is chosen: only its cameras are listed
  // and shown.
  ASSERT_EQ(f.CamViewListBox.Count(), 3);
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(app->cameras.Get(k)->Visible(), k <= 3) << k;
  // Ticking the second site shows its cameras.
  f.ObjViewListBox.UserToggle(1);
  EXPECT_TRUE(app->settings.Objects[2].CheckedForView);
  EXPECT_TRUE(app->cameras.Get(4)->Visible());
  EXPECT_TRUE(app->cameras.Get(5)->Visible());
  // AllCams lists every site's cameras.
  f.AllCams.SetChecked(true);
  ASSERT_EQ(f.CamViewListBox.Count(), 5);
  f.ObjViewListBox.UserSelect(1);
  EXPECT_EQ(f.CamViewListBox.ItemIndex(), 3);  // the second site's first camera
  // Items in their site's colour, the site's name abbreviated before them.
  const ListItemLook first = viewer().CamViewItem(0, false);
  EXPECT_EQ(first.text, SiteColor(1));
  EXPECT_TRUE(first.systemBackground);
  EXPECT_EQ(first.caption, AbbreviateName("Склад номер один") + ": " + f.CamViewListBox.Text(0));
  const ListItemLook chosen = viewer().CamViewItem(3, true);
  EXPECT_EQ(chosen.background, SiteColor(2));
  EXPECT_EQ(chosen.text, colors::clWhite);
  EXPECT_EQ(viewer().ObjViewItem(1, false).text, SiteColor(2));
  f.ViewCamsExpand.Click();  // the site list folds away, and the prefixes with it
  EXPECT_EQ(viewer().CamViewItem(0, false).caption, f.CamViewListBox.Text(0));
  // Unticking a camera hides it and clears its site's shown flag.
  f.CamViewListBox.UserToggle(4);
  EXPECT_FALSE(app->cameras.Get(5)->Visible());
  EXPECT_FALSE(app->settings.Objects[2].CamVisible[2]);
}

TEST_F(ViewerPanelTest, AlarmSoundPlaysSeeksAndReportsFailuresWithCode39) {
  StartSite();
  TFormModel& f = app->form;
  f.PlaySound.Click();  // no player at all
  EXPECT_EQ(Journaled("Ошибка: ", 0, jcSoundPlay), 1);

  ScriptedPlayer player;
  viewer().SetMediaPlayer(&player);
  player.openOk = false;
  f.PlaySound.Click();
  EXPECT_EQ(Journaled("Ошибка: нет файла !", 0, jcSoundPlay), 1);
  EXPECT_EQ(player.opened, viewer().SoundFileName());

  player.openOk = true;
  player.recording = true;
  f.PlaySound.Click();
  EXPECT_EQ(player.saves, 1);  // a recording is saved before playing
  EXPECT_TRUE(player.playing);
  EXPECT_EQ(f.SoundSlider.MaxValue(), 5000);
  EXPECT_EQ(player.seeks, std::vector<long long>{0});
  f.SoundSlider.SetValue(1200);
  EXPECT_EQ(player.seeks.back(), 1200);
  player.position = 2500;
  viewer().FollowSound();
  EXPECT_EQ(f.SoundSlider.Value(), 2500);
  EXPECT_EQ(player.seeks.back(), 1200);  // following the player does not seek
  f.StopSound.Click();
  EXPECT_FALSE(player.playing);
}

}  // namespace
}  // namespace zv::test
