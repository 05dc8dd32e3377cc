#pragma once
// The frame intake of the frame cycle: every captured frame is credited to
// the camera the switcher is showing, copied into that camera's current
// picture and shown, and the switcher is stepped on to the next camera.
// The processing tick (detection, recording) takes the pending frame from
// here and sets ReadyForFrame when it is done with it.
#include <functional>

#include "platform/Capture.h"
#include "platform/Clock.h"
#include "video/Picture.h"

namespace zv {

class Application;

class FrameIntake {
 public:
  explicit FrameIntake(Application& app);

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
  Application& app_;
  long long taken_ = 0;
};

}  // namespace zv
