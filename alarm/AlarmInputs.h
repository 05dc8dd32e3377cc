#pragma once
// The alarm-input subsystem of a site: the gauges with the camera motion
// alarms, defence mode and the site's status, wired to the window's
// controls, the start-up steps and the heartbeat.
#include "alarm/Defence.h"
#include "alarm/Gauges.h"
#include "app/SiteStatus.h"
#include "detect/FrameRecorder.h"

namespace zv {

class Application;

class AlarmInputs {
 public:
  explicit AlarmInputs(Application& app);
  ~AlarmInputs();
  AlarmInputs(const AlarmInputs&) = delete;
  AlarmInputs& operator=(const AlarmInputs&) = delete;

  SiteStatus Status;
  Gauges gauges;
  DefenceMode defence;

  // Start-up: the gauge port's check, once the settings are loaded.
  void OpenPorts();
  // The heartbeat's part: the gauge poll, at a site only.
  void Timer3Timer();
  // The last heartbeat poll's answer: no gauge and no camera in alarm.
  bool LastAllClear = true;
  // The site's status as the recorder stores it with every frame.
  DescriptorStatus RecordedStatus() const {
    return {Status.GaugeAlarmMask, Status.GaugeEnabledMask, Status.Armed};
  }
  // Arming and disarming requested by telephone or by the station.
  void RemoteSwitchMode() { defence.SwitchModeBtnClick(DefenceMode::Request::Remote); }

 private:
  void SetCaptions();

  Application& app_;
};

}  // namespace zv
