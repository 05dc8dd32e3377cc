#include "video/VideoInput.h"

#include <algorithm>
#include <exception>

#include "app/Application.h"

namespace zv {

VideoInput::VideoInput(Application& a)
    : app(a),
      Video(a.services(), a.journal),
      Intake(a),
      capture_(std::make_unique<V4l2Capture>()),
      emulator_(a.services().clock) {
  Intake.Follower = &emulator_;
  Intake.IsRecording = [this] { return Recording(); };
  Intake.OnFrameSizeChanged = [this] { ViewPanelResize(); };
  Video.OnVideoFrameBmp = [this](TDateTime stamp, const TPicture& frame) {
    Intake.VideoVideoFrameBmp(stamp, frame);
  };
  Video.OnLiveFrame = [this](const TPicture& frame) { LiveFrame(frame); };
  ChooseDriver();

  app.cameras.SetFactory([this](int k) { return std::make_unique<TCamera>(k, *this); });

  TFormModel& f = app.form;
  f.LiveVideo.OnClick = [this] { LiveVideoClick(); };
  f.VideoDriver.OnChange = [this] { VideoDriverChange(); };
  f.VideoSourceBtn.OnClick = [this] { VideoSourceBtnClick(); };
  f.DisplayFormatBtn.OnClick = [this] { DisplayFormatBtnClick(); };
  f.VideoFormatBtn.OnClick = [this] { VideoFormatBtnClick(); };
  f.VideoEmulation.OnClick = [this] { VideoEmulationClick(); };
  f.VideoEmulationFile.OnChange = [this] {
    if (app.form.VideoEmulation.Checked()) VideoEmulationClick();
  };
  f.CamerasAmount.OnChange = [this] { CamerasAmountChange(); };
}

VideoInput::~VideoInput() {
  Video.SetDriver(nullptr);
  // The cameras save themselves into the settings, which outlive us.
  app.cameras.FreeAll();
  app.cameras.SetFactory([](int k) { return std::make_unique<TCameraInfo>(k); });
  TFormModel& f = app.form;
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
  return app.settings.SettingsLoaded && !app.settings.ServerMode;
}

bool VideoInput::PlaybackPageShown() const {
  return app.frame.ActivePage() == &app.form.TabSheet2;
}

void VideoInput::ChooseDriver() {
  if (app.form.VideoEmulation.Checked()) {
    emulator_.SetSourceFile(app.form.VideoEmulationFile.FileName());
    Video.SetDriver(&emulator_);
  } else {
    Video.SetDriver(capture_.get());
  }
}

void VideoInput::ConnectFromSettings(int mode) {
  try {
    // The emulated camera stands for a card of its own, with or without a
    // driver number.
    if (app.form.VideoEmulation.Checked())
      Video.Connect(mode, std::max(app.form.VideoDriver.Value() - 1, 0));
    else if (app.form.VideoDriver.Value() != 0)
      Video.Connect(mode, app.form.VideoDriver.Value() - 1);
  } catch (const std::exception&) {
  }
}

void VideoInput::StartClient() {
  app.CaptureWidth = Video.Width;
  app.CaptureHeight = Video.Height;
  ChooseDriver();
  ConnectFromSettings(2);
  LiveVideoClick();
  CamerasAmountChange();
}

void VideoInput::Shutdown() {
  Video.Disconnect();
}

void VideoInput::LiveVideoClick() {
  const bool live = app.form.LiveVideo.Checked();
  Video.SetOverlay(live);
  Video.SetPreview(!Video.Overlay());
  app.form.Video.SetVisible(live);
  app.form.LiveVideoPanel.SetVisible(live);
  app.form.ViewPanel.SetVisible(!live);
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
    app.services().dialogs.MessageBox(kNotOpenText, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
}

void VideoInput::DisplayFormatBtnClick() {
  if (Video.Connected())
    Video.DisplayDialog();
  else
    app.services().dialogs.MessageBox(kNotOpenText, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
}

void VideoInput::VideoFormatBtnClick() {
  if (Recording()) {
    app.services().dialogs.MessageBox(kStopRecordingText, "Zorvenix", MsgButtons::Ok,
                                      MsgIcon::Warning);
    return;
  }
  if (!Video.Connected()) {
    app.services().dialogs.MessageBox(kNotOpenText, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
    return;
  }
  Video.FormatDialog();
  const bool overlay = Video.Overlay();
  const int bits = Video.Format().bitsPerPixel;
  Video.Disconnect();
  try {
    Video.Connect(bits == 16 ? 1 : 2, app.form.VideoEmulation.Checked()
                                          ? std::max(app.form.VideoDriver.Value() - 1, 0)
                                          : app.form.VideoDriver.Value() - 1);
  } catch (const std::exception&) {
  }
  Video.SetOverlay(overlay);
  Video.SetPreview(!Video.Overlay());
  app.CaptureWidth = Video.Width;
  app.CaptureHeight = Video.Height;
  ViewPanelResize();
}

void VideoInput::CamerasAmountChange() {
  if (!Loaded()) return;
  const int n = app.form.CamerasAmount.Value();
  TCheckListBox& list = app.form.CamViewListBox;
  try {
    while (app.cameras.CameraCount() > n) {
      TCameraInfo* cam = app.cameras.Get(app.cameras.CameraCount());
      const int item = list.IndexOfObject(cam);
      app.cameras.FreeLast();
      if (item >= 0) list.Delete(item);
    }
    while (app.cameras.CameraCount() < n) {
      TCameraInfo& cam = app.cameras.CreateNext();
      list.Add(cam.Description, cam.Visible(), &cam);
    }
  } catch (const std::exception& e) {
    app.journal.ReportError(e.what(), 1, 1);
  }
  Intake.LimitToCameraCount(app.cameras.CameraCount());
  CameraCountChanged(app.cameras.CameraCount());
  ViewPanelResize();
}

void VideoInput::SetViewPanelSize(int width, int height) {
  panelW_ = width;
  panelH_ = height;
  ViewPanelResize();
}

TCamera* VideoInput::Camera(int k) const {
  return app.cameras.GetAs<TCamera>(k);
}

void VideoInput::ViewPanelResize() {
  try {
    const int count = app.cameras.CameraCount();
    std::vector<TileSlot> slots(static_cast<std::size_t>(count));
    for (int k = 1; k <= count; ++k) {
      const TCameraInfo* info = app.cameras.Get(k);
      const TCamera* cam = Camera(k);
      slots[static_cast<std::size_t>(k - 1)] =
          TileSlot{info != nullptr, info && info->Visible(), cam && cam->Expanded};
    }
    const TileResult r = TileViews(panelW_, panelH_, app.CaptureWidth, app.CaptureHeight, slots);
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
    app.journal.ReportError(e.what(), 7, 1);
  }
  LayoutChanged();
}

}  // namespace zv
