#include <QGroupBox>
#include <QPainter>

#include "detect/RecordPanel.h"
#include "ui/Bind.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

namespace {

QRect FromCorners(const BarRect& r) {
  return QRect(QPoint(std::min(r.x1, r.x2), std::min(r.y1, r.y2)),
               QPoint(std::max(r.x1, r.x2) - 1, std::max(r.y1, r.y2) - 1));
}

// The live change bar of camera WriteCam, painted from the core's geometry.
class ChangeBarBox final : public QWidget {
 public:
  ChangeBarBox(RecordPanel& panel, QWidget* parent) : QWidget(parent), panel_(panel) {
    setObjectName("RecChangeBox");
    setFixedSize(RecordPanel::kBarWidth, RecordPanel::kBarHeight);
    const int id = panel.BarChanged.Connect([this] { update(); });
    connect(this, &QObject::destroyed, [&panel, id] { panel.BarChanged.Disconnect(id); });
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    const ChangeBarGeometry& b = panel_.Bar;
    const int w = RecordPanel::kBarWidth;
    QPainter p(this);
    p.fillRect(FromCorners(b.outline), Qt::white);
    p.setPen(Qt::black);
    p.drawRect(FromCorners(b.outline).adjusted(0, 0, 0, 0));
    p.fillRect(FromCorners(b.level), Qt::black);
    if (b.hasIgnoreFill) p.fillRect(FromCorners(b.ignoreFill), QColor(0, 0, 128));
    if (b.hasEventFill) p.fillRect(FromCorners(b.eventFill), Qt::red);
    p.setPen(Qt::black);
    p.drawLine(1, b.eventLineY, w, b.eventLineY);
    p.setPen(QColor(128, 0, 0));
    p.drawLine(1, b.ignoreLineY, w, b.ignoreLineY);
  }

 private:
  RecordPanel& panel_;
};

QLabel* BindLabel(TLabel& c, QWidget* parent) {
  auto* w = new QLabel(parent);
  ApplyCommon(w, c);
  auto apply = [w, &c] { w->setText(QString::fromStdString(c.Caption())); };
  apply();
  const int id = c.Changed.Connect(apply);
  QObject::connect(w, &QObject::destroyed, [&c, id] { c.Changed.Disconnect(id); });
  return w;
}

}  // namespace

// The "Запись" page: the pair and the record button with the coding, the
// volume limit, the panel of camera WriteCam's detection settings and the
// live bar, each a block of the page.
QWidget* BuildRecordPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* page = new PageArea(parent);

  QWidget* file = NewBlock(page);
  PageGrid g(file);
  g.Row(0, 0, "Файл записи :", BindEdit(f.RecFileName, file));
  g.Cell(0, 2, BindButton(f.RecordBtn, file));
  g.Row(1, 0, "ID объекта наблюдения :", BindSpin(f.ObjNum, file));
  g.Cell(2, 0, BindCheckBox(f.Compression, "JPEG-компрессия :", file));
  g.Cell(2, 1, BindSpin(f.JPEGQuality, file));
  g.Row(3, 0, "Размер кадра, байт :", BindLabel(f.FrameSizeLabel, file));
  g.Cell(4, 0, BindCheckBox(f.RecordSound, "Запись звука при сработке", file), 1, 3);
  g.Finish(5);

  QWidget* volume = NewBlock(page);
  PageGrid vg(volume);
  vg.Row(0, 0, "Объём файла, Мб :", BindSpin(f.VolumeLimit, volume));
  vg.Cell(1, 0, BindRadioGroup(f.VolumeLimitType, " При превышении объёма ", volume), 1, 2);
  vg.Finish(2);

  auto* cam = new QGroupBox("Камера", page->Content());
  PageGrid cg(cam);
  cg.grid()->setContentsMargins(4, 2, 4, 2);
  cg.Row(0, 0, "Номер камеры :", BindSpin(f.WriteCam, cam));
  cg.Cell(1, 0, BindRadioGroup(f.RecordingOn, " Запись ", cam), 3, 2);
  cg.Cell(4, 0, BindCheckBox(f.ReactionOn, "", cam), 1, 2);
  cg.Row(0, 2, "Порог записи, % :", BindFloatSpin(f.ChangeLimit, cam));
  cg.Row(1, 2, "Порог тревоги, % :", BindFloatSpin(f.EventLimit, cam));
  cg.Row(2, 2, "Частота кадров в минуту :", BindFloatSpin(f.RecFreq, cam));
  cg.Cell(4, 2, BindCheckBox(f.ViewDiffCadr, "", cam), 1, 2);
  cg.Finish(5);
  page->AddBlock(cam);
  page->AddBlock(new ChangeBarBox(*app.record, page->Content()));
  return page;
}

}  // namespace zv::ui
