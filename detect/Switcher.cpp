#include "detect/Switcher.h"

namespace zv {

SwitcherMessage SwitcherPort::Open(const SwitcherPortChoice& choice) {
  const int n = choice.switcherPort;
  const std::string device = DeviceName(n);
  SwitcherMessage m;
  if (n == choice.clientComPort) {
    m.kind = SwitcherMessage::Error;
    m.code = jcSwitcherPortTakenByLink;
    m.text = "Порт " + device + " зарезервирован для связи с " + "сервером" + " !";
    return m;
  }
  if (choice.gaugesOnCom && n == choice.eventComPort) {
    m.kind = SwitcherMessage::Error;
    m.code = jcSwitcherPortTakenByGauges;
    m.text = "Порт " + device + " зарезервирован для получения сигналов с датчиков !";
    return m;
  }
  lines_->Close();
  lost_ = 0;
  const std::string what = device + " для управления видеокоммутатором";
  // Judged on the device just opened, not on the one before.
  if (const DeviceResult opened = lines_->Open(ports_.ComDevice(n)); !opened) {
    port_ = 0;
    m.kind = SwitcherMessage::Error;
    m.code = jcSwitcherPortOpen;
    // The system's reason in the same line, as for every port.
    m.text = "Ошибка открытия порта " + what + " (" + opened.reason + ") !";
    return m;
  }
  port_ = n;
  m.kind = SwitcherMessage::Status;
  m.text = "Порт " + what + " открыт";
  return m;
}

SwitcherMessage SwitcherPort::SwitchCamera(int n) {
  SwitcherMessage m;
  const std::string what = DeviceName(port_ ? port_ : lost_) + " для управления видеокоммутатором";
  if (!lines_->IsOpen()) {
    if (lost_ == 0 || !lines_->Open(ports_.ComDevice(lost_))) return m;
    port_ = lost_;
    lost_ = 0;
    m.kind = SwitcherMessage::Status;
    m.text = "Порт " + what + " открыт";
  }
  lines_->SetDtr(false);
  lines_->SetRts(false);
  for (int i = 1; i < n; ++i) {
    lines_->SetDtr(true);
    lines_->SetDtr(false);
  }
  lines_->SetRts(true);
  if (lines_->Vanished()) {
    lines_->Close();
    lost_ = port_;
    port_ = 0;
    m.kind = SwitcherMessage::Error;
    m.code = jcSwitcherPortOpen;
    m.text = "Порт " + what + " потерян !";
  }
  return m;
}

}  // namespace zv
