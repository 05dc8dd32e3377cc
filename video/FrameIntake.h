#pragma once
// The frame intake of the frame cycle: every captured frame is credited to
// the camera the switcher is showing, copied into that camera's current
// picture and shown, and the switcher is stepped on to the next camera.
// The processing tick (detection, recording) takes the pending frame from
// here and sets ReadyForFrame when it is done with it.
#include <functional>

#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/MainFrame.h"
#include "app/Picture.h"
#include "platform/Capture.h"
#include "platform/Clock.h"

namespace zv {

class FrameIntake {
 public:
  // The switcher's settle time comes from form (UseSwitcher, SwitchDelay);
  // frame tells whether the playback page is shown (no repaint then).
  FrameIntake(IClock& clock, Journal& journal, const TFormModel& form, const MainFrame& frame,
              CameraTable& cameras);

  // The size of the captured pictures; a frame of another size sets it.
  int CaptureWidth = 352, CaptureHeight = 288;

  // --- frame-cycle state
  int SwitcherPosition = 1;
  int FrameCamera = 1;
  TDateTime LastSwitchTime = 0;
  bool FramePending = false;
  bool ReadyForFrame = false;

  // Whether recording is on (the recorder sets this).
  std::function<bool()> IsRecording;
  // Steps the real switcher to camera n (the switcher port sets this).
  std::function<void(int)> SwitchCamera;
  // The captured pictures changed their size (the views are tiled again).
  std::function<void()> OnFrameSizeChanged;
  // A source that follows the switcher position (the emulated camera).
  ISwitchedSource* Follower = nullptr;

  // The capture control's frame notification.
  void VideoVideoFrameBmp(TDateTime stamp, const TPicture& frame);
  // Positions held here are limited to a new camera count.
  void LimitToCameraCount(int n);

  long long FramesTaken() const { return taken_; }

 private:
  bool TakeFrame(const TPicture& frame);
  IClock& clock_;
  Journal& journal_;
  const TFormModel& form_;
  const MainFrame& frame_;
  CameraTable& cameras_;

  long long taken_ = 0;
};

}  // namespace zv
