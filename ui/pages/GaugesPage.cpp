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
  auto* page = new PageArea(parent);
  QWidget* comBlock = NewBlock(page);
  PageGrid g(comBlock);
  g.Cell(0, 0, BindCheckBox(f.UseGaugesOnCom, "", comBlock));
  g.Cell(0, 1, BindSpin(f.EventComPort, comBlock));
  TCheckBox* com[3] = {&f.CD, &f.DSR, &f.CTS};
  for (int i = 0; i < 3; ++i) {
    g.Cell(1 + i, 0, BindCheckBox(*com[i], "", comBlock));
    g.Cell(1 + i, 1, BindEdit(f.Edit(i + 1), comBlock));
  }
  g.Cell(4, 0,
         ColourLabel("Зелёный цвет - нормальное состояние датчика", colors::clGreen, comBlock), 1,
         2);
  g.Cell(5, 0, ColourLabel("Красный цвет - сработка датчика", colors::clRed, comBlock), 1, 2);
  g.Finish(6);

  QWidget* lptBlock = NewBlock(page);
  PageGrid l(lptBlock);
  l.Cell(0, 0, BindCheckBox(f.UseGaugesOnLpt, "", lptBlock));
  l.Cell(0, 1, BindSpin(f.EventLPTPort, lptBlock));
  TCheckBox* lpt[5] = {&f.NotAck, &f.Busy, &f.PaperOut, &f.SelectIn, &f.NotError};
  for (int i = 0; i < 5; ++i) {
    l.Cell(1 + i, 0, BindCheckBox(*lpt[i], "", lptBlock));
    l.Cell(1 + i, 1, BindEdit(f.Edit(i + 4), lptBlock));
  }
  l.Finish(6);

  QWidget* defence = NewBlock(page);
  PageGrid d(defence);
  auto* cam = new QGroupBox("Видеокамера", defence);
  auto* cl = new QGridLayout(cam);
  cl->setContentsMargins(4, 2, 4, 2);
  cl->addWidget(BindCheckBox(f.EventCamOn, "", cam), 0, 0);
  cl->addWidget(BindFloatSpin(f.EventCamChanges, cam), 0, 1);
  cl->addWidget(new QLabel("% на камере :", cam), 1, 0);
  cl->addWidget(BindSpin(f.EventCam, cam), 1, 1);
  d.Cell(0, 0, cam, 1, 2);
  d.Row(1, 0, "Задержка постановки на охрану, с :", BindSpin(f.DefenceOnDelay, defence));
  d.Row(2, 0, "Задержка реакции на сработку, с :", BindSpin(f.DefenceOffDelay, defence));
  d.Row(3, 0, "DTMF-код постановки :", BindEdit(f.DefenceOnDTMF, defence));
  d.Row(4, 0, "DTMF-код снятия :", BindEdit(f.DefenceOffDTMF, defence));
  d.Finish(5);
  return page;
}

}  // namespace zv::ui
