#pragma once
// The video-input subsystem of the window: the capture control with its
// drivers (V4L2 devices and the emulated camera), the frame intake, the
// site's cameras and the tiling of their views, with the handlers of the
// "Видео" page.
#include <functional>
#include <memory>

#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/MainFrame.h"
#include "app/Settings.h"
#include "platform/Capture.h"
#include "platform/Services.h"
#include "platform/Signal.h"
#include "video/Camera.h"
#include "video/FrameIntake.h"
#include "video/Video.h"

namespace zv {

class VideoInput final : public ICameraHost {
 public:
  static constexpr const char* kNotOpenText =
      "Видеопоток не открыт, возможно отсутствует карта либо драйвер \"видеозахвата\" !";
  static constexpr const char* kStopRecordingText =
      "Для изменения формата видео необходимо остановить запись !";

  // capture: the capture card's driver; emulator: the card without
  // hardware, used while "Эмулировать видео" is ticked.  Makes the site's
  // cameras in cameras from now on.
  VideoInput(Services& services, Journal& journal, TFormModel& form, Settings& settings,
             MainFrame& frame, CameraTable& cameras, std::unique_ptr<ICaptureDriver> capture,
             std::unique_ptr<IEmulatedCapture> emulator);
  ~VideoInput() override;
  VideoInput(const VideoInput&) = delete;
  VideoInput& operator=(const VideoInput&) = delete;

  TVideo Video;
  FrameIntake Intake;

  // Replaces the capture card's driver (tests hand in their own).
  void SetCaptureDriver(std::unique_ptr<ICaptureDriver> driver);
  ICaptureDriver& CaptureDriver() { return *capture_; }
  IEmulatedCapture& Emulator() { return *emulator_; }
  // The driver the capture control uses now.
  ICaptureDriver* ActiveDriver() const { return Video.Driver(); }

  // Whether pictures are being recorded (the recording page says).
  std::function<bool()> IsRecording;

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
  TCamera* Camera(int k) const;
  // The emulated camera is replaying pictures from a file (the viewer then
  // spreads played records over the cameras, so one file feeds several views).
  bool ReplayingFile() const {
    return !emulator_->SourceFile().empty() && ActiveDriver() == emulator_.get();
  }

  // --- what the cameras ask
  int CaptureWidth() const override { return Intake.CaptureWidth; }
  int CaptureHeight() const override { return Intake.CaptureHeight; }
  bool PlaybackPageShown() const override;
  bool ShowDifference() const override { return form_.ViewDiffCadr.Checked(); }
  bool Recording() const override { return IsRecording && IsRecording(); }
  void ViewPanelResize() override;

  Signal<> LayoutChanged;             // views moved, shown or hidden
  Signal<const TPicture&> LiveFrame;  // picture for the live panel
  Signal<int> CameraCountChanged;     // the site's camera count changed

 private:
  bool Loaded() const;
  void ChooseDriver();
  void ConnectFromSettings(int mode);

  Services& s_;
  Journal& journal_;
  TFormModel& form_;
  Settings& settings_;
  MainFrame& frame_;
  CameraTable& cameras_;
  std::unique_ptr<ICaptureDriver> capture_;
  std::unique_ptr<IEmulatedCapture> emulator_;
  CameraContext cameraContext_;
  int panelW_ = 0, panelH_ = 0;
};

}  // namespace zv
