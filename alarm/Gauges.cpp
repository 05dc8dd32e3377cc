#include "alarm/Gauges.h"

#include "app/Thresholds.h"
#include "app/Utils.h"

namespace zv {

namespace {
constexpr std::uint8_t kParallelBits = 0x1F;  // bits 4..0
constexpr std::uint8_t kSerialBits = 0xE0;    // bits 7..5

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}
}  // namespace

bool IsCameraMotion(const CameraMotionInput& in) {
  return in.reactionEnabled && IsMotionLevel(in.eventPercent, in.changeValue);
}

Gauges::Gauges(Services& services, Journal& journal, TFormModel& form, Settings& settings,
               CameraTable& cameras, SiteStatus& status, std::unique_ptr<IModemLines> lines,
               std::unique_ptr<IParallelStatus> lpt)
    : s_(services),
      journal_(journal),
      form_(form),
      settings_(settings),
      cameras_(cameras),
      status_(status),
      lines_(std::move(lines)),
      lpt_(std::move(lpt)) {
  quiet_.fill(true);
}

std::string Gauges::ComPortName(int n) {
  return "Com" + std::to_string(n) + ":";
}

std::string Gauges::LptPortName(int n) {
  return "LPT" + std::to_string(n);
}

void Gauges::Show(TCheckBox& b, bool normal) {
  b.SetFontColor(normal ? kNormalColor : kAlarmColor);
}

void Gauges::GaugeStep(TCheckBox& b, TEdit& e, int k, bool& allClear) {
  const auto mask = static_cast<std::uint8_t>(1u << k);
  bool& latch = latch_.at(static_cast<std::size_t>(k));
  const bool red = b.FontColor() == kAlarmColor;
  if (b.Checked()) {
    status_.GaugeEnabledMask |= mask;
    b.SetFontStyle(b.FontStyle() | fsUnderline);
    if (red) {
      allClear = false;
      if (!latch) journal_.ShowStatus("Сработка - " + Quoted(e.Text()) + " !", jkAlarm, 1);
      latch = true;
    } else if (b.FontColor() == kNormalColor) {
      if (latch)
        journal_.ShowStatus("Завершение сработки - " + Quoted(e.Text()) + " !", jkNotice, 1);
      latch = false;
    }
  } else {
    status_.GaugeEnabledMask &= static_cast<std::uint8_t>(~mask);
    b.SetFontStyle(b.FontStyle() & ~static_cast<unsigned>(fsUnderline));
    if (latch)
      journal_.ShowStatus("Отключение датчика " + Quoted(e.Text()) + " в состоянии сработки !",
                          jkAlarm, 1);
    latch = false;
  }
  if (red)
    status_.GaugeAlarmMask |= mask;
  else
    status_.GaugeAlarmMask &= static_cast<std::uint8_t>(~mask);
}

void Gauges::PollParallel(bool& allClear) {
  auto notInUse = [this] {
    // Colours and latches stay as they were.
    status_.GaugeEnabledMask &= static_cast<std::uint8_t>(~kParallelBits);
    status_.GaugeAlarmMask &= static_cast<std::uint8_t>(~kParallelBits);
  };
  if (!form_.UseGaugesOnLpt.Checked()) {
    lptFailure_.clear();
    notInUse();
    return;
  }
  const int n = form_.EventLPTPort.Value();
  const std::string device = s_.ports.LptDevice(n);
  const ParallelRead read = lpt_->Read(device);
  // Held by another driver (a print job): the gauges keep their last state,
  // as serial gauges on a busy port do.
  if (read.status == ParallelRead::Busy) return;
  const std::string t = LptPortName(n) + " для получения сигналов с датчиков";
  if (read.status == ParallelRead::Failed) {
    // Told once, with the reason: gauges that are never read are no guard.
    const std::string why = device + ": " + read.error;
    if (lptFailure_ != why)
      journal_.ReportError("Ошибка открытия порта " + t + " (" + why + ") !", jcGaugePortOpen, 1);
    lptFailure_ = why;
    notInUse();
    return;
  }
  if (!lptFailure_.empty()) journal_.ShowStatus("Порт " + t + " открыт", jkDevice, 1);
  lptFailure_.clear();
  const std::uint8_t reg = read.value;
  // Each input is normal while its pin is low; Busy comes inverted.
  Show(form_.NotAck, !(reg & 0x40));
  Show(form_.Busy, reg & 0x80);
  Show(form_.PaperOut, !(reg & 0x20));
  Show(form_.SelectIn, !(reg & 0x10));
  Show(form_.NotError, !(reg & 0x08));
  GaugeStep(form_.NotAck, form_.Edit(4), 4, allClear);
  GaugeStep(form_.Busy, form_.Edit(5), 3, allClear);
  GaugeStep(form_.PaperOut, form_.Edit(6), 2, allClear);
  GaugeStep(form_.SelectIn, form_.Edit(7), 1, allClear);
  GaugeStep(form_.NotError, form_.Edit(8), 0, allClear);
}

void Gauges::PollSerial(bool& allClear) {
  if (!form_.UseGaugesOnCom.Checked()) {
    comFailed_ = false;
    status_.GaugeEnabledMask &= static_cast<std::uint8_t>(~kSerialBits);
    status_.GaugeAlarmMask &= static_cast<std::uint8_t>(~kSerialBits);
    return;
  }
  // A port that is the link's, busy, missing or without modem lines leaves
  // the serial gauges as they were; the port check reports such cases.
  const int n = form_.EventComPort.Value();
  if (n == form_.ClientComPort.Value()) return;
  const std::string t = ComPortName(n) + " для получения сигналов с датчиков";
  if (const DeviceResult opened = lines_->Open(s_.ports.ComDevice(n)); !opened) {
    // Told once (the adapter pulled out, the port taken): gauges that are
    // never read are no guard.  Their last state stays.
    if (!comFailed_)
      journal_.ReportError("Ошибка открытия порта " + t + " (" + opened.reason + ") !",
                           jcGaugePortOpen, 1);
    comFailed_ = true;
    return;
  }
  if (comFailed_) journal_.ShowStatus("Порт " + t + " открыт", jkDevice, 1);
  comFailed_ = false;
  SerialModemLines lines;
  const bool read = lines_->Read(lines);
  if (read) {
    // Every serial input is normal while its line is asserted.
    Show(form_.CD, lines.rlsd);
    Show(form_.DSR, lines.dsr);
    Show(form_.CTS, lines.cts);
    GaugeStep(form_.CD, form_.Edit(1), 7, allClear);
    GaugeStep(form_.DSR, form_.Edit(2), 6, allClear);
    GaugeStep(form_.CTS, form_.Edit(3), 5, allClear);
  }
  lines_->Close();
}

void Gauges::PollCameras() {
  status_.CameraAlarmMask = 0;
  const int count = cameras_.CameraCount();
  for (int i = 1; i <= CameraTable::kMaxCameras; ++i) {
    bool& quiet = quiet_[static_cast<std::size_t>(i)];
    TCameraInfo* cam = i <= count ? cameras_.Get(i) : nullptr;
    CameraMotionInput in;
    if (!cam || !ReadCamera || !ReadCamera(i, in)) {
      quiet = true;  // a camera created later starts quiet
      continue;
    }
    const bool motion = IsCameraMotion(in);
    if (motion && i <= 8) status_.CameraAlarmMask |= static_cast<std::uint8_t>(1u << (i - 1));
    if (status_.Armed && motion == quiet) {
      if (motion)
        journal_.ShowStatus("Сработка по видеокамере " + Quoted(cam->Description) + " !", jkAlarm,
                            1);
      else
        journal_.ShowStatus("Завершение движения по видеокамере " + Quoted(cam->Description),
                            jkNotice, 1);
    }
    quiet = !motion;
  }
}

bool Gauges::Poll() {
  bool allClear = true;
  PollParallel(allClear);
  PollSerial(allClear);
  PollCameras();
  return allClear && status_.CameraAlarmMask == 0;
}

void Gauges::EventComPortChange() {
  if (!settings_.SettingsLoaded || settings_.ServerMode || !form_.UseGaugesOnCom.Checked()) return;
  const int n = form_.EventComPort.Value();
  const std::string name = ComPortName(n);
  if (n == form_.ClientComPort.Value()) {
    journal_.ReportError("Порт " + name + " зарезервирован для связи с сервером !",
                         jcGaugePortTakenByLink, 1);
    return;
  }
  if (form_.UseSwitcher.Checked() && n == form_.SwitcherComPort.Value()) {
    journal_.ReportError("Порт " + name + " зарезервирован для управления видеокоммутатором !",
                         jcGaugePortTakenBySwitcher, 1);
    return;
  }
  const std::string t = name + " для получения сигналов с датчиков";
  const DeviceResult opened = lines_->Open(s_.ports.ComDevice(n));
  // The poll says the same only when it changes.
  comFailed_ = !opened;
  if (!opened) {
    // The system's reason in the same line, as for every port.
    journal_.ReportError("Ошибка открытия порта " + t + " (" + opened.reason + ") !",
                         jcGaugePortOpen, 1);
    return;
  }
  lines_->Close();
  journal_.ShowStatus("Порт " + t + " открыт", jkDevice, 1);
}

}  // namespace zv
