#include "detect/RecordPanel.h"

#include <cmath>
#include <filesystem>
#include <utility>

#include "detect/Detector.h"
#include "detect/Rounding.h"
#include "video/Camera.h"

namespace zv {

namespace {

// Round(60000 / frames a minute) ms; the default rate for a rate of 0.
unsigned TickIntervalMs(double framesPerMinute) {
  if (!(framesPerMinute > 0)) framesPerMinute = 100.0;
  const long long ms = RoundToEven(60000.0 / framesPerMinute);
  return static_cast<unsigned>(std::max(1LL, std::min(ms, 60000000LL)));
}

// The camera's detection data lent to the frame recorder for one tick and
// given back afterwards, also when the tick fails half-way.  The pictures
// are moved, not copied.
class LentState {
 public:
  explicit LentState(TCamera& cam) : cam_(cam) {
    st.current = std::move(cam.CurrentPicture);
    st.previous = std::move(cam.PreviousPicture);
    st.difference = std::move(cam.DifferencePicture);
    st.zones = cam.Zones;
    st.frameCounter = cam.FrameCounter;
    st.changeValue = cam.ChangeValue;
    st.ignoreChangesPercent = cam.IgnoreChangesPercent;
    st.changesEventPercent = cam.ChangesEventPercent;
    st.recordingMode = cam.RecordingMode;
    st.reactionEnabled = cam.ReactionEnabled;
    st.colored = cam.Colored;
  }
  ~LentState() {
    cam_.CurrentPicture = std::move(st.current);
    cam_.PreviousPicture = std::move(st.previous);
    cam_.DifferencePicture = std::move(st.difference);
    cam_.Zones = st.zones;
    cam_.FrameCounter = st.frameCounter;
    cam_.ChangeValue = st.changeValue;
  }
  LentState(const LentState&) = delete;
  LentState& operator=(const LentState&) = delete;
  DetectState st;

 private:
  TCamera& cam_;
};

}  // namespace

RecordPanel::RecordPanel(Services& services, Journal& journal, TFormModel& form,
                         const MainFrame& frame, Settings& settings, CameraTable& cameras,
                         FrameIntake& intake, const SiteStatus& status, TTimer& timer1,
                         std::unique_ptr<ISwitcherLines> switcherLines)
    : recorder_(Codec),
      switcher_(std::make_unique<SwitcherPort>(services.ports, std::move(switcherLines))),
      s_(services),
      journal_(journal),
      form_(form),
      frame_(frame),
      settings_(settings),
      cameras_(cameras),
      intake_(intake),
      status_(status),
      timer1_(timer1) {
  TFormModel& f = form_;
  f.Compression.SetCaption("JPEG-компрессия :");
  f.Compression.SetChecked(true);
  f.ReactionOn.SetCaption("Звуковой сигнал при движении");
  f.ReactionOn.SetChecked(true);
  f.ViewDiffCadr.SetCaption("Просмотр кадра разницы");

  f.RecordBtn.OnClick = [this] { RecordBtnClick(); };
  f.RecFileName.Filter = "Файлы видеозаписей (*.dsc)|*.dsc|Все файлы (*.*)|*.*";
  f.RecFileName.OnChange = [this] { RecFileNameChange(); };
  f.RecFreq.OnChange = [this] { RecFreqChange(); };
  f.WriteCam.OnChange = [this] { WriteCamChange(); };
  f.RecordingOn.OnChange = [this] { RecordingOnClick(); };
  f.ReactionOn.OnClick = [this] { ReactionOnClick(); };
  f.ChangeLimit.OnChange = [this] { ChangeLimitChange(); };
  // The camera group of the gauges page only redraws the indicators.
  f.EventCamChanges.OnChange = [this] {
    DrawChangeBar();
    ThresholdsChanged();
  };
  f.EventLimit.OnChange = [this] { EventLimitChange(); };
  f.FilterDeep.OnChange = [this] { FilterDeepChange(); };
  f.SwitcherComPort.OnChange = [this] { SwitcherComPortChange(); };
  f.UseSwitcher.OnClick = [this] { SwitcherComPortChange(); };
  f.ViewDiffCadr.OnClick = [this] {
    for (int k = 1; k <= cameras_.CameraCount(); ++k)
      if (TCameraInfo* c = cameras_.Get(k)) c->Repaint();
  };
  DrawChangeBar();
}

RecordPanel::~RecordPanel() {
  TFormModel& f = form_;
  f.RecordBtn.OnClick = nullptr;
  f.RecFileName.OnChange = nullptr;
  f.RecFreq.OnChange = nullptr;
  f.WriteCam.OnChange = nullptr;
  f.RecordingOn.OnChange = nullptr;
  f.ReactionOn.OnClick = nullptr;
  f.ChangeLimit.OnChange = nullptr;
  f.EventCamChanges.OnChange = nullptr;
  f.EventLimit.OnChange = nullptr;
  f.FilterDeep.OnChange = nullptr;
  f.SwitcherComPort.OnChange = nullptr;
  f.UseSwitcher.OnClick = nullptr;
  f.ViewDiffCadr.OnClick = nullptr;
}

void RecordPanel::SetSwitcherLines(std::unique_ptr<ISwitcherLines> lines) {
  switcher_ = std::make_unique<SwitcherPort>(s_.ports, std::move(lines));
}

bool RecordPanel::PlaybackPageShown() const {
  return frame_.ActivePage() == &form_.TabSheet2;
}

std::string RecordPanel::InDataDir(const std::string& name) const {
  const std::filesystem::path p(name);
  if (p.is_absolute() || settings_.DataDir().empty()) return name;
  return (std::filesystem::path(settings_.DataDir()) / p).string();
}

TCamera* RecordPanel::WriteCamera() const {
  return cameras_.GetAs<TCamera>(form_.WriteCam.Value());
}

void RecordPanel::SetRecordingState(bool on) {
  const bool stopping = RecordingOn && !on;
  RecordingOn = on;
  form_.RecordBtn.SetCaption(on ? "Стоп" : "Запись");
  form_.RecordBtn.SetDown(on);
  if (stopping) ForgetMotion();
}

void RecordPanel::ForgetMotion() {
  // Without measuring there is no motion: a change level left from the last
  // processed frame must neither keep the site from being armed again nor
  // raise an alarm.  The next recording compares from a fresh first frame,
  // not with a picture from before the stop.
  for (int k = 1; k <= cameras_.CameraCount(); ++k) {
    TCamera* cam = cameras_.GetAs<TCamera>(k);
    if (!cam) continue;
    cam->ChangeValue = 0;
    cam->Zones.ClearResults();
    cam->PreviousPicture.SetSize(0, 0);
    cam->Repaint();
  }
  DrawChangeBar();
}

void RecordPanel::StopRecording() {
  SetRecordingState(false);
}

void RecordPanel::ProcessPendingFrame() {
  if (!Recording()) return;
  FrameIntake& in = intake_;
  if (in.FramePending) {
    in.FramePending = false;
    TCamera* cam = cameras_.GetAs<TCamera>(in.FrameCamera);
    if (cam && !cam->CurrentPicture.Empty()) {
      const TFormModel& f = form_;
      RecordSettings settings;
      settings.compression = f.Compression.Checked();
      settings.jpegQuality = f.JPEGQuality.Value();
      settings.object = static_cast<std::uint8_t>(f.ObjNum.Value());
      const DescriptorStatus status = DescriptorStatusOf(status_);
      Pair.SetVolumePolicy(
          {VolumeLimitBytes(f.VolumeLimit.Value()),
           static_cast<VolumeLimitAction>(std::clamp(f.VolumeLimitType.ItemIndex(), 0, 2))});
      FrameResult r;
      {
        LentState lent(*cam);
        const TPicture& frame = lent.st.current;
        r = recorder_.ProcessFrame(lent.st, in.FrameCamera, frame.Width(), frame.Height(),
                                   FilterThreshold, s_.clock.Now(), Pair, settings, status);
      }
      if (r.compared && !PlaybackPageShown() && f.ViewDiffCadr.Checked()) cam->Repaint();
      DrawChangeBar();
      if (r.recorded) {
        if (r.beep) s_.speaker.Beep(kMotionBeepHz, kMotionBeepMs);
        if (r.write.status == AppendResult::Written)
          form_.FrameSizeLabel.SetCaption(std::to_string(r.descriptor.length));
        HandleWrite(r.write);
      }
    }
  }
  in.ReadyForNext();
}

void RecordPanel::HandleWrite(const AppendResult& w) {
  switch (w.status) {
    case AppendResult::Written:
      ++RecordsWritten;
      // The end of a run of failures is told as its start was.
      if (w.resumed)
        journal_.AddJournal("Запись возобновлена: файл \"" + Pair.DscName() + "\"", jkDevice);
      if (w.switchedFile) {
        journal_.AddJournal("Запись продолжена в файл \"" + Pair.DscName() + "\"", jkDevice);
        PairChosen(Pair.DscName());
      }
      RecordWritten(Pair.DscName(), w.recordNumber);
      break;
    case AppendResult::WriteFailed:
      // A run of failures is journaled once; the next tick tries again.
      if (w.reportNow) journal_.ReportError(w.reason + " !", jcRecording, 1);
      break;
    case AppendResult::StoppedByLimit:
      StopRecording();
      journal_.AddJournal("Запись остановлена: файл \"" + Pair.DscName() +
                              "\" достиг предельного объёма " +
                              std::to_string(form_.VolumeLimit.Value()) + " Мб",
                          jkNotice);
      break;
    case AppendResult::NotOpen:
      break;
  }
}

void RecordPanel::RecordBtnClick() {
  TFormModel& f = form_;
  if (!FilesOpen()) {
    const std::string name = InDataDir(recName_);
    if (IoResult r = Pair.OpenOrCreate(name); !r) {
      // Without a pair that takes pictures the recording does not start.
      journal_.ReportError("Запись не начата: " + r.reason + " !", jcRecording, 1);
      return;
    }
    if (Pair.RepairedBytes() > 0)
      journal_.AddJournal("Файл \"" + Pair.DscName() + "\" обрезан до целых записей (" +
                              std::to_string(Pair.RepairedBytes()) + " байт отброшено)",
                          jkNotice);
    PairChosen(Pair.DscName());
  }
  if (!RecordingOn) {
    timer1_.SetInterval(TickIntervalMs(f.RecFreq.Value()));
    intake_.ReadyForNext();
  }
  SetRecordingState(!RecordingOn);
}

void RecordPanel::RecFileNameChange() {
  if (renaming_) return;
  TFormModel& f = form_;
  if (f.RecFileName.FileName().empty()) return;
  const std::string name = DscNameFor(f.RecFileName.FileName());
  if (name != f.RecFileName.FileName()) {
    renaming_ = true;
    f.RecFileName.SetFileName(name);
    renaming_ = false;
  }
  if (FilesOpen()) {
    if (RecordingOn) {
      s_.dialogs.MessageBox(kStopToChangeText, "Zorvenix", MsgButtons::Ok, MsgIcon::Warning);
      return;
    }
    Pair.Close();
  }
  // Only a pair whose files both exist is opened here; the record button
  // creates missing ones.
  recName_ = name;
  if (Pair.OpenExisting(InDataDir(name)) && Pair.RepairedBytes() > 0)
    journal_.AddJournal("Файл \"" + Pair.DscName() + "\" обрезан до целых записей (" +
                            std::to_string(Pair.RepairedBytes()) + " байт отброшено)",
                        jkNotice);
}

void RecordPanel::RecFreqChange() {
  const double freq = form_.RecFreq.Value();
  if (TCamera* cam = WriteCamera()) cam->FramesPerMinute = freq;
  timer1_.SetInterval(TickIntervalMs(freq));
}

void RecordPanel::WriteCamChange() {
  TCamera* cam = WriteCamera();
  if (!cam) return;
  // Copies: setting a control runs its handler, which stores into the camera.
  const int mode = cam->RecordingMode;
  const double ignore = cam->IgnoreChangesPercent, event = cam->ChangesEventPercent;
  const double fpm = cam->FramesPerMinute;
  const bool reaction = cam->ReactionEnabled;
  TFormModel& f = form_;
  f.RecordingOn.SetItemIndex(mode);
  f.ChangeLimit.SetValue(ignore);
  f.EventLimit.SetValue(event);
  f.RecFreq.SetValue(fpm);
  f.ReactionOn.SetChecked(reaction);
  DrawChangeBar();
}

void RecordPanel::RecordingOnClick() {
  if (TCamera* cam = WriteCamera()) cam->RecordingMode = form_.RecordingOn.ItemIndex();
}

void RecordPanel::ReactionOnClick() {
  if (TCamera* cam = WriteCamera()) cam->ReactionEnabled = form_.ReactionOn.Checked();
}

void RecordPanel::ChangeLimitChange() {
  TCamera* cam = WriteCamera();
  if (!cam) return;
  cam->IgnoreChangesPercent = form_.ChangeLimit.Value();
  if (cam->ZoneSetupView() && !settings_.ServerMode) cam->Repaint();
  DrawChangeBar();
  ThresholdsChanged();
}

void RecordPanel::EventLimitChange() {
  TCamera* cam = WriteCamera();
  if (!cam) return;
  cam->ChangesEventPercent = form_.EventLimit.Value();
  if (cam->ZoneSetupView() && !settings_.ServerMode) cam->Repaint();
}

void RecordPanel::FilterDeepChange() {
  const int v = form_.FilterDeep.Value();
  if (const auto t = FilterThresholdFrom(v)) {
    FilterThreshold = *t;
    return;
  }
  // A range error: reported as the exception handler reports one (the spin
  // has no limits of its own), and the threshold stays as it was.
  journal_.AddFailure("Порог фильтра " + std::to_string(v) + " вне диапазона 0..255");
}

void RecordPanel::SwitcherComPortChange() {
  if (!settings_.SettingsLoaded || settings_.ServerMode) return;
  const TFormModel& f = form_;
  if (!f.UseSwitcher.Checked()) return;
  SwitcherPortChoice c;
  c.switcherPort = f.SwitcherComPort.Value();
  c.clientComPort = f.ClientComPort.Value();
  c.gaugesOnCom = f.UseGaugesOnCom.Checked();
  c.eventComPort = f.EventComPort.Value();
  Report(switcher_->Open(c));
}

void RecordPanel::Report(const SwitcherMessage& m) {
  if (m.kind == SwitcherMessage::Error)
    journal_.ReportError(m.text, m.code, 1);
  else if (m.kind == SwitcherMessage::Status)
    journal_.ShowStatus(m.text, jkDevice, 1);
}

void RecordPanel::DrawChangeBar() {
  const TCamera* cam = WriteCamera();
  const int level = cam ? cam->ChangeValue : 0;
  const double ignore = cam ? cam->IgnoreChangesPercent : form_.ChangeLimit.Value();
  const double event = cam ? cam->ChangesEventPercent : form_.EventLimit.Value();
  Bar = ComputeChangeBar(level, ignore, event, kBarWidth, kBarHeight);
  BarChanged();
}

void RecordPanel::CloseFiles() {
  SetRecordingState(false);
  Pair.Close();
}

}  // namespace zv
