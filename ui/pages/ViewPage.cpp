#include <QHBoxLayout>

#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

QWidget* BuildViewPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new QWidget(parent);
  PageGrid g(page);
  g.Row(0, 0, "Файл просмотра :", BindEdit(f.ViewFileName, page));
  g.Row(1, 0, "Кадров в секунду :", BindFloatSpin(f.ViewFreq, page));
  g.Cell(2, 0, BindCheckBox(f.AllCams, "Все камеры", page), 1, 2);
  auto* cams = BindCheckList(f.CamViewListBox, true, page);
  g.Cell(0, 2, cams, 4, 1);
  auto* objPanel = new QWidget(page);
  ApplyCommon(objPanel, f.ObjViewPanel);
  auto* ol = new QHBoxLayout(objPanel);
  ol->setContentsMargins(0, 0, 0, 0);
  ol->addWidget(BindCheckList(f.ObjViewListBox, true, objPanel));
  g.Cell(0, 3, objPanel, 4, 1);
  g.Finish(4, 4);
  return page;
}

}  // namespace zv::ui
