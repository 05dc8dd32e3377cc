#include <QGridLayout>
#include <QGroupBox>

#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

namespace {
QLabel* ColourLabel(const QString& text, TColor colour, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText, ToQColor(colour, p));
  l->setPalette(p);
  return l;
}
}  // namespace

// The "Датчики" page.  Captions come from the core; each gauge's check box
// is drawn in its state colour, underlined while switched on.
QWidget* BuildGaugesPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new QWidget(parent);
  PageGrid g(page);
  g.Cell(0, 0, BindCheckBox(f.UseGaugesOnCom, "", page));
  g.Cell(0, 1, BindSpin(f.EventComPort, page));
  TCheckBox* com[3] = {&f.CD, &f.DSR, &f.CTS};
  for (int i = 0; i < 3; ++i) {
    g.Cell(1 + i, 0, BindCheckBox(*com[i], "", page));
    g.Cell(1 + i, 1, BindEdit(f.Edit(i + 1), page));
  }
  g.Cell(0, 2, BindCheckBox(f.UseGaugesOnLpt, "", page));
  g.Cell(0, 3, BindSpin(f.EventLPTPort, page));
  TCheckBox* lpt[5] = {&f.NotAck, &f.Busy, &f.PaperOut, &f.SelectIn, &f.NotError};
  for (int i = 0; i < 5; ++i) {
    g.Cell(1 + i, 2, BindCheckBox(*lpt[i], "", page));
    g.Cell(1 + i, 3, BindEdit(f.Edit(i + 4), page));
  }
  g.Cell(4, 0, ColourLabel("Зелёный цвет - нормальное состояние датчика", colors::clGreen, page), 1,
         2);
  g.Cell(5, 0, ColourLabel("Красный цвет - сработка датчика", colors::clRed, page), 1, 2);

  auto* cam = new QGroupBox("Видеокамера", page);
  auto* cl = new QGridLayout(cam);
  cl->setContentsMargins(4, 2, 4, 2);
  cl->addWidget(BindCheckBox(f.EventCamOn, "", cam), 0, 0);
  cl->addWidget(BindFloatSpin(f.EventCamChanges, cam), 0, 1);
  cl->addWidget(new QLabel("% на камере :", cam), 1, 0);
  cl->addWidget(BindSpin(f.EventCam, cam), 1, 1);
  g.Cell(0, 4, cam, 2, 2);

  g.Row(2, 4, "Задержка постановки на охрану, с :", BindSpin(f.DefenceOnDelay, page));
  g.Row(3, 4, "Задержка реакции на сработку, с :", BindSpin(f.DefenceOffDelay, page));
  g.Row(4, 4, "DTMF-код постановки :", BindEdit(f.DefenceOnDTMF, page));
  g.Row(5, 4, "DTMF-код снятия :", BindEdit(f.DefenceOffDTMF, page));
  g.Finish(6, 6);
  return page;
}

}  // namespace zv::ui
