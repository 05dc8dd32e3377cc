#pragma once
// The gauges: contact sensors on the modem-status lines of a serial port and
// the status inputs of a parallel port, and the cameras' motion alarms.  The
// poll reads them all, colours the check boxes of the "Датчики" page,
// journals the start and end of each alarm, keeps the site's masks and
// answers whether everything is quiet.
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/Settings.h"
#include "app/SiteStatus.h"
#include "platform/ModemLines.h"
#include "platform/ParallelPort.h"
#include "platform/Services.h"

namespace zv {

// What the poll needs to know of a camera's motion.
struct CameraMotionInput {
  bool reactionEnabled = false;  // motion alarms switched on for the camera
  double eventPercent = 0;       // threshold, percent of the picture
  int changeValue = 0;           // change level of the last processed frame
};

// Motion by a camera's figures.  A change level of 0 is never motion, even
// when the threshold rounds to 0.
bool IsCameraMotion(const CameraMotionInput& in);

class Gauges {
 public:
  static constexpr TColor kNormalColor = colors::clGreen;
  static constexpr TColor kAlarmColor = colors::clRed;

  // lines and lpt: the devices of the serial and the parallel gauges.
  Gauges(Services& services, Journal& journal, TFormModel& form, Settings& settings,
         CameraTable& cameras, SiteStatus& status, std::unique_ptr<IModemLines> lines,
         std::unique_ptr<IParallelStatus> lpt);

  // The gauge poll; true when no gauge and no camera is in alarm.
  bool Poll();
  // One gauge: check box b, its name edit e, its bit k in the masks.
  void GaugeStep(TCheckBox& b, TEdit& e, int k, bool& allClear);
  // Checks that the gauge port is free and can be opened (a port selector
  // or the COM switch changed, or start-up).
  void EventComPortChange();

  // "Com" + n + ":", the name the port goes by in the texts.
  static std::string ComPortName(int n);
  // "LPT" + n.
  static std::string LptPortName(int n);

  // Replace the devices (tests hand in their own).
  void SetModemLines(std::unique_ptr<IModemLines> lines) { lines_ = std::move(lines); }
  void SetParallelStatus(std::unique_ptr<IParallelStatus> lpt) { lpt_ = std::move(lpt); }
  // Reads camera number's motion figures; false when there is no such camera.
  // Unset: no camera ever raises an alarm.
  std::function<bool(int number, CameraMotionInput& out)> ReadCamera;

  // The alarm-reported latch of the gauge with mask bit k.
  bool Latched(int k) const { return latch_.at(static_cast<std::size_t>(k)); }
  // Camera number was quiet (no motion) at the last poll.
  bool CameraQuiet(int number) const { return quiet_.at(static_cast<std::size_t>(number)); }

 private:
  void PollParallel(bool& allClear);
  void PollSerial(bool& allClear);
  void PollCameras();
  static void Show(TCheckBox& b, bool normal);

  Services& s_;
  Journal& journal_;
  TFormModel& form_;
  Settings& settings_;
  CameraTable& cameras_;
  SiteStatus& status_;
  std::unique_ptr<IModemLines> lines_;
  std::unique_ptr<IParallelStatus> lpt_;
  std::array<bool, 8> latch_{};
  // Why the parallel port could not be read, as last journaled ("" when it
  // could, or is not in use).
  std::string lptFailure_;
  // The serial gauges' port could not be opened, as last journaled.
  bool comFailed_ = false;
  std::array<bool, CameraTable::kMaxCameras + 1> quiet_;
};

}  // namespace zv
