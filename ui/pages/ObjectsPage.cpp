#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

QWidget* BuildObjectsPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new QWidget(parent);
  PageGrid g(page);
  g.Cell(0, 0, BindCheckList(f.ObjectListBox, true, page), 5, 1);
  g.Cell(0, 1, BindRadioGroup(f.ServerCommType, " Связь с объектами ", page), 3, 2);
  g.Row(3, 1, "Модем :", BindCombo(f.ServerModemType, page));
  g.Row(4, 1, "COM-порт :", BindSpin(f.ServerComPort, page));
  g.Row(0, 3, "Звуковой сигнал :", BindEdit(f.BeepStr, page));
  g.Finish(5, 5);
  return page;
}

}  // namespace zv::ui
