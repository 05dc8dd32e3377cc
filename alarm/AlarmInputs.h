#pragma once
// The alarm-input page of a site: the gauges with the camera motion
// alarms, defence mode and the site's status, wired to the window's
// controls, the start-up steps and the heartbeat.
#include <memory>

#include "alarm/Defence.h"
#include "alarm/Gauges.h"
#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/MainFrame.h"
#include "app/Settings.h"
#include "app/SiteStatus.h"
#include "platform/ModemLines.h"
#include "platform/ParallelPort.h"
#include "platform/Services.h"

namespace zv {

class AlarmInputs final : public IDefence {
 public:
  // lines and lpt: the devices of the serial and the parallel gauges.
  AlarmInputs(Services& services, Journal& journal, TFormModel& form, MainFrame& frame,
              Settings& settings, CameraTable& cameras, std::unique_ptr<IModemLines> lines,
              std::unique_ptr<IParallelStatus> lpt);
  ~AlarmInputs() override;
  AlarmInputs(const AlarmInputs&) = delete;
  AlarmInputs& operator=(const AlarmInputs&) = delete;

  SiteStatus Status;
  Gauges gauges;
  DefenceMode defence;

  // Start-up: the gauge port's check, once the settings are loaded.
  void OpenPorts();
  // The heartbeat's part: the gauge poll, at a site only.
  void PollGauges();
  // The last heartbeat poll's answer: no gauge and no camera in alarm.
  bool LastAllClear = true;
  // Arming and disarming requested by telephone or by the station.
  void RemoteSwitchMode() override { defence.SwitchModeBtnClick(DefenceMode::Request::Remote); }

  bool LastPollQuiet() const override { return LastAllClear; }
  bool PollNow() override { return gauges.Poll(); }

 private:
  void SetCaptions();

  TFormModel& form_;
  Settings& settings_;
};

}  // namespace zv
