#pragma once
// The recording page ("Запись") and the frame cycle's processing tick: the
// record button and the recording pair, the per-camera detection settings
// edited through the panel, the live change bar, the filter threshold and
// the switcher's port.  The pure work (comparison, recording decision,
// writing) is FrameRecorder's; this object finds the camera, keeps the
// controls, journals and drives the viewer's live follow.
#include <cstdint>
#include <memory>
#include <string>

#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/MainFrame.h"
#include "app/Settings.h"
#include "app/SiteStatus.h"
#include "detect/ChangeBar.h"
#include "detect/FrameRecorder.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "detect/Switcher.h"
#include "platform/Services.h"
#include "platform/Signal.h"
#include "platform/SwitcherLines.h"
#include "platform/Timer.h"
#include "video/FrameIntake.h"

namespace zv {

class TCamera;

class RecordPanel {
 public:
  static constexpr const char* kStopToChangeText =
      "Для смены файла записи необходимо остановить запись !";
  static constexpr int kBarWidth = 17, kBarHeight = 110;

  // status: the site's status every descriptor stores; timer1 runs the
  // processing tick; switcherLines: the video switcher's control lines.
  RecordPanel(Services& services, Journal& journal, TFormModel& form, const MainFrame& frame,
              Settings& settings, CameraTable& cameras, FrameIntake& intake,
              const SiteStatus& status, TTimer& timer1,
              std::unique_ptr<ISwitcherLines> switcherLines);
  ~RecordPanel();
  RecordPanel(const RecordPanel&) = delete;
  RecordPanel& operator=(const RecordPanel&) = delete;

  // One compressor and one decompressor for the whole run (the viewer
  // decodes with it too).
  JpegCodec Codec;
  RecordingPair Pair;
  bool RecordingOn = false;
  std::uint8_t FilterThreshold = 32;
  // The change bar of camera WriteCam, for ui/ to paint.
  ChangeBarGeometry Bar;
  Signal<> BarChanged;
  // Pictures written since start-up (the demo prints it).
  long long RecordsWritten = 0;

  // What the viewer follows: the pair recorded into (chosen or switched
  // to), each record written, and the cameras' thresholds.
  Signal<const std::string&> PairChosen;
  Signal<const std::string&, std::int32_t> RecordWritten;
  Signal<> ThresholdsChanged;

  bool FilesOpen() const { return Pair.IsOpen(); }
  // The processing tick works only now.
  bool Recording() const { return FilesOpen() && RecordingOn; }

  // Replaces the switcher's control lines (tests hand in their own).
  void SetSwitcherLines(std::unique_ptr<ISwitcherLines> lines);
  SwitcherPort& Switcher() { return *switcher_; }
  // Steps the video switcher to camera n, journaling a port lost or back.
  void SwitchCamera(int n) { Report(switcher_->SwitchCamera(n)); }

  // --- handlers
  // Timer1: the processing tick.
  void Timer1Timer() { ProcessPendingFrame(); }
  // The pending frame is compared, measured and perhaps recorded.
  void ProcessPendingFrame();
  void RecordBtnClick();
  void RecFileNameChange();
  void RecFreqChange();
  void WriteCamChange();
  void RecordingOnClick();
  void ReactionOnClick();
  void ChangeLimitChange();
  void EventLimitChange();
  void FilterDeepChange();
  void SwitcherComPortChange();

  void DrawChangeBar();
  // Shutdown: the files are closed (Timer1 is already stopped).
  void CloseFiles();

 private:
  // Journals what the switcher's port has to say.
  void Report(const SwitcherMessage& m);
  TCamera* WriteCamera() const;
  bool PlaybackPageShown() const;
  // A relative pair name lies in the program's data folder.
  std::string InDataDir(const std::string& name) const;
  void StopRecording();
  void HandleWrite(const AppendResult& w);
  void SetRecordingState(bool on);
  // Recording stopped: the cameras' measurements are over.
  void ForgetMotion();

  FrameRecorder recorder_;
  std::unique_ptr<SwitcherPort> switcher_;
  Services& s_;
  Journal& journal_;
  TFormModel& form_;
  const MainFrame& frame_;
  Settings& settings_;
  CameraTable& cameras_;
  FrameIntake& intake_;
  const SiteStatus& status_;
  TTimer& timer1_;
  bool renaming_ = false;
  // The pair's ".dsc" name until one is chosen.
  std::string recName_ = "Video.dsc";
};

}  // namespace zv
