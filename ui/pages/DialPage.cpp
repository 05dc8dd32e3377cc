#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "link/Link.h"
#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

namespace {

// "Добавить" / "Удалить" under the call list, and the selected Abonent's
// fields with "Принять по умолчанию" on the right.
void AddAbonentFields(TFormModel& f, PageGrid& g, QWidget* page) {
  auto* buttons = new QWidget(page);
  auto* bl = new QHBoxLayout(buttons);
  bl->setContentsMargins(0, 0, 0, 0);
  bl->addWidget(BindButton(f.AddAbonent, buttons));
  bl->addWidget(BindButton(f.DelAbonent, buttons));
  g.Cell(5, 0, buttons);

  auto* box = new QGroupBox(" Настройки для конкретного абонента списка ", page);
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
  fl->addRow("Повторять звонок, если занято, в течение", recall);
  fl->addRow(BindButton(f.SetAbonDefault, box));
  g.Cell(0, 5, box, 6, 1);
}

// The voice message with its test, record and stop buttons, and the period
// of the site's service call.
void AddLinkFields(LinkSubsystem& link, PageGrid& g, QWidget* page) {
  auto* voice = new QWidget(page);
  auto* vl = new QHBoxLayout(voice);
  vl->setContentsMargins(0, 0, 0, 0);
  vl->addWidget(new QLabel("Голосовое сообщение :", voice));
  vl->addWidget(BindEdit(link.WaveFile, voice), 1);
  vl->addWidget(BindButton(link.WaveTest, voice));
  vl->addWidget(BindButton(link.WaveRec, voice));
  vl->addWidget(BindButton(link.RecStopBtn, voice));
  g.Cell(5, 1, voice, 1, 4);
  auto* period = new QWidget(page);
  auto* pl = new QHBoxLayout(period);
  pl->setContentsMargins(0, 0, 0, 0);
  pl->addWidget(BindSpin(link.ClientTestCallPeriod, period));
  pl->addWidget(new QLabel("минут", period));
  g.Row(4, 3, "Служебный звонок каждые", period);
}

}  // namespace

QWidget* BuildDialPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new QWidget(parent);
  PageGrid g(page);
  g.Cell(0, 0, BindCheckList(f.AbonentListBox, false, page), 5, 1);
  g.Cell(0, 1, BindRadioGroup(f.ConnectType, " Тип связи ", page), 2, 2);
  g.Cell(0, 3, BindRadioGroup(f.ClientCommType, " Связь с сервером ", page), 3, 2);
  g.Row(3, 3, "Адреса серверов :", BindEdit(f.ServerAddresses, page));
  g.Row(2, 1, "Модем :", BindCombo(f.ClientModemType, page));
  g.Row(3, 1, "COM-порт модема :", BindSpin(f.ClientComPort, page));
  g.Cell(4, 1, BindRadioGroup(f.DialType, " Набор номера ", page), 1, 2);
  AddAbonentFields(f, g, page);
  AddLinkFields(*app.link, g, page);
  g.Finish(6, 6);
  return page;
}

}  // namespace zv::ui
