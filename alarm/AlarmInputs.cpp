#include "alarm/AlarmInputs.h"

#include "app/Application.h"
#include "video/Camera.h"

namespace zv {

AlarmInputs::AlarmInputs(Application& app)
    : gauges(app.services(), app.journal, app.form, app.settings, app.cameras, Status),
      defence(app.services(), app.journal, app.form, app.frame, gauges, Status),
      app_(app) {
  TFormModel& f = app.form;
  SetCaptions();
  f.SwitchModeBtn.OnClick = [this] { defence.SwitchModeBtnClick(DefenceMode::Request::Local); };
  defence.Closing = [&app] { return app.Closing; };
  f.EventComPort.OnChange = [this] { gauges.EventComPortChange(); };
  f.UseGaugesOnCom.OnClick = [this] { gauges.EventComPortChange(); };
  app.OnTimer3.push_back([this] { Timer3Timer(); });
  gauges.ReadCamera = [&app](int number, CameraMotionInput& out) {
    const TCamera* cam = app.cameras.GetAs<TCamera>(number);
    if (!cam) return false;
    out = {cam->ReactionEnabled, cam->ChangesEventPercent, cam->ChangeValue};
    return true;
  };
}

AlarmInputs::~AlarmInputs() {
  TFormModel& f = app_.form;
  f.SwitchModeBtn.OnClick = nullptr;
  f.EventComPort.OnChange = nullptr;
  f.UseGaugesOnCom.OnClick = nullptr;
}

void AlarmInputs::SetCaptions() {
  TFormModel& f = app_.form;
  f.UseGaugesOnCom.SetCaption("СОМ-порт :");
  f.UseGaugesOnLpt.SetCaption("LPT-порт :");
  f.CD.SetCaption("CD, pin 1(8)");
  f.DSR.SetCaption("DSR, pin 6(6)");
  f.CTS.SetCaption("CTS, pin 8(5)");
  f.NotAck.SetCaption("^Ack, pin 10");
  f.Busy.SetCaption("Busy, pin 11");
  f.PaperOut.SetCaption("Paper оut, pin 12");
  f.SelectIn.SetCaption("Select in, pin 13");
  f.NotError.SetCaption("^Error, pin 15");
  f.EventCamOn.SetCaption("По изменению картинки свыше");
}

void AlarmInputs::OpenPorts() {
  if (!app_.settings.ServerMode) gauges.EventComPortChange();
}

void AlarmInputs::Timer3Timer() {
  if (!app_.settings.ServerMode) LastAllClear = gauges.Poll();
}

}  // namespace zv
