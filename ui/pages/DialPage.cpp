#include <QClipboard>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/Link.h"
#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

namespace {

// The call list with "Добавить" / "Удалить" under it.
void AddAbonentList(TFormModel& f, PageArea* page) {
  QWidget* block = NewBlock(page);
  auto* l = new QVBoxLayout(block);
  l->setContentsMargins(0, 0, 0, 0);
  l->setSpacing(2);
  QListWidget* list = BindCheckList(f.AbonentListBox, false, block);
  list->setFixedSize(150, 120);
  l->addWidget(list);
  auto* buttons = new QHBoxLayout();
  buttons->addWidget(BindButton(f.AddAbonent, block));
  buttons->addWidget(BindButton(f.DelAbonent, block));
  l->addLayout(buttons);
  l->addStretch();
}

// The selected Abonent's fields with "Принять по умолчанию".
void AddAbonentFields(TFormModel& f, PageArea* page) {
  auto* box = new QGroupBox(" Настройки для конкретного абонента списка ", page->Content());
  auto* fl = new QFormLayout(box);
  fl->setContentsMargins(4, 2, 4, 2);
  fl->setVerticalSpacing(2);
  fl->addRow("Абонент :", BindEdit(f.AbonName, box));
  fl->addRow("Телефон :", BindEdit(f.AbonNumber, box));
  auto* wait = new QWidget(box);
  auto* wl = new QHBoxLayout(wait);
  wl->setContentsMargins(0, 0, 0, 0);
  wl->addWidget(BindSpin(f.ClientAnswerWaitTime, wait));
  wl->addWidget(new QLabel("секунд", wait));
  wl->addStretch();
  fl->addRow("Ждать ответа", wait);
  fl->addRow(new QLabel("Повторять звонок, если занято, в течение", box));
  auto* recall = new QWidget(box);
  auto* rl = new QHBoxLayout(recall);
  rl->setContentsMargins(0, 0, 0, 0);
  rl->addWidget(BindSpin(f.ClientRecallTime, recall));
  rl->addWidget(new QLabel("минут, через", recall));
  QSpinBox* period = BindSpin(f.ClientRecallPeriod, recall);
  period->setSingleStep(10);
  rl->addWidget(period);
  rl->addWidget(new QLabel("секунд", recall));
  rl->addStretch();
  fl->addRow(recall);
  fl->addRow(BindButton(f.SetAbonDefault, box));
  page->AddBlock(box);
}

// The link to the station: its kind and addresses, the modem and its port,
// the dialling, the service call's period, the voice message with its
// test, record and stop buttons, and the link key.
void AddLinkFields(TFormModel& f, LinkSubsystem& link, PageArea* page) {
  QWidget* kind = NewBlock(page);
  PageGrid k(kind);
  k.Cell(0, 0, BindRadioGroup(f.ConnectType, " Тип связи ", kind), 1, 2);
  k.Cell(1, 0, BindRadioGroup(f.ClientCommType, " Связь с сервером ", kind), 1, 2);
  k.Row(2, 0, "Адреса серверов :", BindEdit(f.ServerAddresses, kind));
  k.Finish(3);

  QWidget* modem = NewBlock(page);
  PageGrid m(modem);
  m.Row(0, 0, "Модем :", BindCombo(f.ClientModemType, modem));
  m.Row(1, 0, "COM-порт модема :", BindSpin(f.ClientComPort, modem));
  m.Cell(2, 0, BindRadioGroup(f.DialType, " Набор номера ", modem), 1, 2);
  auto* period = new QWidget(modem);
  auto* pl = new QHBoxLayout(period);
  pl->setContentsMargins(0, 0, 0, 0);
  pl->addWidget(BindSpin(link.ClientTestCallPeriod, period));
  pl->addWidget(new QLabel("минут", period));
  m.Row(3, 0, "Служебный звонок каждые", period);
  m.Finish(4);

  QWidget* voice = NewBlock(page);
  auto* vl = new QHBoxLayout(voice);
  vl->setContentsMargins(0, 0, 0, 0);
  vl->addWidget(new QLabel("Голосовое сообщение :", voice));
  QLineEdit* file = BindEdit(link.WaveFile, voice);
  file->setMinimumWidth(200);
  vl->addWidget(file, 1);
  vl->addWidget(BindButton(link.WaveTest, voice));
  vl->addWidget(BindButton(link.WaveRec, voice));
  vl->addWidget(BindButton(link.RecStopBtn, voice));

  // The link key: typed or pasted, made anew, copied for the station.
  QWidget* key = NewBlock(page);
  auto* kl = new QHBoxLayout(key);
  kl->setContentsMargins(0, 0, 0, 0);
  kl->addWidget(new QLabel("Ключ связи :", key));
  QLineEdit* keyEdit = BindEdit(f.LinkKey, key);
  keyEdit->setMinimumWidth(200);
  keyEdit->setToolTip(
      "64 шестнадцатеричные цифры; тот же ключ задаётся в записи объекта на сервере. "
      "Пусто: связь без ключа, не защищена");
  kl->addWidget(keyEdit, 1);
  kl->addWidget(BindButton(f.NewLinkKey, key));
  kl->addWidget(BindButton(f.CopyLinkKey, key));
  f.CopyLinkKey.OnClick = [&f] {
    QGuiApplication::clipboard()->setText(QString::fromStdString(f.LinkKey.Text()));
  };
}

}  // namespace

QWidget* BuildDialPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new PageArea(parent);
  AddAbonentList(f, page);
  AddAbonentFields(f, page);
  AddLinkFields(f, *app.link, page);
  return page;
}

}  // namespace zv::ui
