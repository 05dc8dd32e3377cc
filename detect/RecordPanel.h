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

#include "detect/ChangeBar.h"
#include "detect/FrameRecorder.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "detect/Switcher.h"
#include "platform/Signal.h"

namespace zv {

class Application;
class TCamera;

class RecordPanel {
 public:
  static constexpr const char* kStopToChangeText =
      "Для смены файла записи необходимо остановить запись !";
  // Journal code of the recording files' errors.
  static constexpr int kFileErrorCode = 32;
  static constexpr int kBarWidth = 17, kBarHeight = 110;

  explicit RecordPanel(Application& app);
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

  bool FilesOpen() const { return Pair.IsOpen(); }
  // The processing tick works only now.
  bool Recording() const { return FilesOpen() && RecordingOn; }

  // Replaces the switcher's control lines (tests hand in their own).
  void SetSwitcherLines(std::unique_ptr<ISwitcherLines> lines);
  SwitcherPort& Switcher() { return *switcher_; }

  // --- handlers
  void Timer1Timer();
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
  // A relative pair name lies in the program's data folder.
  std::string InDataDir(const std::string& name) const;
  void StopRecording();
  void HandleWrite(const AppendResult& w);
  void SetRecordingState(bool on);
  // Recording stopped: the cameras' measurements are over.
  void ForgetMotion();

  Application& app_;
  FrameRecorder recorder_;
  std::unique_ptr<SwitcherPort> switcher_;
  bool renaming_ = false;
  // The pair's ".dsc" name until one is chosen.
  std::string recName_ = "Video.dsc";
};

}  // namespace zv
