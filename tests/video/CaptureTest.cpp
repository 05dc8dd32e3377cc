// The capture control: connecting and format negotiation, the grab rate,
// live video, the page's buttons, and the signal watch.
#include "VideoFixture.h"
#include "platform/V4l2Capture.h"

namespace zv::test {
namespace {

class CaptureTest : public VideoAppTest {
 protected:
  void StartWithDriver(int driverNumber) {
    Make();
    WriteIni("[MainForm]\nVideoDriver.Value=" + std::to_string(driverNumber) + "\n");
    Start();
  }
};

TEST_F(CaptureTest, DriverAcceptingOnly320x240EndsThereAfterTheFallbacksInOrder) {
  Make();
  driver->accepted = {{320, 240}};
  WriteIni("[MainForm]\nVideoDriver.Value=1\n");
  Start();
  TVideo& v = video().Video;
  EXPECT_TRUE(v.Connected());
  EXPECT_EQ(v.Width, 320);
  EXPECT_EQ(v.Height, 240);
  ASSERT_EQ(driver->asked.size(), 5u);
  const CaptureSize order[] = {{352, 288}, {384, 288}, {352, 288}, {352, 240}, {320, 240}};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(driver->asked[i].width, order[i].width) << i;
    EXPECT_EQ(driver->asked[i].height, order[i].height) << i;
    EXPECT_EQ(driver->asked[i].bitsPerPixel, 24);
    EXPECT_EQ(driver->asked[i].imageSize,
              static_cast<std::uint32_t>(order[i].width * order[i].height * 3));
  }
  // The fallback size is not copied into the capture frame size...
  EXPECT_EQ(app->video->Intake.CaptureWidth, 352);
  // ...but frames arrive at 320 x 240 and reach camera 1.
  loop.RunFor(200);
  ASSERT_NE(cam(1), nullptr);
  EXPECT_EQ(cam(1)->CurrentPicture.Width(), 320);
  EXPECT_EQ(cam(1)->CurrentPicture.Height(), 240);
  EXPECT_EQ(cam(1)->CurrentPicture.Data()[0], 100);
}

TEST_F(CaptureTest, ConnectTriesFourTimesAndReportsConnectedEvenWithoutDevice) {
  Make();
  driver->failConnects = 3;
  WriteIni("[MainForm]\nVideoDriver.Value=2\n");
  Start();
  EXPECT_EQ(driver->connectCalls, 4);
  EXPECT_TRUE(driver->connected);
  EXPECT_EQ(video().Video.DriverIndex(), 1);

  // A driver that never answers: still "connected", the size ends at the
  // last fallback, and the buttons open the (empty) dialogs without a box.
  app.reset();
  Make();
  driver->present = false;
  Start();
  EXPECT_EQ(driver->connectCalls, 4);
  EXPECT_TRUE(video().Video.Connected());
  EXPECT_EQ(video().Video.Width, 320);
  app->form.VideoSourceBtn.Click();
  EXPECT_TRUE(loop.dialogs.boxes.empty());
}

TEST_F(CaptureTest, FpsGivesTheGrabInterval) {
  Make();
  TVideo& v = video().Video;
  v.SetFps(15);
  EXPECT_EQ(v.GrabTimer().Interval(), 67u);
  v.SetFps(2000);
  EXPECT_FLOAT_EQ(v.Fps(), 1000.0f);
  EXPECT_EQ(v.GrabTimer().Interval(), 1u);
  v.SetFps(-25);
  EXPECT_FLOAT_EQ(v.Fps(), 25.0f);
  EXPECT_EQ(v.GrabTimer().Interval(), 40u);
}

TEST_F(CaptureTest, WithoutDriverNumberNothingConnectsAndTheButtonsSayWhy) {
  StartWithDriver(0);
  EXPECT_FALSE(video().Video.Connected());
  EXPECT_EQ(driver->connectCalls, 0);
  loop.RunFor(1000);
  EXPECT_EQ(video().Intake.FramesTaken(), 0);
  app->form.VideoSourceBtn.Click();
  app->form.DisplayFormatBtn.Click();
  app->form.VideoFormatBtn.Click();
  ASSERT_EQ(loop.dialogs.boxes.size(), 3u);
  for (const auto& b : loop.dialogs.boxes) EXPECT_EQ(b.text, VideoInput::kNotOpenText);
}

TEST_F(CaptureTest, LiveVideoStopsFramesToTheCamerasAndHidesTheViews) {
  StartWithDriver(1);
  loop.RunFor(500);
  const long long before = video().Intake.FramesTaken();
  EXPECT_GT(before, 0);
  int live = 0;
  video().LiveFrame.Connect([&](const TPicture&) { ++live; });
  app->form.LiveVideo.SetChecked(true);
  EXPECT_FALSE(app->form.ViewPanel.Visible());
  EXPECT_TRUE(app->form.LiveVideoPanel.Visible());
  loop.RunFor(500);
  EXPECT_EQ(video().Intake.FramesTaken(), before);
  EXPECT_GT(live, 0);  // no overlay of its own: the live panel shows grabbed frames
  app->form.LiveVideo.SetChecked(false);
  EXPECT_TRUE(app->form.ViewPanel.Visible());
  loop.RunFor(500);
  EXPECT_GT(video().Intake.FramesTaken(), before);
}

TEST_F(CaptureTest, VideoDriverChangeReconnectsOnlyAfterLoading) {
  Make();
  app->form.VideoDriver.SetValue(3);  // before the settings: ignored
  EXPECT_EQ(driver->connectCalls, 0);
  Start();
  const int calls = driver->connectCalls;
  app->form.VideoDriver.SetValue(2);
  EXPECT_EQ(driver->connectCalls, calls + 1);
  EXPECT_EQ(video().Video.DriverIndex(), 1);
  app->form.VideoDriver.SetValue(0);
  EXPECT_FALSE(video().Video.Connected());
  EXPECT_FALSE(driver->connected);
}

TEST_F(CaptureTest, FormatChangeReconnectsWithTheNewFormat) {
  struct PickSize : ICaptureDialogs {
    bool FormatDialog(ICaptureDriver& d) override {
      return d.SetFormat(CaptureFormat{176, 144, 16, 176 * 144 * 2});
    }
    void SourceDialog(ICaptureDriver&) override {}
    void DisplayDialog(ICaptureDriver&) override {}
  } dialogs;
  StartWithDriver(1);
  video().Video.SetDialogs(&dialogs);
  bool recording = true;
  video().IsRecording = [&] { return recording; };
  app->form.VideoFormatBtn.Click();
  ASSERT_EQ(loop.dialogs.boxes.size(), 1u);
  EXPECT_EQ(loop.dialogs.boxes[0].text, VideoInput::kStopRecordingText);
  recording = false;
  driver->asked.clear();
  app->form.VideoFormatBtn.Click();
  ASSERT_GE(driver->asked.size(), 2u);
  // The reconnection asks for the dialog's size with 16 bits per pixel.
  EXPECT_EQ(driver->asked[1].width, 176);
  EXPECT_EQ(driver->asked[1].bitsPerPixel, 16);
  EXPECT_EQ(app->video->Intake.CaptureWidth, 176);
  EXPECT_EQ(app->video->Intake.CaptureHeight, 144);
  EXPECT_TRUE(video().Video.GrabTimer().Enabled());
}

TEST_F(CaptureTest, LostSignalIsJournaledOnceRetriedAndItsReturnJournaled) {
  StartWithDriver(1);
  loop.RunFor(300);
  driver->grabFails = true;
  loop.RunFor(10000);
  EXPECT_TRUE(video().Video.SignalLost());
  EXPECT_EQ(Journaled("Нет видеосигнала с устройства \"/dev/video0\" (device gone)", 4), 1);
  EXPECT_EQ(app->journal.Status()[0].text.rfind("Нет видеосигнала", 0), 0u);  // and says so
  // Retried every few seconds, not at the grab rate.
  const int connects = driver->connectCalls;
  loop.RunFor(9000);
  EXPECT_GE(driver->connectCalls - connects, 2);
  EXPECT_LE(driver->connectCalls - connects, 4);
  const long long taken = video().Intake.FramesTaken();
  driver->grabFails = false;
  loop.RunFor(4000);
  EXPECT_FALSE(video().Video.SignalLost());
  EXPECT_EQ(Journaled("восстановлен", 1), 1);
  EXPECT_GT(video().Intake.FramesTaken(), taken);
  EXPECT_EQ(Journaled("Нет видеосигнала", 4), 1);
}

TEST(V4l2CaptureTest, SomethingThatIsNoCaptureDeviceIsRefused) {
  TempDir dir;
  WriteFile(dir.file("cam0"), "not a device");
  V4l2Capture v4l2(dir.file("cam"), 50);
  EXPECT_EQ(v4l2.DeviceName(0), dir.file("cam0"));
  EXPECT_FALSE(v4l2.Connect(0));
  EXPECT_FALSE(v4l2.IsConnected());
  EXPECT_NE(v4l2.LastError().find("cam0"), std::string::npos) << v4l2.LastError();
  CaptureFormat f;
  EXPECT_FALSE(v4l2.GetFormat(f));
  EXPECT_FALSE(v4l2.SetFormat(CaptureFormat{352, 288, 24, 0}));
  TPicture pic(352, 288);
  EXPECT_FALSE(v4l2.Grab(CaptureTarget{pic.Data(), 352, 288, pic.Stride()}));
  EXPECT_FALSE(v4l2.SetInput(0));
  EXPECT_EQ(v4l2.CurrentInput(), -1);
  EXPECT_TRUE(v4l2.Standards().empty());
  EXPECT_FALSE(v4l2.SetControl(1, 1));
}

TEST_F(CaptureTest, AbsentV4l2DeviceFailsCleanlyAndIsJournaledOnce) {
  Make();
  video().SetCaptureDriver(std::make_unique<V4l2Capture>(dir.file("no-such-video"), 50));
  WriteIni("[MainForm]\nVideoDriver.Value=1\n");
  Start();
  EXPECT_TRUE(video().Video.Connected());  // Connect ran
  EXPECT_EQ(video().Video.Width, 320);     // every size refused
  ICaptureDriver& d = video().CaptureDriver();
  EXPECT_FALSE(d.IsConnected());
  EXPECT_NE(d.LastError().find("no-such-video0"), std::string::npos);
  EXPECT_TRUE(d.SupportedSizes().empty());
  EXPECT_TRUE(d.Inputs().empty());
  EXPECT_TRUE(d.Controls().empty());
  loop.RunFor(10000);
  EXPECT_EQ(Journaled("no-such-video0", 4), 1);
  EXPECT_EQ(video().Intake.FramesTaken(), 0);
  app->FormClose();
}

}  // namespace
}  // namespace zv::test
