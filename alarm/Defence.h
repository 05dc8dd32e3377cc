#pragma once
// Defence mode: arming (a countdown the user can cancel with Esc, refused
// while an input is in alarm) and disarming (with the owner's password when
// done at the keyboard), both through the one routine of the arming button.
#include <functional>

#include "alarm/Gauges.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/MainFrame.h"
#include "app/SiteStatus.h"
#include "platform/Services.h"

namespace zv {

class DefenceMode {
 public:
  static constexpr const char* kArmCaption = "Поставить на охрану...";
  static constexpr const char* kDisarmCaption = "Снять с охраны...";
  static constexpr TColor kDisarmedColor = 0x808000;  // teal
  static constexpr TColor kArmedColor = colors::clRed;
  // The owner's password: one digit, built in.
  static constexpr const char* kOwnerPassword = "5";

  // Local: the button (or start-up's click of it), which asks for the
  // password to disarm.  Remote: DTMF codes and the station's commands.
  enum class Request { Local, Remote };

  DefenceMode(Services& services, Journal& journal, TFormModel& form, MainFrame& frame,
              Gauges& gauges, SiteStatus& status);

  // Arms when the button's caption says so, else disarms.
  void SwitchModeBtnClick(Request request);
  bool Armed() const { return status_.Armed; }

  // Whether recording is on.  Unset: the record button's pressed state.
  std::function<bool()> IsRecording;
  // Whether the program is being closed (a countdown that lets the window's
  // messages run may see the shutdown run in its middle).  Unset: never.
  std::function<bool()> Closing;

 private:
  void Arm();
  void Disarm(Request request);
  bool Recording() const;

  Services& s_;
  Journal& journal_;
  TFormModel& form_;
  MainFrame& frame_;
  Gauges& gauges_;
  SiteStatus& status_;
};

}  // namespace zv
