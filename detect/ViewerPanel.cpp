#include "detect/ViewerPanel.h"

#include <algorithm>
#include <filesystem>

#include "app/Utils.h"
#include "detect/TimeStamp.h"
#include "video/Camera.h"

namespace zv {

TColor SiteColor(int k) {
  // black, maroon, green, olive, navy, purple, teal, grey, silver, red, blue,
  // fuchsia (0xBBGGRR)
  static const TColor kColors[12] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                                     0x808000, 0x808080, 0xC0C0C0, 0x0000FF, 0xFF0000, 0xFF00FF};
  return kColors[((k % 12) + 12) % 12];
}

ViewerPanel::ViewerPanel(Journal& journal, TFormModel& form, Settings& settings,
                         CameraTable& cameras, TTimer& timer2, JpegCodec& codec,
                         std::vector<std::uint8_t>& readBuffer)
    : journal_(journal),
      form_(form),
      settings_(settings),
      cameras_(cameras),
      timer2_(timer2),
      loader_(codec, readBuffer) {
  TFormModel& f = form_;
  f.ViewFileName.Filter = "Файлы видеозаписей (*.dsc)|*.dsc|Все файлы (*.*)|*.*";
  f.BackwardButton.SetCaption("<<");
  f.PrevCadr.SetCaption("<");
  f.NextCadr.SetCaption(">");
  f.ForwardButton.SetCaption(">>");
  f.ViewCamsExpand.SetCaption("<");
  f.AllCams.SetCaption("Все камеры");
  f.PlaySound.SetCaption("Прослушать");
  f.StopSound.SetCaption("Стоп");
  f.MaxValueLabel.SetCaption("1");
  // Drawn in the sites' colours; a site makes it a plain list.
  f.CamViewListBox.OwnerDraw = true;

  f.ViewFileName.OnChange = [this] { ViewFileNameChange(); };
  f.ViewSlider.OnChange = [this] { ViewSliderChange(); };
  f.NextCadr.OnClick = [this] { NextCadrClick(); };
  f.PrevCadr.OnClick = [this] { PrevCadrClick(); };
  // Speed buttons stay down: a click toggles them.
  f.ForwardButton.OnClick = [this] {
    form_.ForwardButton.SetDown(!form_.ForwardButton.Down());
    ForwardButtonClick();
  };
  f.BackwardButton.OnClick = [this] {
    form_.BackwardButton.SetDown(!form_.BackwardButton.Down());
    BackwardButtonClick();
  };
  f.ViewFreq.OnChange = [this] { ViewFreqChange(); };
  f.AllCams.OnClick = [this] { AllCamsClick(); };
  f.CamViewListBox.OnClickCheck = [this](int i) { CamViewListBoxClickCheck(i); };
  f.CamViewListBox.OnClick = [this] { DrawChangeGraph(); };
  f.ObjViewListBox.OnClick = [this] { ObjViewListBoxClick(); };
  f.ObjViewListBox.OnClickCheck = [this](int i) { ObjViewListBoxClickCheck(i); };
  f.ViewCamsExpand.OnClick = [this] { ViewCamsExpandClick(); };
  f.PlaySound.OnClick = [this] { PlaySoundClick(); };
  f.StopSound.OnClick = [this] { StopSoundClick(); };
  f.SoundSlider.OnChange = [this] { SoundSliderChange(); };
  Session.nav.ViewFreqChange(f.ViewFreq.Value());
  DrawChangeGraph();
}

ViewerPanel::~ViewerPanel() {
  TFormModel& f = form_;
  f.ViewFileName.OnChange = nullptr;
  f.ViewSlider.OnChange = nullptr;
  f.NextCadr.OnClick = f.PrevCadr.OnClick = nullptr;
  f.ForwardButton.OnClick = f.BackwardButton.OnClick = nullptr;
  f.ViewFreq.OnChange = nullptr;
  f.AllCams.OnClick = nullptr;
  f.CamViewListBox.OnClickCheck = nullptr;
  f.CamViewListBox.OnClick = nullptr;
  f.ObjViewListBox.OnClick = nullptr;
  f.ObjViewListBox.OnClickCheck = nullptr;
  f.ViewCamsExpand.OnClick = nullptr;
  f.PlaySound.OnClick = f.StopSound.OnClick = nullptr;
  f.SoundSlider.OnChange = nullptr;
}

std::string ViewerPanel::SoundFileName() const {
  return (std::filesystem::path(settings_.DataDir()) / "Sound.wav").string();
}

// --- the pair and its records ------------------------------------------

void ViewerPanel::ViewFileNameChange() {
  if (renaming_) return;
  TFileNameEdit& e = form_.ViewFileName;
  if (e.FileName().empty()) {
    Session.Close();
    SyncSlider();
    DrawChangeGraph();
    return;
  }
  const std::string name = DscNameFor(e.FileName());
  if (name != e.FileName()) {
    renaming_ = true;
    e.SetFileName(name);
    renaming_ = false;
  }
  // Missing or unreadable files leave the viewer closed, silently.
  const bool opened = Session.Open(name);
  DrawChangeGraph();
  SyncSlider();
  if (opened) ShowRecord(1);
}

void ViewerPanel::ShowRecord(std::int32_t n) {
  if (!Session.IsOpen() || cameras_.CameraCount() < 1) return;
  FrameDescriptor d;
  if (Session.Prepare(n, d) != ViewerSession::Check::Show) return;
  Current = d;
  int camera = std::max<int>(d.camera, 1);
  // One file feeds several views while the emulated camera is on.
  if (form_.VideoEmulation.Checked())
    camera += static_cast<int>(random_() % static_cast<unsigned>(cameras_.CameraCount()));
  ShownCamera = camera;
  TCamera* cam = cameras_.GetAs<TCamera>(camera);
  if (!cam) return;
  // Decoding failures leave the picture as it was; the stamp is redrawn.
  loader_.Load(Session.Reader(), d, cam->PlaybackPicture, cam->Colored);
  DrawTimeStamp(cam->PlaybackPicture, FormatDateTimeLong(d.captureTime));
  ++Shown;
  cam->Repaint();
}

void ViewerPanel::SyncSlider() {
  TFormModel& f = form_;
  const PlaybackNav& nav = Session.nav;
  syncing_ = true;
  f.ViewSlider.SetRange(1, std::max(nav.maximum, 1));
  f.ViewSlider.SetValue(nav.value);
  f.MaxValueLabel.SetCaption(std::to_string(std::max(nav.maximum, 1)));
  f.ForwardButton.SetDown(nav.forwardDown);
  f.ForwardButton.SetCaption(nav.forwardCaption);
  f.BackwardButton.SetDown(nav.backwardDown);
  f.BackwardButton.SetCaption(nav.backwardCaption);
  timer2_.SetInterval(nav.timerIntervalMs);
  timer2_.SetEnabled(nav.timerEnabled);
  syncing_ = false;
}

void ViewerPanel::ViewSliderChange() {
  if (syncing_) return;
  const bool moved = Session.nav.SetValue(form_.ViewSlider.Value());
  SyncSlider();
  if (moved) ShowRecord(Session.nav.value);
}

void ViewerPanel::NextCadrClick() {
  const bool moved = Session.nav.NextCadrClick();
  SyncSlider();
  if (moved) ShowRecord(Session.nav.value);
}

void ViewerPanel::PrevCadrClick() {
  const bool moved = Session.nav.PrevCadrClick();
  SyncSlider();
  if (moved) ShowRecord(Session.nav.value);
}

void ViewerPanel::ForwardButtonClick() {
  Session.nav.ForwardButtonClick(form_.ForwardButton.Down(), form_.ViewFreq.Value());
  SyncSlider();
}

void ViewerPanel::BackwardButtonClick() {
  Session.nav.BackwardButtonClick(form_.BackwardButton.Down(), form_.ViewFreq.Value());
  SyncSlider();
}

void ViewerPanel::ViewFreqChange() {
  Session.nav.ViewFreqChange(form_.ViewFreq.Value());
  timer2_.SetInterval(Session.nav.timerIntervalMs);
}

void ViewerPanel::StepPlayback() {
  const bool moved = Session.nav.Timer2Timer();
  SyncSlider();
  if (moved) ShowRecord(Session.nav.value);
}

void ViewerPanel::DrawChangeGraph() {
  // The red line follows the camera chosen in the list; without a choice,
  // the first camera's threshold.
  const TCheckListBox& list = form_.CamViewListBox;
  const TCameraInfo* chosen = nullptr;
  if (list.ItemIndex() >= 0) {
    chosen = static_cast<const TCameraInfo*>(list.Object(list.ItemIndex()));
    if (!chosen) chosen = cameras_.Get(list.ItemIndex() + 1);
  }
  if (!chosen) chosen = cameras_.Get(1);
  const auto* cam = dynamic_cast<const TCamera*>(chosen);
  const double event = cam ? cam->ChangesEventPercent : form_.EventLimit.Value();
  Graph = ComputeChangeGraph(Session.Index().Levels(), kGraphWidth, kGraphHeight, event);
  GraphChanged();
}

void ViewerPanel::RecorderWrote(const std::string& dscName, std::int32_t n) {
  if (!Session.IsOpen() || Session.DscName() != dscName) return;
  Session.FollowRecorder(n);
  SyncSlider();
  DrawChangeGraph();
}

void ViewerPanel::PointAt(const std::string& dscName) {
  TFileNameEdit& e = form_.ViewFileName;
  if (!Session.IsOpen() && e.FileName() == dscName) e.SetFileName("");
  e.SetFileName(dscName);
}

// --- what is shown ------------------------------------------------------

void ViewerPanel::Layout() {
  if (RelayoutCameras) RelayoutCameras();
  // A list filled after the panel was laid out gets its columns now.
  CamViewPanelResize(camViewPanelWidth_);
}

int ViewerPanel::SiteOfCamera(int cameraNumber) const {
  // The site whose camera list holds it (its position in the Objects).
  const TCameraInfo* cam = cameras_.Get(cameraNumber);
  if (!cam) return 0;
  const Settings& st = settings_;
  for (int k = 1; k <= st.ObjectsCount && k <= kMaxObjects; ++k) {
    const TObjectRecord& o = st.Objects[static_cast<std::size_t>(k)];
    for (int i = 1; i <= o.Cams && i <= kMaxCamsPerObject; ++i)
      if (o.Cameras[static_cast<std::size_t>(i)] == cam) return k;
  }
  return 0;
}

void ViewerPanel::SetCameraShown(int cameraNumber, bool shown) {
  TCameraInfo* cam = cameras_.Get(cameraNumber);
  if (!cam) return;
  cam->SetVisible(shown);
  const int site = SiteOfCamera(cameraNumber);
  if (settings_.ServerMode && site >= 1 && cam->CamIndex >= 1 && cam->CamIndex <= kMaxCamsPerObject)
    settings_.Objects[static_cast<std::size_t>(site)]
        .CamVisible[static_cast<std::size_t>(cam->CamIndex)] = shown;
}

void ViewerPanel::CamViewListBoxClickCheck(int i) {
  TCheckListBox& list = form_.CamViewListBox;
  auto* cam = static_cast<TCameraInfo*>(list.Object(i));
  if (!cam) cam = cameras_.Get(i + 1);
  if (cam) SetCameraShown(cam->Number, list.Checked(i));
  Layout();
}

void ViewerPanel::ObjViewListBoxClick() {
  TFormModel& f = form_;
  const int site = f.ObjViewListBox.ItemIndex() + 1;
  if (site < 1 || site > settings_.ObjectsCount) return;
  const TObjectRecord& obj = settings_.Objects[static_cast<std::size_t>(site)];
  if (f.AllCams.Checked()) {
    const int at = f.CamViewListBox.IndexOfObject(obj.Cameras[1]);
    if (at >= 0) f.CamViewListBox.SetItemIndex(at);
    return;
  }
  f.CamViewListBox.Clear();
  for (int k = 1; k <= cameras_.CameraCount(); ++k) {
    TCameraInfo* cam = cameras_.Get(k);
    if (!cam) continue;
    const bool mine = SiteOfCamera(k) == site;
    if (mine) f.CamViewListBox.Add(cam->Description, true, cam);
    SetCameraShown(k, mine);
  }
  Layout();
}

void ViewerPanel::ObjViewListBoxClickCheck(int i) {
  TFormModel& f = form_;
  const int site = i + 1;
  if (site < 1 || site > settings_.ObjectsCount) return;
  const bool shown = f.ObjViewListBox.Checked(i);
  settings_.Objects[static_cast<std::size_t>(site)].CheckedForView = shown;
  for (int k = 1; k <= cameras_.CameraCount(); ++k) {
    if (SiteOfCamera(k) != site) continue;
    SetCameraShown(k, shown);
    const int item = f.CamViewListBox.IndexOfObject(cameras_.Get(k));
    if (item >= 0) f.CamViewListBox.SetChecked(item, shown);
  }
  Layout();
}

void ViewerPanel::AllCamsClick() {
  TFormModel& f = form_;
  if (f.ObjViewListBox.Count() == 0) return;
  const int selected = f.ObjViewListBox.ItemIndex() + 1;
  f.CamViewListBox.Clear();
  for (int site = 1; site <= settings_.ObjectsCount; ++site) {
    const bool shown = f.AllCams.Checked() || site == selected;
    for (int k = 1; k <= cameras_.CameraCount(); ++k) {
      TCameraInfo* cam = cameras_.Get(k);
      if (!cam || SiteOfCamera(k) != site) continue;
      if (shown) f.CamViewListBox.Add(cam->Description, true, cam);
      SetCameraShown(k, shown);
    }
  }
  Layout();
}

void ViewerPanel::ViewCamsExpandClick() {
  TFormModel& f = form_;
  const bool down = !f.ViewCamsExpand.Down();
  f.ViewCamsExpand.SetDown(down);
  f.ViewCamsExpand.SetCaption(down ? ">" : "<");
  f.ObjViewPanel.SetVisible(!down);
  // The camera items lose or regain their site prefix.
  f.CamViewListBox.Changed();
  // Wider columns while the site list is hidden (the panel's own resize
  // follows on screen).
  CamViewPanelResize(camViewPanelWidth_);
}

void ViewerPanel::CamViewPanelResize(int panelWidth) {
  camViewPanelWidth_ = panelWidth;
  TCheckListBox& list = form_.CamViewListBox;
  if (list.Count() == 0 || panelWidth < 0) return;
  const int n = CamViewColumns(panelWidth);
  if (n != list.Columns()) list.SetColumns(n);
}

int ViewerPanel::CamViewColumns(int panelWidth) const {
  const int n = panelWidth / (form_.ViewCamsExpand.Down() ? 130 : 100);
  return n == 1 ? 0 : std::max(n, 0);
}

ListItemLook ViewerPanel::ObjViewItem(int i, bool selected) const {
  ListItemLook look;
  const TColor c = SiteColor(i + 1);
  const TCheckListBox& list = form_.ObjViewListBox;
  look.caption = i >= 0 && i < list.Count() ? list.Text(i) : std::string();
  look.background = selected ? c : 0;
  look.systemBackground = !selected;
  look.text = selected ? colors::clWhite : c;
  return look;
}

ListItemLook ViewerPanel::CamViewItem(int i, bool selected) const {
  ListItemLook look;
  const TCheckListBox& list = form_.CamViewListBox;
  if (i < 0 || i >= list.Count()) return look;
  const auto* cam = static_cast<const TCameraInfo*>(list.Object(i));
  // A camera of no site (a site's own cameras) is drawn in navy.
  const int site = cam ? SiteOfCamera(cam->Number) : 0;
  const TColor c = site > 0 ? SiteColor(site) : colors::clNavy;
  look.background = selected ? c : 0;
  look.systemBackground = !selected;
  look.text = selected ? colors::clWhite : c;
  look.caption = list.Text(i);
  if (cam && settings_.ServerMode && !form_.ViewCamsExpand.Down())
    look.caption = AbbreviateName(cam->ObjName) + ": " + look.caption;
  return look;
}

// --- the alarm sound --------------------------------------------------------

void ViewerPanel::PlaySoundClick() {
  auto fail = [this](const std::string& why) { journal_.AddFailure(why, jcSoundPlay); };
  if (!player_) return fail("нет устройства воспроизведения звука");
  if (player_->Recording()) player_->Save();
  std::string why;
  if (!player_->Open(SoundFileName(), why)) return fail(why);
  TSpinEdit& slider = form_.SoundSlider;
  const long long length = player_->LengthMs();
  if (slider.MaxValue() == 100 && length > 0) {
    syncing_ = true;
    slider.SetRange(0, static_cast<int>(std::min<long long>(length, 0x7FFFFFFF)));
    slider.SetValue(0);
    syncing_ = false;
  }
  player_->Seek(slider.Value());
  if (!player_->Play(why)) fail(why);
}

void ViewerPanel::StopSoundClick() {
  if (player_ && player_->Playing()) player_->Stop();
}

void ViewerPanel::SoundSliderChange() {
  if (syncing_ || !player_ || !player_->Playing()) return;
  player_->Seek(form_.SoundSlider.Value());
  std::string why;
  if (!player_->Play(why)) journal_.AddFailure(why, jcSoundPlay);
}

void ViewerPanel::FollowSound() {
  if (!player_) return;
  TSpinEdit& slider = form_.SoundSlider;
  syncing_ = true;
  if (player_->Recording() && player_->LengthMs() > 0)
    slider.SetRange(0, static_cast<int>(std::min<long long>(player_->LengthMs(), 0x7FFFFFFF)));
  if (player_->Playing())
    slider.SetValue(static_cast<int>(std::min<long long>(player_->PositionMs(), 0x7FFFFFFF)));
  syncing_ = false;
}

void ViewerPanel::CameraCountChanged(int n) {
  if (ShownCamera > n) ShownCamera = std::max(n, 1);
}

void ViewerPanel::Shutdown() {
  timer2_.SetEnabled(false);
  if (player_ && player_->Playing()) player_->Stop();
  Session.Close();
}

}  // namespace zv
