#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

namespace {

// A spin edit followed by its unit, kept to its own width.
QWidget* SpinWithUnit(TSpinEdit& spin, const char* unit, QWidget* parent, int step = 1) {
  auto* w = new QWidget(parent);
  auto* l = new QHBoxLayout(w);
  l->setContentsMargins(0, 0, 0, 0);
  QSpinBox* s = BindSpin(spin, w);
  s->setSingleStep(step);
  s->setMaximumWidth(90);
  l->addWidget(s);
  if (*unit) l->addWidget(new QLabel(unit, w));
  l->addStretch();
  return w;
}

// "Добавить" / "Удалить" under the Object list, and the selected Object's
// fields with "Принять по умолчанию" on the right.
void AddObjectFields(TFormModel& f, PageGrid& g, QWidget* page) {
  auto* buttons = new QWidget(page);
  auto* bl = new QHBoxLayout(buttons);
  bl->setContentsMargins(0, 0, 0, 0);
  bl->addWidget(BindButton(f.AddObject, buttons));
  bl->addWidget(BindButton(f.DelObject, buttons));
  g.Cell(5, 0, buttons);

  auto* box = new QGroupBox(" Настройки для конкретного объекта списка ", page);
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(4, 2, 4, 2);
  grid->setVerticalSpacing(2);
  auto* left = new QFormLayout();
  left->addRow("Объект :", BindEdit(f.ObjectName, box));
  left->addRow("Адрес :", BindEdit(f.ObjectAddress, box));
  left->addRow("Телефон на объекте :", BindEdit(f.ObjectTelephone, box));
  auto* owner = new QLabel("Дополнительные телефоны владельца :", box);
  owner->setWordWrap(true);
  left->addRow(owner, BindEdit(f.ObjectOwnerTelephones, box));
  left->addRow("Доп-я информация :", BindEdit(f.ObjectAddInfo, box));
  left->addRow("IP-адрес :", BindEdit(f.ObjectIPAddress, box));
  grid->addLayout(left, 0, 0);

  auto* right = new QFormLayout();
  QWidget* id = SpinWithUnit(f.ObjID, "", box);
  // The ID is checked against the other Objects' once typed in, not per digit.
  id->findChild<QSpinBox*>()->setKeyboardTracking(false);
  right->addRow("ID :", id);
  right->addRow("Кол-во видеокамер :", SpinWithUnit(f.ObjCamerasAmount, "", box));
  right->addRow("Ждать ответа", SpinWithUnit(f.ServerAnswerWaitTime, "секунд", box));
  right->addRow(new QLabel("Повторять звонок, если занято, в течение", box));
  auto* recall = new QWidget(box);
  auto* rl = new QHBoxLayout(recall);
  rl->setContentsMargins(0, 0, 0, 0);
  rl->addWidget(SpinWithUnit(f.ServerRecallTime, "минут, через", recall));
  rl->addWidget(SpinWithUnit(f.ServerRecallPeriod, "секунд", recall, 10));
  rl->addStretch();
  right->addRow(recall);
  grid->addLayout(right, 0, 1);

  auto* test = new QGroupBox(" Служебный звонок в режиме охраны каждые ", box);
  auto* tl = new QVBoxLayout(test);
  tl->setContentsMargins(4, 2, 4, 2);
  tl->addWidget(SpinWithUnit(f.ServerTestCallPeriod, "минут :", test));
  tl->addWidget(BindRadioGroup(f.ServerTesting, "", test));
  grid->addWidget(test, 0, 2);
  grid->addWidget(BindButton(f.SetObjDefault, box), 1, 2);
  grid->setColumnStretch(0, 1);
  g.Cell(0, 5, box, 6, 1);
}

}  // namespace

QWidget* BuildObjectsPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new QWidget(parent);
  PageGrid g(page);
  g.Cell(0, 0, BindCheckList(f.ObjectListBox, true, page), 5, 1);
  g.Cell(0, 1, BindRadioGroup(f.ServerCommType, " Связь с объектами ", page), 3, 2);
  g.Row(3, 1, "Модем :", BindCombo(f.ServerModemType, page));
  g.Row(4, 1, "COM-порт :", BindSpin(f.ServerComPort, page));
  g.Row(0, 3, "Звуковой сигнал :", BindEdit(f.BeepStr, page));
  AddObjectFields(f, g, page);
  g.Finish(6, 5);
  return page;
}

}  // namespace zv::ui
