#include "video/VideoInput.h"

#include <algorithm>
#include <exception>

namespace zv {

VideoInput::VideoInput(Services& services, Journal& journal, TFormModel& form, Settings& settings,
                       MainFrame& frame, CameraTable& cameras,
                       std::unique_ptr<ICaptureDriver> capture,
                       std::unique_ptr<IEmulatedCapture> emulator,
                       INetworkCameraFactory* netCameras)
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
      netCameras_(netCameras),
      cameraContext_{settings, journal, services.dialogs, form.CamViewListBox, *this} {
  Intake.Follower = emulator_.get();
  Intake.IsRecording = [this] { return Recording(); };
  Intake.OnFrameSizeChanged = [this] {
    ViewPanelResize();
    SyncNetworkSources();  // the network pictures take the new size
  };
  OnCameraFrame = [this](int k, TDateTime stamp, const TPicture& frame) {
    Intake.CameraFrameBmp(k, stamp, frame);
  };
  Video.OnVideoFrameBmp = [this](TDateTime stamp, const TPicture& frame) {
    Intake.VideoVideoFrameBmp(stamp, frame);
  };
  Video.OnLiveFrame = [this](const TPicture& frame) { LiveFrame(frame); };
  ChooseDriver();

  cameras_.SetFactory([this](int k) {
    auto cam = std::make_unique<TCamera>(k, cameraContext_);
    // A renamed camera's loss and return are journaled under its new name.
    cam->TextChanged.Connect([this, k] {
      if (TNetworkVideo* source = NetworkSource(k))
        if (const TCamera* c = Camera(k)) source->Description = c->Description;
    });
    return cam;
  });

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
  StopNetworkSources();
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
  netStarted_ = true;
  SyncNetworkSources();
}

void VideoInput::Shutdown() {
  netStarted_ = false;
  StopNetworkSources();
  Video.Disconnect();
}

void VideoInput::StopNetworkSources() {
  for (auto& [k, source] : net_) source->Stop();
  net_.clear();
}

TNetworkVideo* VideoInput::NetworkSource(int k) const {
  const auto it = net_.find(k);
  return it == net_.end() ? nullptr : it->second.get();
}

void VideoInput::SyncNetworkSources() {
  const int count = cameras_.CameraCount();
  // A password in the settings file: only its owner may read the file.
  for (int k = 1; k <= count; ++k)
    if (const TCamera* cam = Camera(k); cam && !cam->Net.password.empty())
      settings_.Ini().SetPrivate(true);
  if (!netCameras_) return;
  for (auto it = net_.begin(); it != net_.end();) {
    const TCamera* cam = Camera(it->first);
    if (!netStarted_ || it->first > count || !cam || !cam->UsesNetwork() || cam->Net.url.empty()) {
      it->second->Stop();
      it = net_.erase(it);
    } else {
      ++it;
    }
  }
  if (!netStarted_ || !Loaded()) return;
  for (int k = 1; k <= count; ++k) {
    TCamera* cam = Camera(k);
    if (!cam) continue;
    if (!cam->UsesNetwork() || cam->Net.url.empty()) continue;
    std::unique_ptr<TNetworkVideo>& source = net_[k];
    if (!source) {
      source = std::make_unique<TNetworkVideo>(*netCameras_, s_.dispatcher);
      source->OnVideoFrameBmp = [this, k](TDateTime stamp, const TPicture& picture) {
        if (OnCameraFrame) OnCameraFrame(k, stamp, picture);
      };
      // As the capture control journals its device's signal.
      source->OnSignalLost = [this](const std::string& text) {
        journal_.ShowStatus(text, jkError, 1);
      };
      source->OnSignalReturned = [this](const std::string& text) {
        journal_.ShowStatus(text, jkDevice, 1);
      };
    }
    source->Description = cam->Description;
    source->Configure(cam->Net, Intake.CaptureWidth, Intake.CaptureHeight);
    source->Start();
  }
}

void VideoInput::CameraSourceChanged(int k) {
  SyncNetworkSources();
  // The switcher's round changes with its inputs; a camera that left it
  // holds no stale position.
  Intake.LimitToCameraCount(cameras_.CameraCount());
  if (TCamera* cam = Camera(k)) {
    IniFile& ini = settings_.Ini();
    cam->SaveToIni(ini);
    if (!ini.Save())
      journal_.ReportError("Невозможно записать файл настроек \"" + ini.Path() + "\" !",
                           jcCameraSave, 1);
  }
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
  SyncNetworkSources();
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
  SyncNetworkSources();
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
