#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

QWidget* BuildGaugesPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new QWidget(parent);
  PageGrid g(page);
  g.Cell(0, 0, BindCheckBox(f.UseGaugesOnCom, "Датчики на COM-порту :", page));
  g.Cell(0, 1, BindSpin(f.EventComPort, page));
  TCheckBox* com[3] = {&f.CD, &f.CTS, &f.DSR};
  const char* comCaps[3] = {"CD, pin 1(8)", "CTS, pin 8(5)", "DSR, pin 6(6)"};
  for (int i = 0; i < 3; ++i) {
    g.Cell(1 + i, 0, BindCheckBox(*com[i], QString::fromUtf8(comCaps[i]), page));
    g.Cell(1 + i, 1, BindEdit(f.Edit(i + 1), page));
  }
  g.Cell(0, 2, BindCheckBox(f.UseGaugesOnLpt, "Датчики на LPT-порту :", page));
  g.Cell(0, 3, BindSpin(f.EventLPTPort, page));
  TCheckBox* lpt[5] = {&f.NotError, &f.NotAck, &f.PaperOut, &f.SelectIn, &f.Busy};
  const char* lptCaps[5] = {"Error, pin 15", "Ack, pin 10", "Paper out, pin 12",
                            "Select in, pin 13", "Busy, pin 11"};
  for (int i = 0; i < 5; ++i) {
    g.Cell(1 + i, 2, BindCheckBox(*lpt[i], QString::fromUtf8(lptCaps[i]), page));
    g.Cell(1 + i, 3, BindEdit(f.Edit(i + 4), page));
  }
  g.Row(0, 4, "Задержка постановки, с :", BindSpin(f.DefenceOnDelay, page));
  g.Row(1, 4, "Задержка реакции, с :", BindSpin(f.DefenceOffDelay, page));
  g.Row(2, 4, "DTMF постановки :", BindEdit(f.DefenceOnDTMF, page));
  g.Row(3, 4, "DTMF снятия :", BindEdit(f.DefenceOffDTMF, page));
  g.Finish(6, 6);
  return page;
}

}  // namespace zv::ui
