// The frame intake and the cameras on the foundation alone: no capture
// page, no application; a host stands in for the page the cameras ask.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/Foundation.h"
#include "video/Camera.h"
#include "video/FrameIntake.h"

namespace zv::test {
namespace {

struct Host final : ICameraHost {
  const FrameIntake* intake = nullptr;
  bool playback = false, difference = false, recording = false;
  int relayouts = 0;
  int CaptureWidth() const override { return intake->CaptureWidth; }
  int CaptureHeight() const override { return intake->CaptureHeight; }
  bool PlaybackPageShown() const override { return playback; }
  bool ShowDifference() const override { return difference; }
  bool Recording() const override { return recording; }
  void ViewPanelResize() override { ++relayouts; }
};

class IntakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.intake = &intake;
    f.cameras.SetFactory([this](int k) { return std::make_unique<TCamera>(k, context); });
    intake.SwitchCamera = [this](int n) { steps.push_back(n); };
  }
  // The cameras go while their host is still there.
  void TearDown() override { f.cameras.FreeAll(); }
  void MakeCameras(int n) {
    for (int k = 0; k < n; ++k) f.cameras.CreateNext();
  }
  TCamera& Cam(int k) { return *f.cameras.GetAs<TCamera>(k); }
  static TPicture Frame(std::uint8_t fill, int w = 352, int h = 288) {
    TPicture p(w, h);
    std::fill(p.Bytes().begin(), p.Bytes().end(), fill);
    return p;
  }
  void Feed(const TPicture& p) { intake.VideoVideoFrameBmp(f.loop.clock.Now(), p); }

  Foundation f;
  Host host;
  CameraContext context{f.settings, f.journal, f.loop.dialogs, f.form.CamViewListBox, host};
  FrameIntake intake{f.loop.clock, f.journal, f.form, f.frame, f.cameras};
  std::vector<int> steps;
};

// Each frame goes to the camera the switcher shows and steps it on; while
// the card settles on the next camera's signal, frames are not taken.
TEST_F(IntakeTest, FramesGoRoundTheCamerasAndWaitForTheSwitcherToSettle) {
  MakeCameras(3);
  f.form.UseSwitcher.SetChecked(true);
  f.form.SwitchDelay.SetValue(400);
  Feed(Frame(1));
  EXPECT_EQ(Cam(1).CurrentPicture, Frame(1));
  EXPECT_EQ(steps, (std::vector<int>{2}));
  Feed(Frame(2));  // at once: still settling
  f.loop.clock.AdvanceMs(400);
  Feed(Frame(2));  // the delay itself is not enough
  EXPECT_EQ(intake.FramesTaken(), 1);
  f.loop.clock.AdvanceMs(1);
  Feed(Frame(2));
  EXPECT_EQ(Cam(2).CurrentPicture, Frame(2));
  f.loop.clock.AdvanceMs(401);
  Feed(Frame(3));
  EXPECT_EQ(Cam(3).CurrentPicture, Frame(3));
  EXPECT_EQ(steps, (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(intake.FrameCamera, 3);
}

// While recording, a frame waits for the processing tick to have taken the
// one before; the switcher is stepped only for frames taken.
TEST_F(IntakeTest, WhileRecordingTheNextFrameWaitsForTheTick) {
  MakeCameras(2);
  f.form.UseSwitcher.SetChecked(true);
  f.form.SwitchDelay.SetValue(0);
  intake.IsRecording = [] { return true; };
  Feed(Frame(1));
  EXPECT_EQ(intake.FramesTaken(), 0);
  intake.ReadyForFrame = true;
  f.loop.clock.AdvanceMs(1);
  Feed(Frame(1));
  EXPECT_TRUE(intake.FramePending);
  EXPECT_FALSE(intake.ReadyForFrame);
  f.loop.clock.AdvanceMs(1);
  Feed(Frame(2));
  EXPECT_EQ(intake.FramesTaken(), 1);
  EXPECT_EQ(steps, (std::vector<int>{2}));
}

// A frame of another size is the capture's size from then on: announced
// once, and the pictures of a camera made later take it.
TEST_F(IntakeTest, AFrameOfAnotherSizeBecomesTheCaptureSize) {
  MakeCameras(1);
  int changes = 0;
  intake.OnFrameSizeChanged = [&] { ++changes; };
  Feed(Frame(7, 176, 144));
  Feed(Frame(8, 176, 144));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(intake.CaptureWidth, 176);
  EXPECT_EQ(intake.CaptureHeight, 144);
  MakeCameras(1);
  EXPECT_EQ(Cam(2).PlaybackPicture.Width(), 176);
  EXPECT_EQ(Cam(2).DifferencePicture.Height(), 144);
}

// The zones in alarm are outlined over the live picture only while
// pictures are being recorded (measured), never over a played-back one.
TEST_F(IntakeTest, AlarmOutlinesOnlyOverTheLiveViewWhileRecording) {
  MakeCameras(1);
  TCamera& cam = Cam(1);
  cam.Zones.SetAll(true);
  cam.Zones.alarm[3][4] = cam.Zones.alarm[10][2] = true;
  cam.ChangesEventPercent = 1.0;
  cam.ChangeValue = 5;
  EXPECT_TRUE(cam.Overlay(320, 256).outlines.empty());
  host.recording = true;
  EXPECT_EQ(cam.Overlay(320, 256).outlines.size(), 2u);
  host.playback = true;
  EXPECT_TRUE(cam.Overlay(320, 256).outlines.empty());
  EXPECT_EQ(&cam.ShownPicture(), &cam.PlaybackPicture);
}

}  // namespace
}  // namespace zv::test
