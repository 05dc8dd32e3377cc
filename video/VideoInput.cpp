#include "video/VideoInput.h"

#include <algorithm>
#include <exception>

namespace zv {

VideoInput::VideoInput(Services& services, Journal& journal, TFormModel& form, Settings& settings,
                       MainFrame& frame, CameraTable& cameras,
                       std::unique_ptr<ICaptureDriver> capture,
                       std::unique_ptr<IEmulatedCapture> emulator)
    : Video(services, journal),
      Intake(services.clock, journal, form, frame, cameras),
      s_(services),
      journal_(journal),
      form_(form),
      settings_(settings),
      frame_(frame),
      cameras_(cameras),
      capture_(std::move(capture)),
      emulator_(std::move(emulator)),
      cameraContext_{settings, journal, services.dialogs, form.CamViewListBox, *this} {
  Intake.Follower = emulator_.get();
  Intake.IsRecording = [this] { return Recording(); };
  Intake.OnFrameSizeChanged = [this] { ViewPanelResize(); };
  Video.OnVideoFrameBmp = [this](TDateTime stamp, const TPicture& frame) {
    Intake.VideoVideoFrameBmp(stamp, frame);
  };
  Video.OnLiveFrame = [this](const TPicture& frame) { LiveFrame(frame); };
  ChooseDriver();

  cameras_.SetFactory([this](int k) { return std::make_unique<TCamera>(k, cameraContext_); });

  TFormModel& f = form_;
  f.LiveVideo.OnClick = [this] { LiveVideoClick(); };
  f.VideoDriver.OnChange = [this] { VideoDriverChange(); };
  f.VideoSourceBtn.OnClick = [this] { VideoSourceBtnClick(); };
  f.DisplayFormatBtn.OnClick = [this] { DisplayFormatBtnClick(); };
  f.VideoFormatBtn.OnClick = [this] { VideoFormatBtnClick(); };
  f.VideoEmulation.OnClick = [this] { VideoEmulationClick(); };
  f.VideoEmulationFile.OnChange = [this] {
    if (form_.VideoEmulation.Checked()) VideoEmulationClick();
  };
  f.CamerasAmount.OnChange = [this] { CamerasAmountChange(); };
}

VideoInput::~VideoInput() {
  Video.SetDriver(nullptr);
  // The cameras save themselves into the settings, which outlive us.
  cameras_.FreeAll();
  cameras_.SetFactory([](int k) { return std::make_unique<TCameraInfo>(k); });
  TFormModel& f = form_;
  f.LiveVideo.OnClick = nullptr;
  f.VideoDriver.OnChange = nullptr;
  f.VideoSourceBtn.OnClick = nullptr;
  f.DisplayFormatBtn.OnClick = nullptr;
  f.VideoFormatBtn.OnClick = nullptr;
  f.VideoEmulation.OnClick = nullptr;
  f.VideoEmulationFile.OnChange = nullptr;
  f.CamerasAmount.OnChange = nullptr;
}

void VideoInput::SetCaptureDriver(std::unique_ptr<ICaptureDriver> driver) {
  if (Video.Driver() == capture_.get()) Video.SetDriver(nullptr);
  capture_ = std::move(driver);
  ChooseDriver();
}

// The station never connects a capture device.
bool VideoInput::Loaded() const {
  return settings_.SettingsLoaded && !settings_.ServerMode;
}

bool VideoInput::PlaybackPageShown() const {
  return frame_.ActivePage() == &form_.TabSheet2;
}

void VideoInput::ChooseDriver() {
  if (form_.VideoEmulation.Checked()) {
    emulator_->SetSourceFile(form_.VideoEmulationFile.FileName());
    Video.SetDriver(emulator_.get());
  } else {
    Video.SetDriver(capture_.get());
  }
}

void VideoInput::ConnectFromSettings(int mode) {
  try {
    // The emulated camera stands for a card of its own, with or without a
    // driver number.
    if (form_.VideoEmulation.Checked())
      Video.Connect(mode, std::max(form_.VideoDriver.Value() - 1, 0));
    else if (form_.VideoDriver.Value() != 0)
      Video.Connect(mode, form_.VideoDriver.Value() - 1);
  } catch (const std::exception&) {
  }
}

void VideoInput::StartClient() {
  Intake.CaptureWidth = Video.Width;
  Intake.CaptureHeight = Video.Height;
  ChooseDriver();
  ConnectFromSettings(2);
  LiveVideoClick();
  CamerasAmountChange();
}

void VideoInput::Shutdown() {
  Video.Disconnect();
}

void VideoInput::LiveVideoClick() {
  const bool live = form_.LiveVideo.Checked();
  Video.SetOverlay(live);
  Video.SetPreview(!Video.Overlay());
  form_.Video.SetVisible(live);
  form_.LiveVideoPanel.SetVisible(live);
  form_.ViewPanel.SetVisible(!live);
  LayoutChanged();
}

void VideoInput::VideoDriverChange() {
  if (!Loaded()) return;
  Video.Disconnect();
  ChooseDriver();
  ConnectFromSettings(2);
}

void VideoInput::VideoEmulationClick() {
  if (!Loaded()) return;
  Video.Disconnect();
  ChooseDriver();
  ConnectFromSettings(2);
  LiveVideoClick();
}

void VideoInput::VideoSourceBtnClick() {
  if (Video.Connected())
    Video.SourceDialog();
  else
    s_.dialogs.MessageBox(kNotOpenText, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
}

void VideoInput::DisplayFormatBtnClick() {
  if (Video.Connected())
    Video.DisplayDialog();
  else
    s_.dialogs.MessageBox(kNotOpenText, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
}

void VideoInput::VideoFormatBtnClick() {
  if (Recording()) {
    s_.dialogs.MessageBox(kStopRecordingText, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
    return;
  }
  if (!Video.Connected()) {
    s_.dialogs.MessageBox(kNotOpenText, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
    return;
  }
  Video.FormatDialog();
  const bool overlay = Video.Overlay();
  const int bits = Video.Format().bitsPerPixel;
  Video.Disconnect();
  try {
    Video.Connect(bits == 16 ? 1 : 2, form_.VideoEmulation.Checked()
                                          ? std::max(form_.VideoDriver.Value() - 1, 0)
                                          : form_.VideoDriver.Value() - 1);
  } catch (const std::exception&) {
  }
  Video.SetOverlay(overlay);
  Video.SetPreview(!Video.Overlay());
  Intake.CaptureWidth = Video.Width;
  Intake.CaptureHeight = Video.Height;
  ViewPanelResize();
}

void VideoInput::CamerasAmountChange() {
  if (!Loaded()) return;
  const int n = form_.CamerasAmount.Value();
  TCheckListBox& list = form_.CamViewListBox;
  try {
    while (cameras_.CameraCount() > n) {
      TCameraInfo* cam = cameras_.Get(cameras_.CameraCount());
      const int item = list.IndexOfObject(cam);
      cameras_.FreeLast();
      if (item >= 0) list.Delete(item);
    }
    while (cameras_.CameraCount() < n) {
      TCameraInfo& cam = cameras_.CreateNext();
      list.Add(cam.Description, cam.Visible(), &cam);
    }
  } catch (const std::exception& e) {
    journal_.ReportError(e.what(), jcCaughtFailure, 1);
  }
  Intake.LimitToCameraCount(cameras_.CameraCount());
  CameraCountChanged(cameras_.CameraCount());
  ViewPanelResize();
}

void VideoInput::SetViewPanelSize(int width, int height) {
  panelW_ = width;
  panelH_ = height;
  ViewPanelResize();
}

TCamera* VideoInput::Camera(int k) const {
  return cameras_.GetAs<TCamera>(k);
}

void VideoInput::ViewPanelResize() {
  try {
    const int count = cameras_.CameraCount();
    std::vector<TileSlot> slots(static_cast<std::size_t>(count));
    for (int k = 1; k <= count; ++k) {
      const TCameraInfo* info = cameras_.Get(k);
      const TCamera* cam = Camera(k);
      slots[static_cast<std::size_t>(k - 1)] =
          TileSlot{info != nullptr, info && info->Visible(), cam && cam->Expanded};
    }
    const TileResult r =
        TileViews(panelW_, panelH_, Intake.CaptureWidth, Intake.CaptureHeight, slots);
    for (int k = 1; k <= count && !r.placement.empty(); ++k) {
      TCamera* cam = Camera(k);
      if (!cam) continue;
      switch (r.placement[static_cast<std::size_t>(k - 1)]) {
        case TileResult::Placement::Placed:
          cam->View = r.rect[static_cast<std::size_t>(k - 1)];
          cam->UpdateZoneGeometry();
          break;
        case TileResult::Placement::Hidden:
          cam->View.top = r.hiddenTop;
          break;
        case TileResult::Placement::Unchanged:
          break;
      }
    }
  } catch (const std::exception& e) {
    journal_.ReportError(e.what(), jcTileViews, 1);
  }
  LayoutChanged();
}

}  // namespace zv
