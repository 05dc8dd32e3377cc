#include "ui/Bind.h"
#include "ui/CaptureDialogs.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

QWidget* BuildVideoPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new PageArea(parent);
  QWidget* cams = NewBlock(page);
  PageGrid g(cams);
  g.Row(0, 0, "Номер видеодрайвера :", BindSpin(f.VideoDriver, cams));
  g.Row(1, 0, "Количество камер :", BindSpin(f.CamerasAmount, cams));
  g.Row(2, 0, "Порог фильтра :", BindSpin(f.FilterDeep, cams));
  g.Finish(3);
  QWidget* switcher = NewBlock(page);
  PageGrid s(switcher);
  s.Cell(0, 0, BindCheckBox(f.UseSwitcher, "Коммутатор камер на COM-порту :", switcher));
  s.Cell(0, 1, BindSpin(f.SwitcherComPort, switcher));
  s.Row(1, 0, "Задержка переключения, мс :", BindSpin(f.SwitchDelay, switcher));
  s.Finish(2);
  page->AddBlock(BuildCaptureControls(app, page->Content()));
  return page;
}

}  // namespace zv::ui
