#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMoveEvent>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/Bind.h"
#include "ui/CameraView.h"
#include "ui/pages/Layout.h"
#include "ui/pages/Pages.h"

namespace zv::ui {

TForm1::TForm1(Application& app, QWidget* parent) : QMainWindow(parent), app_(app) {
  setObjectName("Form1");
  resize(app.form.Width, app.form.Height);

  auto* central = new QWidget(this);
  auto* lay = new QVBoxLayout(central);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);

  viewPanel_ = new QWidget(central);
  viewPanel_->setObjectName("ViewPanel");
  viewPanel_->setAutoFillBackground(true);
  QPalette vp = viewPanel_->palette();
  vp.setColor(QPalette::Window, Qt::black);
  viewPanel_->setPalette(vp);
  livePanel_ = new QWidget(viewPanel_);
  ApplyCommon(livePanel_, app.form.LiveVideoPanel);
  lay->addWidget(viewPanel_, 1);

  adjustPanel_ = new QWidget(central);
  adjustPanel_->setObjectName("AdjustPanel");
  auto* al = new QVBoxLayout(adjustPanel_);
  al->setContentsMargins(0, 0, 0, 0);
  al->setSpacing(0);
  pages_ = new QTabWidget(adjustPanel_);
  pages_->setObjectName("PageControl1");
  pages_->tabBar()->setFocusPolicy(Qt::StrongFocus);
  pages_->tabBar()->installEventFilter(this);
  auto* corner = new QWidget(pages_);
  auto* cl = new QHBoxLayout(corner);
  cl->setContentsMargins(0, 0, 3, 0);
  cl->addWidget(BindButton(app.form.SwitchModeBtn, corner));
  cl->addWidget(BindButton(app.form.Button1, corner));
  auto* minimize = BindButton(app.form.AdjustMinimizeBtn, corner);
  minimize->setText("_");
  minimize->setFixedWidth(22);
  cl->addWidget(minimize);
  pages_->setCornerWidget(corner, Qt::TopRightCorner);
  app.form.AdjustMinimizeBtn.OnClick = [this] { app_.frame.AdjustMinimizeBtnClick(); };
  al->addWidget(pages_);
  lay->addWidget(adjustPanel_);
  setCentralWidget(central);

  BuildMenu();
  BuildPages();
  BuildStatusBar();
  AttachCameraViews(viewPanel_, livePanel_, app);

  qApp->installEventFilter(this);  // the window sees every key first
  connect(pages_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index < 0 || index >= static_cast<int>(pageOrder_.size())) return;
    TTabSheet* page = pageOrder_[static_cast<std::size_t>(index)];
    if (page != app_.frame.ActivePage()) app_.frame.PageControl1Change(page);
  });

  auto watch = [this](Signal<>& s, std::function<void()> f) {
    connections_.emplace_back(&s, s.Connect(std::move(f)));
  };
  watch(app.frame.LayoutChanged, [this] { RenderLayout(); });
  watch(app.frame.CloseRequested, [this] { close(); });
  watch(app.journal.StatusChanged, [this] { RenderStatus(); });
  for (TTabSheet* p : pageOrder_) watch(p->Changed, [this] { RenderPageTabs(); });
  // A page that needs more (or less) height at the window's width.
  for (PageArea* area : findChildren<PageArea*>())
    connect(area, &PageArea::NeededHeightChanged, this, [this] { RenderLayout(); });
  // While the site is armed the settings pages are out of reach; the arming
  // button in the corner stays.
  watch(app.form.PageControl1.Changed, [this] {
    const bool shown = app_.form.PageControl1.Visible();
    if (auto* stack = pages_->findChild<QStackedWidget*>()) stack->setVisible(shown);
    pages_->tabBar()->setEnabled(shown);
  });
  RenderPageTabs();
  RenderLayout();
  RenderStatus();
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
  for (auto& [sig, id] : connections_) sig->Disconnect(id);
}

void TForm1::BuildMenu() {
  TFormModel& f = app_.form;
  QMenu* file = menuBar()->addMenu("&Файл");
  QAction* exit = file->addAction("В&ыход");
  connect(exit, &QAction::triggered, this, [this] { app_.frame.N2Click(); });

  QMenu* settings = menuBar()->addMenu("&Настройки");
  auto addCheck = [this, settings](TMenuItem& item, std::function<void()> onClick) {
    QAction* a = settings->addAction(QString::fromStdString(item.Caption()));
    a->setCheckable(true);
    a->setChecked(item.Checked());
    connect(a, &QAction::triggered, this, [a, &item, onClick] {
      onClick();
      a->setChecked(item.Checked());
    });
    connections_.emplace_back(&item.Changed,
                              item.Changed.Connect([a, &item] { a->setChecked(item.Checked()); }));
  };
  addCheck(f.AutoStartRecord, [this] { app_.frame.AutoStartRecordClick(); });
  addCheck(f.AutoStartDefence, [this] { app_.frame.AutoStartDefenceClick(); });
  QAction* save = settings->addAction("&Сохранить");
  save->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F9));
  connect(save, &QAction::triggered, this, [this] { app_.frame.N6Click(); });
  remoteAction_ = settings->addAction("&Внешние подключения...");
  remoteAction_->setVisible(false);
  connect(remoteAction_, &QAction::triggered, this, [this] {
    if (openRemote_) openRemote_();
  });

  QMenu* help = menuBar()->addMenu("&Помощь");
  QAction* about = help->addAction("&О программе");
  connect(about, &QAction::triggered, this, [this] { app_.frame.N4Click(); });
}

void TForm1::SetRemoteSettings(std::function<void()> open) {
  openRemote_ = std::move(open);
  remoteAction_->setVisible(static_cast<bool>(openRemote_));
}

void TForm1::BuildPages() {
  TFormModel& f = app_.form;
  struct Entry {
    TTabSheet* sheet;
    QWidget* widget;
  };
  std::vector<Entry> entries = {
      {&f.TabSheet1, BuildRecordPage(app_, pages_)},
      {&f.TabSheet2, BuildViewPage(app_, pages_)},
      {&f.TabSheet3, BuildVideoPage(app_, pages_)},
      {&f.TabSheet4, BuildDialPage(app_, pages_)},
      {&f.TabSheet5, BuildGaugesPage(app_, pages_)},
      {&f.TabSheet7, BuildObjectsPage(app_, pages_)},
      {&f.TabSheet6, BuildJournalPage(app_, pages_, journalMemo_)},
  };
  QSignalBlocker block(pages_);
  for (const auto& e : entries) {
    e.widget->setObjectName(QString::fromStdString(e.sheet->Name));
    pages_->addTab(e.widget, QString::fromStdString(e.sheet->Caption()));
    pageOrder_.push_back(e.sheet);
  }
}

void TForm1::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("StatusBar1");
  bar->setSizeGripEnabled(false);
  const int widths[3] = {600, 100, 50};
  for (int i = 0; i < 3; ++i) {
    auto* l = new QLabel(bar);
    l->setObjectName(QString("StatusPanel%1").arg(i));
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // Panel 0 takes what the other two leave (the bar's width less 191), and
    // never holds the window wider than the screen.
    if (i == 0) {
      l->setMinimumWidth(0);
      l->setMaximumWidth(widths[i]);
      l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    } else {
      l->setFixedWidth(widths[i]);
    }
    bar->addWidget(l, i == 0 ? 1 : 0);
    status_[static_cast<std::size_t>(i)] = l;
  }
}

int TForm1::PageIndex(const TTabSheet* page) const {
  for (std::size_t i = 0; i < pageOrder_.size(); ++i)
    if (pageOrder_[i] == page) return static_cast<int>(i);
  return -1;
}

void TForm1::RenderPageTabs() {
  QSignalBlocker block(pages_);
  for (std::size_t i = 0; i < pageOrder_.size(); ++i) {
    pages_->setTabVisible(static_cast<int>(i), pageOrder_[i]->TabVisible());
    pages_->setTabText(static_cast<int>(i), QString::fromStdString(pageOrder_[i]->Caption()));
  }
}

void TForm1::RenderLayout() {
  setWindowTitle(QString::fromStdString(app_.form.Caption));
  const int idx = PageIndex(app_.frame.ActivePage());
  if (idx >= 0 && pages_->currentIndex() != idx) {
    QSignalBlocker block(pages_);
    pages_->setCurrentIndex(idx);
  }
  adjustPanel_->setFixedHeight(PanelHeight());
  const auto w = app_.frame.StatusPanelWidths();
  if (status_[0] && w[0] > 0) status_[0]->setMaximumWidth(w[0]);
}

int TForm1::PanelHeight() const {
  // The core counts a 22-pixel tab row; the tabs here are as high as the
  // style makes them.
  const int tabRow = pages_->tabBar()->sizeHint().height();
  if (app_.frame.Collapsed()) return tabRow;
  int h = app_.frame.AdjustPanelHeight() - MainFrame::kCollapsedHeight + tabRow;
  // The page is shown whole where the window leaves room for it ...
  if (const auto* area = qobject_cast<const PageArea*>(pages_->currentWidget())) {
    const int frame =
        2 * pages_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, pages_);
    h = std::max(h, tabRow + frame + 2 + area->NeededHeight());
  }
  // ... and the cameras keep a share of the window; beyond that it scrolls.
  const int room = centralWidget() ? centralWidget()->height() - kMinViewHeight : h;
  return std::max(tabRow, std::min(h, room));
}

void TForm1::StorePlacement() {
  TFormModel& f = app_.form;
  const Qt::WindowStates st = windowState();
  f.WindowState = st & Qt::WindowMaximized ? 2 : st & Qt::WindowMinimized ? 1 : 0;
  const QRect normal = (st & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
                           ? normalGeometry()
                           : geometry();
  if (normal.width() > 0 && normal.height() > 0) {
    f.NormLeft = normal.x();
    f.NormTop = normal.y();
    f.NormWidth = normal.width();
    f.NormHeight = normal.height();
  }
}

void TForm1::RestorePlacement() {
  const TFormModel& f = app_.form;
  QRect r(f.NormLeft, f.NormTop, f.NormWidth, f.NormHeight);
  const QScreen* s = screen();
  const QRect avail = s ? s->availableGeometry() : QRect(0, 0, 800, 600);
  // Never larger than the screen, never off it.
  r.setWidth(std::clamp(r.width(), 1, avail.width()));
  r.setHeight(std::clamp(r.height(), 1, avail.height()));
  if (f.NormLeft >= 0 && f.NormTop >= 0 && avail.intersects(r)) {
    r.moveLeft(std::min(r.left(), avail.right() - r.width() + 1));
    r.moveTop(std::min(r.top(), avail.bottom() - r.height() + 1));
    setGeometry(r);
  } else {
    resize(r.size());
  }
  // A window closed minimised comes back as a normal one.
  if (f.WindowState == 2) setWindowState(windowState() | Qt::WindowMaximized);
}

void TForm1::RenderStatus() {
  const auto& panels = app_.journal.Status();
  for (std::size_t i = 0; i < status_.size(); ++i) {
    QLabel* l = status_[i];
    if (!l) continue;
    l->setText(QString::fromStdString(panels[i].text));
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, ToQColor(panels[i].color, palette()));
    l->setPalette(p);
    QFont f = l->font();
    f.setBold(panels[i].style & fsBold);
    f.setItalic(panels[i].style & fsItalic);
    f.setUnderline(panels[i].style & fsUnderline);
    l->setFont(f);
  }
}

void TForm1::closeEvent(QCloseEvent* e) {
  StorePlacement();
  app_.FormClose();
  e->accept();
}

bool TForm1::eventFilter(QObject* obj, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_Escape && !k->isAutoRepeat()) app_.frame.FormKeyDown(27);
  } else if (obj == pages_->tabBar() && e->type() == QEvent::FocusIn) {
    // Only the user entering the page control opens the panel, not the
    // focus the window hands out when it is activated.
    const auto reason = static_cast<QFocusEvent*>(e)->reason();
    if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
        reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
      app_.frame.PageControl1Enter();
  }
  return QMainWindow::eventFilter(obj, e);
}

void TForm1::showEvent(QShowEvent* e) {
  if (!activated_) RestorePlacement();  // the settings are loaded by now
  QMainWindow::showEvent(e);
  if (!activated_) {
    activated_ = true;
    // Once the window is up and has given the focus away: start collapsed.
    QTimer::singleShot(0, this, [this] { app_.frame.FormActivate(); });
  }
}

void TForm1::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  if (statusBar()) app_.frame.StatusBar1Resize(statusBar()->width());
  app_.frame.AdjustPanelResize(adjustPanel_->width(), 22);
  if (activated_) StorePlacement();
  livePanel_->setGeometry(0, 0, 352, 288);
  RenderLayout();  // the room left for the page changed
}

void TForm1::moveEvent(QMoveEvent* e) {
  QMainWindow::moveEvent(e);
  if (activated_) StorePlacement();
}

void TForm1::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && activated_) StorePlacement();
}

}  // namespace zv::ui
