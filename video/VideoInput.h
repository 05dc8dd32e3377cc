#pragma once
// The video-input subsystem of the window: the capture control with its
// drivers (V4L2 devices and the emulated camera), the frame intake, the
// site's cameras and the tiling of their views, with the handlers of the
// "Видео" page.
#include <functional>
#include <memory>

#include "platform/Capture.h"
#include "platform/Signal.h"
#include "platform/V4l2Capture.h"
#include "video/Camera.h"
#include "video/EmulatedCamera.h"
#include "video/FrameIntake.h"
#include "video/Video.h"

namespace zv {

class Application;

class VideoInput {
 public:
  static constexpr const char* kNotOpenText =
      "Видеопоток не открыт, возможно отсутствует карта либо драйвер \"видеозахвата\" !";
  static constexpr const char* kStopRecordingText =
      "Для изменения формата видео необходимо остановить запись !";

  explicit VideoInput(Application& app);
  ~VideoInput();
  VideoInput(const VideoInput&) = delete;
  VideoInput& operator=(const VideoInput&) = delete;

  Application& app;
  TVideo Video;
  FrameIntake Intake;

  // Replaces the V4L2 driver (tests hand in their own).
  void SetCaptureDriver(std::unique_ptr<ICaptureDriver> driver);
  ICaptureDriver& CaptureDriver() { return *capture_; }
  EmulatedCamera& Emulator() { return emulator_; }
  // The driver the capture control uses now.
  ICaptureDriver* ActiveDriver() const { return Video.Driver(); }

  // Hooks of other parts.
  std::function<bool()> IsRecording;     // recording is on
  std::function<bool()> ShowDifference;  // "Просмотр кадра разницы" is checked

  // --- start-up and shutdown steps
  void StartClient();  // the client-mode capture and camera steps of start-up
  void Shutdown();     // disconnects the capture control

  // --- handlers of the "Видео" page
  void LiveVideoClick();
  void VideoDriverChange();
  void VideoSourceBtnClick();
  void DisplayFormatBtnClick();
  void VideoFormatBtnClick();
  void VideoEmulationClick();
  void CamerasAmountChange();

  // --- the camera area
  void SetViewPanelSize(int width, int height);
  int ViewPanelWidth() const { return panelW_; }
  int ViewPanelHeight() const { return panelH_; }
  void ViewPanelResize();
  TCamera* Camera(int k) const;
  bool PlaybackPageShown() const;
  bool Recording() const { return IsRecording && IsRecording(); }
  // The emulated camera is replaying pictures from a file (the viewer then
  // spreads played records over the cameras, so one file feeds several views).
  bool ReplayingFile() const {
    return !emulator_.SourceFile().empty() && ActiveDriver() == &emulator_;
  }

  Signal<> LayoutChanged;             // views moved, shown or hidden
  Signal<const TPicture&> LiveFrame;  // picture for the live panel
  Signal<int> CameraCountChanged;     // the site's camera count changed

 private:
  bool Loaded() const;
  void ChooseDriver();
  void ConnectFromSettings(int mode);

  std::unique_ptr<ICaptureDriver> capture_;
  EmulatedCamera emulator_;
  int panelW_ = 0, panelH_ = 0;
};

}  // namespace zv
