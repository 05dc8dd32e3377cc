#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QSlider>

#include "detect/ViewerPanel.h"
#include "ui/Bind.h"
#include "ui/ExportDialog.h"
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

// Lays a list's items out in the columns its control asks for (0: a single
// column), each column a share of the list's width.
class ListColumns final : public QObject {
 public:
  ListColumns(QListWidget* w, TCheckListBox& c)
      : QObject(w), w_(w), viewport_(w->viewport()), c_(c) {
    viewport_->installEventFilter(this);
    Follow(w, c, [this] { Apply(); });
  }
  void Apply() {
    const int n = c_.Columns();
    w_->setFlow(QListView::TopToBottom);
    if (n <= 0) {
      if (w_->isWrapping()) w_->setWrapping(false);
      if (w_->gridSize().isValid()) w_->setGridSize(QSize());
      return;
    }
    w_->setWrapping(true);
    w_->setResizeMode(QListView::Adjust);
    const int rowHeight = w_->fontMetrics().height() + 4;
    const QSize grid(std::max(1, w_->viewport()->width() / n), rowHeight);
    if (w_->gridSize() != grid) w_->setGridSize(grid);
  }

 protected:
  bool eventFilter(QObject* obj, QEvent* e) override {
    if (obj == viewport_ && e->type() == QEvent::Resize) Apply();
    return QObject::eventFilter(obj, e);
  }

 private:
  QListWidget* w_;
  QObject* viewport_;  // compared only: it may be going away with the list
  TCheckListBox& c_;
};

// The camera list's panel: its width sets the list's column count.
class CamViewPanel final : public QWidget {
 public:
  CamViewPanel(ViewerPanel& viewer, QWidget* parent) : QWidget(parent), viewer_(viewer) {
    setObjectName("CamViewPanel");
  }

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QWidget::resizeEvent(e);
    Guarded([&] { viewer_.CamViewPanelResize(width()); });
  }

 private:
  ViewerPanel& viewer_;
};

}  // namespace

// The "Просмотр" page: the viewed pair, its slider and play buttons, the
// change graph and the alarm sound on the left; the camera list and (at the
// station) the site list share the width that is left.
QWidget* BuildViewPage(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  ViewerPanel& viewer = *app.viewer;
  auto* page = new PageArea(parent, PageArea::Kind::Own);
  QWidget* content = page->Content();
  auto* row = new QHBoxLayout(content);
  row->setContentsMargins(6, 4, 6, 4);
  row->setSpacing(10);

  auto* player = new QWidget(content);
  PageGrid g(player);
  g.Row(0, 0, "Файл просмотра :", BindEdit(f.ViewFileName, player));
  auto* nav = new QWidget(player);
  auto* nl = new QHBoxLayout(nav);
  nl->setContentsMargins(0, 0, 0, 0);
  nl->addWidget(BindButton(f.BackwardButton, nav));
  nl->addWidget(BindButton(f.PrevCadr, nav));
  nl->addWidget(BindSlider(f.ViewSlider, nav), 1);
  nl->addWidget(BindLabel(f.MaxValueLabel, nav));
  nl->addWidget(BindButton(f.NextCadr, nav));
  nl->addWidget(BindButton(f.ForwardButton, nav));
  g.Cell(1, 0, nav, 1, 2);
  g.Cell(2, 0, new ChangeGraphBox(viewer, player), 1, 2);
  auto* speed = new QWidget(player);
  auto* spl = new QHBoxLayout(speed);
  spl->setContentsMargins(0, 0, 0, 0);
  spl->addWidget(BindFloatSpin(f.ViewFreq, speed));
  spl->addStretch(1);
  auto* exportBtn = new QPushButton("Экспорт...", speed);
  exportBtn->setObjectName("ExportBtn");
  QObject::connect(exportBtn, &QPushButton::clicked, exportBtn, [&app, exportBtn] {
    Guarded([&] {
      OpenExportDialog(*app.viewer, app.ClipWriters, app.services().dispatcher, app.journal,
                       exportBtn->window());
    });
  });
  spl->addWidget(exportBtn);
  g.Row(3, 0, "Скорость просмотра (кадров в секунду) :", speed);
  auto* sound = new QWidget(player);
  ApplyCommon(sound, f.SoundPanel);
  auto* sl = new QHBoxLayout(sound);
  sl->setContentsMargins(0, 0, 0, 0);
  sl->addWidget(BindButton(f.PlaySound, sound));
  sl->addWidget(BindButton(f.StopSound, sound));
  sl->addWidget(BindSlider(f.SoundSlider, sound), 1);
  g.Cell(4, 0, sound, 1, 2);
  g.Finish(5);
  player->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  row->addWidget(player, 0, Qt::AlignTop);

  auto* cams = new CamViewPanel(viewer, content);
  auto* cl = new QGridLayout(cams);
  cl->setContentsMargins(0, 0, 0, 0);
  cl->setSpacing(2);
  cl->addWidget(BindCheckBox(f.AllCams, "Все камеры", cams), 0, 0);
  QPushButton* expand = BindButton(f.ViewCamsExpand, cams);
  expand->setFixedWidth(24);
  cl->addWidget(expand, 0, 1, Qt::AlignRight);
  QListWidget* camList = ColouredList(f.CamViewListBox, true, viewer, cams);
  camList->setMinimumSize(100, 80);
  new ListColumns(camList, f.CamViewListBox);
  cl->addWidget(camList, 1, 0, 1, 2);
  row->addWidget(cams, 2);

  auto* objPanel = new QWidget(content);
  ApplyCommon(objPanel, f.ObjViewPanel);
  auto* ol = new QHBoxLayout(objPanel);
  ol->setContentsMargins(0, 0, 0, 0);
  QListWidget* objList = ColouredList(f.ObjViewListBox, false, viewer, objPanel);
  objList->setMinimumSize(120, 80);
  ol->addWidget(objList);
  row->addWidget(objPanel, 1);
  return page;
}

}  // namespace zv::ui
