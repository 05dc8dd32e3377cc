#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

QWidget* BuildRecordPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new QWidget(parent);
  PageGrid g(page);
  g.Row(0, 0, "Файл записи :", BindEdit(f.RecFileName, page));
  g.Cell(0, 2, BindButton(f.RecordBtn, page));
  g.Row(1, 0, "Номер объекта :", BindSpin(f.ObjNum, page));
  g.Row(2, 0, "Частота кадров в минуту :", BindFloatSpin(f.RecFreq, page));
  g.Row(3, 0, "Ограничение объёма, Мб :", BindSpin(f.VolumeLimit, page));
  g.Cell(0, 3, BindRadioGroup(f.RecordingOn, " Запись ", page), 2, 1);
  g.Row(2, 2, "Порог изменений, % :", BindFloatSpin(f.ChangeLimit, page));
  g.Cell(3, 3, BindRadioGroup(f.VolumeLimitType, " При превышении объёма ", page), 2, 1);
  g.Cell(4, 0, BindCheckBox(f.RecordSound, "Запись звука при сработке", page), 1, 2);
  g.Finish(5, 4);
  return page;
}

}  // namespace zv::ui
