#include "video/FrameIntake.h"

#include <exception>

#include "video/Camera.h"

namespace zv {

FrameIntake::FrameIntake(IClock& clock, Journal& journal, const TFormModel& form,
                         const MainFrame& frame, CameraTable& cameras)
    : clock_(clock), journal_(journal), form_(form), frame_(frame), cameras_(cameras) {}

void FrameIntake::LimitToCameraCount(int n) {
  if (n < 1) n = 1;
  if (SwitcherPosition > n) SwitcherPosition = n;
  if (FrameCamera > n) FrameCamera = n;
}

bool FrameIntake::TakeFrame(const TPicture& frame) {
  const bool recording = IsRecording && IsRecording();
  if (!ReadyForFrame && recording) return false;
  const int count = cameras_.CameraCount();
  if (count <= 0) return false;
  if (count >= 2 && form_.UseSwitcher.Checked() &&
      clock_.Now() - LastSwitchTime <= form_.SwitchDelay.Value() * (kOneSecond / 1000.0))
    return false;  // the card is still settling on the new camera's signal
  if (SwitcherPosition < 1 || SwitcherPosition > count) SwitcherPosition = 1;
  FrameCamera = SwitcherPosition;
  TCamera* cam = cameras_.GetAs<TCamera>(FrameCamera);
  if (!cam) return false;
  cam->CurrentPicture = frame;
  ++taken_;
  // A frame of another size (another device or source, a new format) is
  // the capture's size from now on: the views take its shape.
  if (!frame.Empty() && (frame.Width() != CaptureWidth || frame.Height() != CaptureHeight)) {
    CaptureWidth = frame.Width();
    CaptureHeight = frame.Height();
    if (OnFrameSizeChanged) OnFrameSizeChanged();
  }
  if (frame_.ActivePage() != &form_.TabSheet2) cam->Repaint();
  FramePending = true;
  ReadyForFrame = false;
  if (count >= 2) {
    SwitcherPosition = SwitcherPosition % count + 1;
    if (form_.UseSwitcher.Checked() && SwitchCamera) SwitchCamera(SwitcherPosition);
    if (Follower) Follower->SelectSwitcherInput(SwitcherPosition);
    LastSwitchTime = clock_.Now();
  } else if (Follower) {
    Follower->SelectSwitcherInput(1);
  }
  return true;
}

void FrameIntake::VideoVideoFrameBmp(TDateTime /*stamp*/, const TPicture& frame) {
  try {
    TakeFrame(frame);
  } catch (const std::exception& e) {
    journal_.ReportError(e.what(), jcFrameIntake, 1);
  }
  // The link follows every frame notification with its picture sender.
}

}  // namespace zv
