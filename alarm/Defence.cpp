#include "alarm/Defence.h"

#include <string>

#include "app/Utils.h"

namespace zv {

DefenceMode::DefenceMode(Services& services, Journal& journal, TFormModel& form, MainFrame& frame,
                         Gauges& gauges, SiteStatus& status)
    : s_(services),
      journal_(journal),
      form_(form),
      frame_(frame),
      gauges_(gauges),
      status_(status) {
  form_.SwitchModeBtn.SetFontColor(status_.Armed ? kArmedColor : kDisarmedColor);
}

bool DefenceMode::Recording() const {
  return IsRecording ? IsRecording() : form_.RecordBtn.Down();
}

void DefenceMode::SwitchModeBtnClick(Request request) {
  form_.SwitchModeBtn.SetEnabled(false);
  struct Reenable {
    TButton& b;
    ~Reenable() { b.SetEnabled(true); }
  } reenable{form_.SwitchModeBtn};
  if (form_.SwitchModeBtn.Caption() == kArmCaption)
    Arm();
  else
    Disarm(request);
}

void DefenceMode::Arm() {
  if (!gauges_.Poll()) {
    journal_.ShowStatus("Попытка постановки на охрану при сработавших датчиках !", jkNotice, 1);
    Tone(s_, 8000, 100);
    return;
  }
  // Recording starts now and keeps running even if the countdown is cancelled.
  if (!Recording()) form_.RecordBtn.Click();
  frame_.EscapePressed = false;
  journal_.AddJournal("Постановка на охрану...", jkNotice);
  const int delay = form_.DefenceOnDelay.Value();
  for (int n = delay; n >= 0; --n) {
    journal_.ShowStatus("Внимание ! Постановка на охрану, осталось " + std::to_string(n) +
                            " сек. (<Esc> - отмена постановки)...",
                        jkNotice, 0);
    s_.clock.Sleep(990);
    if (n > 0)
      Tone(s_, 400, 10);
    else
      Tone(s_, 1000, 300);
    s_.pump.ProcessEvents();  // an Esc key press is seen here
    // Closed meanwhile: the program has ended, nothing is armed any more.
    if (Closing && Closing()) return;
    if (frame_.EscapePressed) {
      journal_.ShowStatus("Постановка на охрану отменена", jkNotice, 1);
      frame_.EscapePressed = false;
      return;
    }
  }
  form_.PageControl1.SetVisible(false);
  status_.Armed = true;
  journal_.ShowStatus("Режим охраны установлен", jkNotice, 1);
  form_.SwitchModeBtn.SetCaption(kDisarmCaption);
  form_.SwitchModeBtn.SetFontColor(kArmedColor);
}

void DefenceMode::Disarm(Request request) {
  if (request == Request::Local) {
    std::string answer;
    if (!s_.dialogs.InputQuery("Проверка прав доступа...", "Введите пароль хозяина :", answer))
      answer.clear();
    if (answer != kOwnerPassword) {
      journal_.ReportError("Неверный пароль !", jcWrongPassword, 1);
      return;
    }
  }
  status_.Armed = false;
  journal_.ShowStatus("Режим охраны снят", jkNotice, 1);
  form_.PageControl1.SetVisible(true);
  form_.SwitchModeBtn.SetCaption(kArmCaption);
  form_.SwitchModeBtn.SetFontColor(kDisarmedColor);
  status_.DispatchActive = false;
  if (Recording()) form_.RecordBtn.Click();
}

}  // namespace zv
