#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

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
  g.Finish(5, 5);
  return page;
}

}  // namespace zv::ui
