#pragma once
// The frame intake of the frame cycle: every captured frame is credited to
// the camera the switcher is showing, copied into that camera's current
// picture and shown, and the switcher is stepped on to the next camera.
// The switcher goes round the cameras that are its inputs only; a camera
// with its own network source hands its pictures in directly, with no step
// and no settle time.
// The processing tick (detection, recording) takes the pending frame from
// here and sets ReadyForFrame when it is done with it.
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

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
  // A picture of camera k's own source, of the capture size (one of another
  // size was made before a size change and is dropped).  It is shown at
  // once; while the processing tick is busy with another frame the camera
  // waits its turn, and its newest picture is taken when the turn comes.
  void CameraFrameBmp(int k, TDateTime stamp, const TPicture& frame);
  // The processing tick is done with the pending frame.  While recording,
  // the sources take turns for the tick: the network cameras that found it
  // busy, in the order they came, and the capture card (its next frame)
  // among them, so that no camera starves another.
  void ReadyForNext();
  // How long the card's turn waits for its next frame before a network
  // camera may take it.
  static constexpr std::uint64_t kCardTurnMs = 500;
  // Positions held here are limited to a new camera count.
  void LimitToCameraCount(int n);

  long long FramesTaken() const { return taken_; }

 private:
  bool TakeFrame(const TPicture& frame);
  bool Claim(int k);
  std::vector<int> SwitcherInputs() const;
  // Who waits for the processing tick: cameras with their own source (their
  // newest picture is taken) and kCard, the capture card.
  static constexpr int kCard = 0;
  std::deque<int> waiting_;
  std::uint64_t readySince_ = 0;
  IClock& clock_;
  Journal& journal_;
  const TFormModel& form_;
  const MainFrame& frame_;
  CameraTable& cameras_;

  long long taken_ = 0;
};

}  // namespace zv
