#include "ui/Bind.h"
#include "ui/CaptureDialogs.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

QWidget* BuildVideoPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new QWidget(parent);
  PageGrid g(page);
  g.Row(0, 0, "Номер видеодрайвера :", BindSpin(f.VideoDriver, page));
  g.Row(1, 0, "Количество камер :", BindSpin(f.CamerasAmount, page));
  g.Cell(0, 2, BindCheckBox(f.UseSwitcher, "Коммутатор камер на COM-порту :", page));
  g.Cell(0, 3, BindSpin(f.SwitcherComPort, page));
  g.Row(1, 2, "Задержка переключения, мс :", BindSpin(f.SwitchDelay, page));
  g.Row(2, 0, "Порог фильтра :", BindSpin(f.FilterDeep, page));
  g.Cell(0, 4, BuildCaptureControls(app, page), 3, 1);
  g.Finish(3, 5);
  return page;
}

}  // namespace zv::ui
