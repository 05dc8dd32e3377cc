#include "alarm/AlarmInputs.h"

#include "video/Camera.h"

namespace zv {

AlarmInputs::AlarmInputs(Services& services, Journal& journal, TFormModel& form, MainFrame& frame,
                         Settings& settings, CameraTable& cameras,
                         std::unique_ptr<IModemLines> lines, std::unique_ptr<IParallelStatus> lpt)
    : gauges(services, journal, form, settings, cameras, Status, std::move(lines), std::move(lpt)),
      defence(services, journal, form, frame, gauges, Status),
      form_(form),
      settings_(settings) {
  TFormModel& f = form_;
  SetCaptions();
  f.SwitchModeBtn.OnClick = [this] { defence.SwitchModeBtnClick(DefenceMode::Request::Local); };
  f.EventComPort.OnChange = [this] { gauges.EventComPortChange(); };
  f.UseGaugesOnCom.OnClick = [this] { gauges.EventComPortChange(); };
  gauges.ReadCamera = [&cameras](int number, CameraMotionInput& out) {
    const TCamera* cam = cameras.GetAs<TCamera>(number);
    if (!cam) return false;
    out = {cam->ReactionEnabled, cam->ChangesEventPercent, cam->ChangeValue};
    return true;
  };
}

AlarmInputs::~AlarmInputs() {
  TFormModel& f = form_;
  f.SwitchModeBtn.OnClick = nullptr;
  f.EventComPort.OnChange = nullptr;
  f.UseGaugesOnCom.OnClick = nullptr;
}

void AlarmInputs::SetCaptions() {
  TFormModel& f = form_;
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
  if (!settings_.ServerMode) gauges.EventComPortChange();
}

void AlarmInputs::PollGauges() {
  if (!settings_.ServerMode) LastAllClear = gauges.Poll();
}

}  // namespace zv
