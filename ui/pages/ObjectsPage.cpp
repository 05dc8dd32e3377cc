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

// The directory of Objects with "Добавить" / "Удалить" under it.
void AddObjectList(TFormModel& f, PageArea* page) {
  QWidget* block = NewBlock(page);
  auto* l = new QVBoxLayout(block);
  l->setContentsMargins(0, 0, 0, 0);
  l->setSpacing(2);
  QListWidget* list = BindCheckList(f.ObjectListBox, true, block);
  list->setFixedSize(150, 130);
  l->addWidget(list);
  l->addWidget(BindButton(f.AddObject, block));
  l->addWidget(BindButton(f.DelObject, block));
  l->addStretch();
}

// An edit wide enough for a name, an address or a list of telephones.
QLineEdit* WideEdit(TEdit& c, QWidget* parent) {
  QLineEdit* e = BindEdit(c, parent);
  e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QString(14, QChar(0x0448))));
  return e;
}

// The selected Object's fields.
void AddObjectFields(TFormModel& f, PageArea* page) {
  auto* box = new QGroupBox(" Настройки для конкретного объекта списка ", page->Content());
  auto* form = new QFormLayout(box);
  form->setContentsMargins(4, 2, 4, 2);
  form->setVerticalSpacing(2);
  form->addRow("Объект :", WideEdit(f.ObjectName, box));
  form->addRow("Адрес :", WideEdit(f.ObjectAddress, box));
  form->addRow("Телефон на объекте :", WideEdit(f.ObjectTelephone, box));
  auto* owner = new QLabel("Дополнительные телефоны владельца :", box);
  owner->setWordWrap(true);
  form->addRow(owner, WideEdit(f.ObjectOwnerTelephones, box));
  form->addRow("Доп-я информация :", WideEdit(f.ObjectAddInfo, box));
  form->addRow("IP-адрес :", WideEdit(f.ObjectIPAddress, box));
  QLineEdit* key = WideEdit(f.ObjectLinkKey, box);
  key->setToolTip(
      "Ключ связи объекта: 64 шестнадцатеричные цифры, тот же, что в настройках связи на "
      "объекте. Пусто: связь с объектом не защищена");
  form->addRow("Ключ связи :", key);
  page->AddBlock(box);
}

// The Object's service call while it is armed.
void AddServiceCall(TFormModel& f, PageArea* page) {
  auto* test = new QGroupBox(" Служебный звонок в режиме охраны каждые ", page->Content());
  auto* tl = new QVBoxLayout(test);
  tl->setContentsMargins(4, 2, 4, 2);
  tl->addWidget(SpinWithUnit(f.ServerTestCallPeriod, "минут :", test));
  tl->addWidget(BindRadioGroup(f.ServerTesting, "", test));
  tl->addStretch();
  page->AddBlock(test);
}

// The Object's ID and cameras, the timing of calls to it and "Принять по
// умолчанию".
void AddObjectCalls(TFormModel& f, PageArea* page) {
  QWidget* block = NewBlock(page);
  auto* form = new QFormLayout(block);
  form->setContentsMargins(0, 0, 0, 0);
  form->setVerticalSpacing(2);
  QWidget* id = SpinWithUnit(f.ObjID, "", block);
  // The ID is checked against the other Objects' once typed in, not per digit.
  id->findChild<QSpinBox*>()->setKeyboardTracking(false);
  form->addRow("ID :", id);
  form->addRow("Кол-во видеокамер :", SpinWithUnit(f.ObjCamerasAmount, "", block));
  form->addRow("Ждать ответа", SpinWithUnit(f.ServerAnswerWaitTime, "секунд", block));
  form->addRow(new QLabel("Повторять звонок, если занято, в течение", block));
  auto* recall = new QWidget(block);
  auto* rl = new QHBoxLayout(recall);
  rl->setContentsMargins(0, 0, 0, 0);
  rl->addWidget(SpinWithUnit(f.ServerRecallTime, "минут, через", recall));
  rl->addWidget(SpinWithUnit(f.ServerRecallPeriod, "секунд", recall, 10));
  rl->addStretch();
  form->addRow(recall);
  form->addRow(BindButton(f.SetObjDefault, block));
}

}  // namespace

// The "Объекты" page: the directory, the selected Object's fields and
// calls, and the station's own link.
QWidget* BuildObjectsPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new PageArea(parent);
  AddObjectList(f, page);
  AddObjectFields(f, page);
  QWidget* link = NewBlock(page);
  PageGrid g(link);
  g.Cell(0, 0, BindRadioGroup(f.ServerCommType, " Связь с объектами ", link), 1, 2);
  g.Row(1, 0, "Модем :", BindCombo(f.ServerModemType, link));
  g.Row(2, 0, "COM-порт :", BindSpin(f.ServerComPort, link));
  g.Cell(3, 0, new QLabel("Звуковой сигнал :", link), 1, 2);
  g.Cell(4, 0, BindEdit(f.BeepStr, link), 1, 2);
  g.Finish(5);
  AddServiceCall(f, page);
  AddObjectCalls(f, page);
  return page;
}

}  // namespace zv::ui
