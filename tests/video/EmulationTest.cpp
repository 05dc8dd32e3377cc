// The emulated camera and the frame intake: frames at the grab rate through
// the capture control, scenes that move only when their timeline says so,
// and one scene per switcher input.
#include <cstdlib>

#include "VideoFixture.h"
#include "detect/RecordingFiles.h"
#include "video/Bmp.h"
#include "video/EmulatedCamera.h"

namespace zv::test {
namespace {

// Largest absolute byte difference, and how many bytes differ by more than
// the noise can explain.
struct Diff {
  int maxAbs = 0;
  long beyondNoise = 0;
};
Diff Compare(const TPicture& a, const TPicture& b) {
  Diff d;
  for (std::size_t i = 0; i < a.SizeBytes(); ++i) {
    const int v = std::abs(int(a.Data()[i]) - int(b.Data()[i]));
    d.maxAbs = std::max(d.maxAbs, v);
    if (v > 2 * EmulatedCamera::kNoise) ++d.beyondNoise;
  }
  return d;
}

TPicture Grab(EmulatedCamera& cam) {
  CaptureFormat f;
  EXPECT_TRUE(cam.GetFormat(f));
  TPicture p(f.width, f.height);
  EXPECT_TRUE(cam.Grab(CaptureTarget{p.Data(), p.Width(), p.Height(), p.Stride()}));
  return p;
}

TEST(EmulatedCameraTest, StaticSceneDiffersOnlyByNoiseAndMovingSceneReallyMoves) {
  FakeClock clock(45000.5);
  EmulatedCamera cam(clock);
  ASSERT_TRUE(cam.Connect(0));
  ASSERT_TRUE(cam.SetFormat(CaptureFormat{352, 288, 24, 0}));
  ASSERT_FALSE(EmulatedCamera::MotionAt(1, 0));
  const TPicture a = Grab(cam);
  clock.AdvanceMs(67);
  const TPicture b = Grab(cam);
  const Diff quiet = Compare(a, b);
  EXPECT_GT(quiet.maxAbs, 0);  // the noise is there
  EXPECT_EQ(quiet.beyondNoise, 0);

  // Into the first crossing: consecutive frames differ well beyond noise.
  clock.AdvanceMs(EmulatedCamera::kFirstMotionMs + 2000 - clock.TickMs());
  ASSERT_TRUE(EmulatedCamera::MotionAt(1, clock.TickMs()));
  const TPicture c = Grab(cam);
  clock.AdvanceMs(67);
  const TPicture d = Grab(cam);
  const Diff moving = Compare(c, d);
  EXPECT_GT(moving.maxAbs, 60);
  EXPECT_GT(moving.beyondNoise, 300);
  // And the figure stands out against the quiet scene.
  EXPECT_GT(Compare(a, c).beyondNoise, 5000);
}

TEST(EmulatedCameraTest, EachInputHasItsOwnSceneAndRunsRepeat) {
  FakeClock clock(45000.5);
  EmulatedCamera cam(clock), again(clock);
  ASSERT_TRUE(cam.Connect(0));
  ASSERT_TRUE(again.Connect(0));
  cam.SelectSwitcherInput(1);
  const TPicture one = Grab(cam);
  cam.SelectSwitcherInput(2);
  const TPicture two = Grab(cam);
  EXPECT_GT(Compare(one, two).beyondNoise, 10000);
  EXPECT_EQ(Grab(again), one);  // same time, same frame number: same picture
  cam.SelectSwitcherInput(9);   // no such input: stays where it was
  EXPECT_EQ(cam.Input(), 2);
}

TEST(EmulatedCameraTest, PlaysAFolderOfBitmapsInALoopScaledToTheFormat) {
  TempDir dir;
  TPicture red(4, 2), blue(4, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      red.StoredRow(y)[3 * x + 2] = 200;
      blue.StoredRow(y)[3 * x] = 200;
    }
  ASSERT_TRUE(SaveBmp(dir.file("a.bmp"), red));
  ASSERT_TRUE(SaveBmp(dir.file("b.BMP"), blue));
  WriteFile(dir.file("notes.txt"), "not a picture");
  FakeClock clock(45000.5);
  EmulatedCamera cam(clock);
  cam.SetSourceFile(dir.path().string());
  ASSERT_TRUE(cam.Connect(0));
  ASSERT_TRUE(cam.SetFormat(CaptureFormat{32, 16, 24, 0}));
  const TPicture f1 = Grab(cam), f2 = Grab(cam), f3 = Grab(cam);
  EXPECT_EQ(f1.ScreenRow(15)[3 * 31 + 2], 200);
  EXPECT_EQ(f2.ScreenRow(0)[0], 200);
  EXPECT_EQ(f3, f1);

  EmulatedCamera missing(clock);
  missing.SetSourceFile(dir.file("nothing-here"));
  EXPECT_FALSE(missing.Connect(0));
  EXPECT_FALSE(missing.LastError().empty());
}

TEST(EmulatedCameraTest, PlaysARecordingPairEachInputItsOwnCamera) {
  TempDir dir;
  {
    RecordingPair pair;
    ASSERT_TRUE(pair.OpenOrCreate(dir.file("site.dsc")));
    // Records: camera 1 grey 10, camera 2 grey 200, camera 1 grey 20.
    const std::pair<int, std::uint8_t> records[] = {{1, 10}, {2, 200}, {1, 20}};
    for (const auto& [camera, value] : records) {
      TPicture pic(8, 6);
      std::fill(pic.Bytes().begin(), pic.Bytes().end(), value);
      FrameDescriptor d;
      d.width = 8;
      d.height = 6;
      d.camera = static_cast<std::uint8_t>(camera);
      d.format = kFormatRaw;
      ASSERT_TRUE(pair.Append(d, pic.Data(), pic.SizeBytes()).ok());
    }
  }
  FakeClock clock(45000.5);
  EmulatedCamera cam(clock);
  cam.SetSourceFile(dir.file("site.dsc"));
  ASSERT_TRUE(cam.Connect(0)) << cam.LastError();
  ASSERT_TRUE(cam.SetFormat(CaptureFormat{32, 24, 24, 0}));
  auto value = [&] { return Grab(cam).Data()[0]; };
  EXPECT_EQ(value(), 10);
  EXPECT_EQ(value(), 20);
  EXPECT_EQ(value(), 10);  // in a loop
  cam.SelectSwitcherInput(2);
  EXPECT_EQ(value(), 200);
  EXPECT_EQ(value(), 200);
  cam.SelectSwitcherInput(3);  // no records of camera 3: any camera's
  EXPECT_NE(value(), 0);

  EmulatedCamera missing(clock);
  missing.SetSourceFile(dir.file("other.dsc"));
  EXPECT_FALSE(missing.Connect(0));
}

class EmulationAppTest : public VideoAppTest {};

TEST_F(EmulationAppTest, FramesArriveAtTheGrabRateThroughTheCaptureControl) {
  WriteIni("[MainForm]\nVideoEmulation.Checked=1\n");
  Start();
  EXPECT_EQ(video().ActiveDriver(), &video().Emulator());
  EXPECT_TRUE(video().Video.Connected());
  EXPECT_EQ(video().Video.Width, 352);
  std::vector<TDateTime> stamps;
  video().Video.OnVideoFrameBmp = [&](TDateTime t, const TPicture& f) {
    stamps.push_back(t);
    video().Intake.VideoVideoFrameBmp(t, f);
  };
  loop.RunFor(1000);
  // 15 frames per second: a grab every 67 ms.
  EXPECT_GE(stamps.size(), 14u);
  EXPECT_LE(stamps.size(), 15u);
  ASSERT_GE(stamps.size(), 2u);
  EXPECT_NEAR((stamps[1] - stamps[0]) / kOneSecond * 1000.0, 67.0, 0.5);
  EXPECT_EQ(cam(1)->CurrentPicture.Width(), 352);
  EXPECT_EQ(driver->connectCalls, 0);  // the capture device was never asked
}

TEST_F(EmulationAppTest, SwitcherSteppingGivesEachCameraItsOwnScene) {
  WriteIni("[MainForm]\nVideoEmulation.Checked=1\nCamerasAmount.Value=4\n");
  Start();
  std::vector<int> credited;
  loop.RunFor(1000);
  // Every camera got pictures, and they are different scenes.
  for (int k = 1; k <= 4; ++k) EXPECT_GT(cam(k)->CurrentPicture.Data()[1000], 0) << k;
  EXPECT_GT(Compare(cam(1)->CurrentPicture, cam(2)->CurrentPicture).beyondNoise, 10000);
  EXPECT_GT(Compare(cam(3)->CurrentPicture, cam(4)->CurrentPicture).beyondNoise, 10000);
  // Camera 1's next picture is the same scene again.
  const TPicture before = cam(1)->CurrentPicture;
  loop.RunFor(67 * 4);
  EXPECT_EQ(Compare(before, cam(1)->CurrentPicture).beyondNoise, 0);
}

TEST_F(EmulationAppTest, SwitchDelayDropsFramesWhileTheCardSettles) {
  WriteIni(
      "[MainForm]\nVideoEmulation.Checked=1\nCamerasAmount.Value=2\n"
      "UseSwitcher.Checked=1\nSwitchDelay.Value=400\n");
  Make();
  std::vector<int> steps;
  video().Intake.SwitchCamera = [&](int n) { steps.push_back(n); };
  Start();
  loop.RunFor(2000);
  // One frame taken per 400 ms of settling (plus the grab that ends it).
  EXPECT_GE(video().Intake.FramesTaken(), 3);
  EXPECT_LE(video().Intake.FramesTaken(), 5);
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps[0], 2);
  EXPECT_EQ(steps[1], 1);
  EXPECT_EQ(steps[2], 2);
}

TEST_F(EmulationAppTest, WhileRecordingOneFrameIsTakenPerProcessingTick) {
  WriteIni("[MainForm]\nVideoEmulation.Checked=1\n");
  Make();
  bool recording = false;
  video().IsRecording = [&] { return recording; };
  Start();
  loop.RunFor(300);
  recording = true;
  FrameIntake& in = video().Intake;
  const long long taken = in.FramesTaken();
  loop.RunFor(500);
  EXPECT_EQ(in.FramesTaken(), taken);  // the pending frame was never consumed
  EXPECT_TRUE(in.FramePending);
  in.FramePending = false;
  in.ReadyForFrame = true;
  loop.RunFor(100);
  EXPECT_EQ(in.FramesTaken(), taken + 1);
}

TEST_F(EmulationAppTest, EmulationCanBeSwitchedOnAndOffAtRunTime) {
  WriteIni("[MainForm]\nVideoDriver.Value=1\n");
  Start();
  EXPECT_EQ(video().ActiveDriver(), driver);
  app->form.VideoEmulation.SetChecked(true);
  EXPECT_EQ(video().ActiveDriver(), &video().Emulator());
  EXPECT_FALSE(driver->connected);
  EXPECT_TRUE(video().Emulator().IsConnected());
  EXPECT_FALSE(video().ReplayingFile());  // synthetic scenes
  // A file that isn't there: no pictures, and the loss is journaled once.
  app->form.VideoEmulationFile.SetFileName(dir.file("missing.dsc"));
  EXPECT_TRUE(video().ReplayingFile());
  loop.RunFor(5000);
  EXPECT_EQ(Journaled("missing.dsc", 4), 1);
  const long long taken = video().Intake.FramesTaken();
  app->form.VideoEmulationFile.SetFileName("");  // a new connection, pictures again
  loop.RunFor(1000);
  EXPECT_GT(video().Intake.FramesTaken(), taken + 10);
  EXPECT_EQ(Journaled("Нет видеосигнала", 4), 1);
  app->form.VideoEmulation.SetChecked(false);
  EXPECT_EQ(video().ActiveDriver(), driver);
  EXPECT_TRUE(driver->connected);
  app->FormClose();
  EXPECT_NE(Ini().find("VideoEmulation.Checked=0"), std::string::npos);
}

}  // namespace
}  // namespace zv::test
