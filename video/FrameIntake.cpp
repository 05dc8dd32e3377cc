#include "video/FrameIntake.h"

#include <algorithm>
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
  std::erase_if(waiting_, [n](int k) { return k > n; });
}

std::vector<int> FrameIntake::SwitcherInputs() const {
  std::vector<int> out;
  for (int k = 1; k <= cameras_.CameraCount(); ++k) {
    const TCamera* cam = cameras_.GetAs<TCamera>(k);
    if (cam && !cam->UsesNetwork()) out.push_back(k);
  }
  return out;
}

bool FrameIntake::TakeFrame(const TPicture& frame) {
  const bool recording = IsRecording && IsRecording();
  if (!ReadyForFrame && recording) {
    if (std::find(waiting_.begin(), waiting_.end(), kCard) == waiting_.end())
      waiting_.push_back(kCard);
    return false;
  }
  const std::vector<int> inputs = SwitcherInputs();
  // Without switcher inputs (network cameras only) the card's frames
  // belong to no camera.
  if (inputs.empty()) return false;
  const int count = static_cast<int>(inputs.size());
  if (count >= 2 && form_.UseSwitcher.Checked() &&
      clock_.Now() - LastSwitchTime <= form_.SwitchDelay.Value() * (kOneSecond / 1000.0))
    return false;  // the card is still settling on the new camera's signal
  auto at = std::find(inputs.begin(), inputs.end(), SwitcherPosition);
  if (at == inputs.end()) {
    at = inputs.begin();
    SwitcherPosition = *at;
  }
  TCamera* cam = cameras_.GetAs<TCamera>(SwitcherPosition);
  if (!cam) return false;
  std::erase(waiting_, kCard);
  FrameCamera = SwitcherPosition;
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
    // On to the next input; a camera keeps its number on the switcher.
    SwitcherPosition = (++at == inputs.end()) ? inputs.front() : *at;
    if (form_.UseSwitcher.Checked() && SwitchCamera) SwitchCamera(SwitcherPosition);
    if (Follower) Follower->SelectSwitcherInput(SwitcherPosition);
    LastSwitchTime = clock_.Now();
  } else if (Follower) {
    Follower->SelectSwitcherInput(SwitcherPosition);
  }
  return true;
}

bool FrameIntake::Claim(int k) {
  const bool recording = IsRecording && IsRecording();
  if (!recording) {
    waiting_.clear();
  } else {
    const bool queued = std::find(waiting_.begin(), waiting_.end(), k) != waiting_.end();
    // The card's turn: its next frame is awaited for a while.
    const bool cardsTurn = !waiting_.empty() && waiting_.front() == kCard &&
                           clock_.TickMs() - readySince_ < kCardTurnMs;
    if (!ReadyForFrame || cardsTurn) {
      if (!queued) waiting_.push_back(k);
      return false;
    }
    // The card let its turn pass: it goes to the back.
    if (!waiting_.empty() && waiting_.front() == kCard) {
      waiting_.pop_front();
      waiting_.push_back(kCard);
    }
    std::erase(waiting_, k);
  }
  FrameCamera = k;
  FramePending = true;
  ReadyForFrame = false;
  return true;
}

void FrameIntake::ReadyForNext() {
  ReadyForFrame = true;
  readySince_ = clock_.TickMs();
  if (!(IsRecording && IsRecording())) return;
  while (!waiting_.empty() && waiting_.front() != kCard) {
    const int k = waiting_.front();
    waiting_.pop_front();
    const TCamera* cam = cameras_.GetAs<TCamera>(k);
    if (cam && cam->UsesNetwork() && !cam->CurrentPicture.Empty()) {
      // Its newest picture is already the camera's current one.
      FrameCamera = k;
      FramePending = true;
      ReadyForFrame = false;
      return;
    }
  }
}

void FrameIntake::CameraFrameBmp(int k, TDateTime /*stamp*/, const TPicture& frame) {
  try {
    TCamera* cam = cameras_.GetAs<TCamera>(k);
    if (!cam || !cam->UsesNetwork() || frame.Empty()) return;
    if (frame.Width() != CaptureWidth || frame.Height() != CaptureHeight) return;
    cam->CurrentPicture = frame;
    ++taken_;
    if (frame_.ActivePage() != &form_.TabSheet2) cam->Repaint();
    Claim(k);
  } catch (const std::exception& e) {
    journal_.ReportError(e.what(), jcFrameIntake, 1);
  }
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
