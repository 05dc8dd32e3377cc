#include "video/FrameIntake.h"

#include <exception>

#include "app/Application.h"
#include "video/Camera.h"

namespace zv {

FrameIntake::FrameIntake(Application& app) : app_(app) {}

void FrameIntake::LimitToCameraCount(int n) {
  if (n < 1) n = 1;
  if (SwitcherPosition > n) SwitcherPosition = n;
  if (FrameCamera > n) FrameCamera = n;
}

bool FrameIntake::TakeFrame(const TPicture& frame) {
  const bool recording = IsRecording && IsRecording();
  if (!ReadyForFrame && recording) return false;
  const int count = app_.cameras.CameraCount();
  if (count <= 0) return false;
  if (count >= 2 && app_.form.UseSwitcher.Checked() &&
      app_.services().clock.Now() - LastSwitchTime <=
          app_.form.SwitchDelay.Value() * (kOneSecond / 1000.0))
    return false;  // the card is still settling on the new camera's signal
  if (SwitcherPosition < 1 || SwitcherPosition > count) SwitcherPosition = 1;
  FrameCamera = SwitcherPosition;
  TCamera* cam = app_.cameras.GetAs<TCamera>(FrameCamera);
  if (!cam) return false;
  cam->CurrentPicture = frame;
  ++taken_;
  // A frame of another size (another device or source, a new format) is
  // the capture's size from now on: the views take its shape.
  if (!frame.Empty() &&
      (frame.Width() != app_.CaptureWidth || frame.Height() != app_.CaptureHeight)) {
    app_.CaptureWidth = frame.Width();
    app_.CaptureHeight = frame.Height();
    if (OnFrameSizeChanged) OnFrameSizeChanged();
  }
  if (app_.frame.ActivePage() != &app_.form.TabSheet2) cam->Repaint();
  FramePending = true;
  ReadyForFrame = false;
  if (count >= 2) {
    SwitcherPosition = SwitcherPosition % count + 1;
    if (app_.form.UseSwitcher.Checked() && SwitchCamera) SwitchCamera(SwitcherPosition);
    if (Follower) Follower->SelectSwitcherInput(SwitcherPosition);
    LastSwitchTime = app_.services().clock.Now();
  } else if (Follower) {
    Follower->SelectSwitcherInput(1);
  }
  return true;
}

void FrameIntake::VideoVideoFrameBmp(TDateTime /*stamp*/, const TPicture& frame) {
  try {
    TakeFrame(frame);
  } catch (const std::exception& e) {
    app_.journal.ReportError(e.what(), 31, 1);
  }
  // With the network link every frame notification sends a picture.
  if (app_.form.ClientCommType.ItemIndex() == 2) app_.form.Button1.Click();
}

}  // namespace zv
