#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

namespace {

QWidget* SpinWithUnit(TSpinEdit& spin, const char* unit, QWidget* parent, int step = 1) {
  auto* w = new QWidget(parent);
  auto* l = new QHBoxLayout(w);
  l->setContentsMargins(0, 0, 0, 0);
  QSpinBox* s = BindSpin(spin, w);
  s->setSingleStep(step);
  l->addWidget(s);
  l->addWidget(new QLabel(unit, w));
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
  left->addRow("Дополнительные телефоны владельца :", BindEdit(f.ObjectOwnerTelephones, box));
  left->addRow("Доп-я информация :", BindEdit(f.ObjectAddInfo, box));
  left->addRow("IP-адрес :", BindEdit(f.ObjectIPAddress, box));
  grid->addLayout(left, 0, 0);

  auto* right = new QFormLayout();
  right->addRow("ID :", BindSpin(f.ObjID, box));
  right->addRow("Кол-во видеокамер :", BindSpin(f.ObjCamerasAmount, box));
  right->addRow("Ждать ответа", SpinWithUnit(f.ServerAnswerWaitTime, "секунд", box));
  auto* recall = new QWidget(box);
  auto* rl = new QHBoxLayout(recall);
  rl->setContentsMargins(0, 0, 0, 0);
  rl->addWidget(SpinWithUnit(f.ServerRecallTime, "минут, через", recall));
  rl->addWidget(SpinWithUnit(f.ServerRecallPeriod, "секунд", recall, 10));
  right->addRow("Повторять звонок, если занято, в течение", recall);
  auto* test = new QGroupBox(" Служебный звонок в режиме охраны каждые ", box);
  auto* tl = new QHBoxLayout(test);
  tl->setContentsMargins(4, 2, 4, 2);
  tl->addWidget(SpinWithUnit(f.ServerTestCallPeriod, "минут :", test));
  tl->addWidget(BindRadioGroup(f.ServerTesting, "", test));
  right->addRow(test);
  right->addRow(BindButton(f.SetObjDefault, box));
  grid->addLayout(right, 0, 1);
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
  g.Finish(6, 6);
  return page;
}

}  // namespace zv::ui
