#include <QHBoxLayout>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>

#include "detect/ViewerPanel.h"
#include "ui/Bind.h"
#include "ui/Guard.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

namespace {

template <class W, class F>
void Follow(W* w, TControl& c, F f) {
  f();
  const int id = c.Changed.Connect(f);
  QObject::connect(w, &QObject::destroyed, [&c, id] { c.Changed.Disconnect(id); });
}

// A horizontal slider bound to a spin value with its range.
QSlider* BindSlider(TSpinEdit& c, QWidget* parent) {
  auto* w = new QSlider(Qt::Horizontal, parent);
  ApplyCommon(w, c);
  Follow(w, c, [w, &c] {
    QSignalBlocker b(w);
    w->setRange(c.MinValue(), std::max(c.MinValue(), c.MaxValue()));
    w->setValue(c.Value());
  });
  QObject::connect(w, &QSlider::valueChanged, [&c](int v) { Guarded([&] { c.SetValue(v); }); });
  return w;
}

QLabel* BindLabel(TLabel& c, QWidget* parent) {
  auto* w = new QLabel(parent);
  ApplyCommon(w, c);
  Follow(w, c, [w, &c] { w->setText(QString::fromStdString(c.Caption())); });
  return w;
}

QColor Rgb(TColor c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

// The change graph of the viewed pair, painted from the core's geometry.
class ChangeGraphBox final : public QWidget {
 public:
  ChangeGraphBox(ViewerPanel& viewer, QWidget* parent) : QWidget(parent), viewer_(viewer) {
    setObjectName("ViewChangeBox");
    setFixedSize(ViewerPanel::kGraphWidth, ViewerPanel::kGraphHeight);
    const int id = viewer.GraphChanged.Connect([this] { update(); });
    connect(this, &QObject::destroyed, [&viewer, id] { viewer.GraphChanged.Disconnect(id); });
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    const int w = ViewerPanel::kGraphWidth, h = ViewerPanel::kGraphHeight;
    const ChangeGraph& g = viewer_.Graph;
    QPainter p(this);
    p.fillRect(0, 0, w, h, Qt::white);
    p.setPen(Qt::black);
    p.drawRect(0, 0, w - 1, h - 1);
    for (const GraphColumn& c : g.columns) {
      p.setPen(QColor(0, 0, 128));
      p.drawLine(c.x, h - 1, c.x, c.top);
      if (c.red) {
        p.setPen(Qt::red);
        p.drawLine(c.x, c.redFrom, c.x, c.top);
      }
    }
    p.setPen(g.thresholdPen == PenColor::Red    ? QColor(Qt::red)
             : g.thresholdPen == PenColor::Navy ? QColor(0, 0, 128)
                                                : QColor(Qt::black));
    p.drawLine(1, g.thresholdY, w, g.thresholdY);
  }

 private:
  ViewerPanel& viewer_;
};

// The site and camera lists are drawn in their sites' colours.
void ColourItems(QListWidget* w, bool cameras, ViewerPanel& viewer) {
  const QPalette pal = w->palette();
  for (int i = 0; i < w->count(); ++i) {
    const bool selected = w->currentRow() == i;
    const ListItemLook look =
        cameras ? viewer.CamViewItem(i, selected) : viewer.ObjViewItem(i, selected);
    QListWidgetItem* it = w->item(i);
    it->setText(QString::fromStdString(look.caption));
    it->setForeground(Rgb(look.text));
    it->setBackground(look.systemBackground ? pal.color(QPalette::ToolTipBase)
                                            : Rgb(look.background));
  }
}

QListWidget* ColouredList(TCheckListBox& c, bool cameras, ViewerPanel& viewer, QWidget* parent) {
  QListWidget* w = BindCheckList(c, true, parent);
  Follow(w, c, [w, &c, cameras, &viewer] {
    if (cameras && !c.OwnerDraw) return;
    QSignalBlocker b(w);
    ColourItems(w, cameras, viewer);
  });
  QObject::connect(w, &QListWidget::currentRowChanged, [w, &c, cameras, &viewer](int) {
    if (cameras && !c.OwnerDraw) return;
    QSignalBlocker b(w);
    ColourItems(w, cameras, viewer);
  });
  return w;
}

}  // namespace

// The "Просмотр" page: the viewed pair, its slider and play buttons, the
// change graph, the alarm sound and the site and camera lists.
QWidget* BuildViewPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  ViewerPanel& viewer = *app.viewer;
  auto* page = new QWidget(parent);
  PageGrid g(page);
  g.Row(0, 0, "Файл просмотра :", BindEdit(f.ViewFileName, page));

  auto* nav = new QWidget(page);
  auto* nl = new QHBoxLayout(nav);
  nl->setContentsMargins(0, 0, 0, 0);
  nl->addWidget(BindButton(f.BackwardButton, nav));
  nl->addWidget(BindButton(f.PrevCadr, nav));
  nl->addWidget(BindSlider(f.ViewSlider, nav), 1);
  nl->addWidget(BindLabel(f.MaxValueLabel, nav));
  nl->addWidget(BindButton(f.NextCadr, nav));
  nl->addWidget(BindButton(f.ForwardButton, nav));
  g.Cell(1, 0, nav, 1, 2);
  g.Cell(2, 0, new ChangeGraphBox(viewer, page), 1, 2);
  g.Row(3, 0, "Скорость просмотра (кадров в секунду) :", BindFloatSpin(f.ViewFreq, page));

  auto* sound = new QWidget(page);
  ApplyCommon(sound, f.SoundPanel);
  auto* sl = new QHBoxLayout(sound);
  sl->setContentsMargins(0, 0, 0, 0);
  sl->addWidget(BindButton(f.PlaySound, sound));
  sl->addWidget(BindButton(f.StopSound, sound));
  sl->addWidget(BindSlider(f.SoundSlider, sound), 1);
  g.Cell(4, 0, sound, 1, 2);

  g.Cell(0, 2, BindCheckBox(f.AllCams, "Все камеры", page));
  g.Cell(0, 3, BindButton(f.ViewCamsExpand, page));
  g.Cell(1, 2, ColouredList(f.CamViewListBox, true, viewer, page), 4, 2);
  auto* objPanel = new QWidget(page);
  ApplyCommon(objPanel, f.ObjViewPanel);
  auto* ol = new QHBoxLayout(objPanel);
  ol->setContentsMargins(0, 0, 0, 0);
  ol->addWidget(ColouredList(f.ObjViewListBox, false, viewer, objPanel));
  g.Cell(0, 4, objPanel, 5, 1);
  g.Finish(5, 5);
  return page;
}

}  // namespace zv::ui
