// The window on an 800 x 600 screen: it opens at 799 x 594, and every page's
// controls, in both modes, lie whole inside the window, none of them
// squeezed below its size; the views use the height the collapsed panel
// leaves.  And the window's placement comes back from the settings.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTabBar>
#include <QTextEdit>

#include "app/IniFile.h"
#include "support/WindowFixture.h"
#include "ui/CameraView.h"
#include "ui/MainWindow.h"

namespace zv {
namespace {

// No real port is touched: every port name points nowhere.
const char* kNoPorts =
    "[Ports]\r\nCOM1=/nonexistent/1\r\nCOM2=/nonexistent/2\r\nCOM3=/nonexistent/3\r\n"
    "LPT1=/nonexistent/lp1\r\n";

struct FitTest : test::WindowFixture {
  void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }
  void OpenAt800x600(const std::string& ini) {
    Open(std::string(kNoPorts) + ini);
    window->resize(800, 600);
    Settle();
  }
  void OpenPanel() {
    if (app->frame.Collapsed()) Find<QPushButton>("AdjustMinimizeBtn")->click();
    Settle();
  }

  static bool IsControl(const QWidget* w) {
    if (w->parentWidget() && w->parentWidget()->inherits("QAbstractSpinBox")) return false;
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QLabel*>(w) || qobject_cast<const QGroupBox*>(w) ||
           qobject_cast<const QSlider*>(w) || qobject_cast<const QTextEdit*>(w) ||
           (qobject_cast<const QAbstractItemView*>(w) &&
            !w->parentWidget()->inherits("QComboBox")) ||
           w->objectName() == "RecChangeBox" || w->objectName() == "ViewChangeBox";
  }
  // Needs its natural width to show what it holds.
  static bool NeedsWidth(const QWidget* w) {
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QPushButton*>(w) ||
           qobject_cast<const QRadioButton*>(w);
  }

  // What of the shown page does not lie whole inside the window, or is
  // smaller than it needs to be.
  std::vector<std::string> Misfits() {
    std::vector<std::string> out;
    QWidget* page = window->PageControl()->currentWidget();
    const QString tab = window->PageControl()->tabText(window->PageControl()->currentIndex());
    const QRect inside = window->rect();
    for (QWidget* c : page->findChildren<QWidget*>()) {
      if (!c->isVisibleTo(window.get()) || !IsControl(c)) continue;
      const QRect r(c->mapTo(window.get(), QPoint(0, 0)), c->size());
      const std::string name =
          (tab + "/" + c->metaObject()->className() + " \"" + c->objectName() +
           c->property("text").toString() + c->property("title").toString() + "\"")
              .toStdString();
      if (!inside.contains(r)) {
        out.push_back(name + " outside the window");
        continue;
      }
      for (QWidget* a = c->parentWidget(); a && a != window.get(); a = a->parentWidget())
        if (!QRect(a->mapTo(window.get(), QPoint(0, 0)), a->size()).contains(r)) {
          out.push_back(name + " cut by " + a->metaObject()->className());
          break;
        }
      // Sized on purpose (a fixed or limited width) is not squeezed.
      const QSize need =
          (NeedsWidth(c) ? c->sizeHint() : c->minimumSizeHint()).boundedTo(c->maximumSize());
      if (c->width() < need.width() || c->height() < need.height())
        out.push_back(name + " squeezed");
    }
    return out;
  }

  // Every page of the mode: open, shown, checked.
  void CheckEveryPage(int expectedPages) {
    OpenPanel();
    QTabWidget* pc = window->PageControl();
    int checked = 0;
    for (int i = 0; i < pc->count(); ++i) {
      if (!pc->isTabVisible(i)) continue;
      pc->setCurrentIndex(i);
      Settle();
      ++checked;
      EXPECT_FALSE(app->frame.Collapsed());
      const auto misfits = Misfits();
      std::string all;
      for (const auto& m : misfits) all += "\n  " + m;
      EXPECT_TRUE(misfits.empty()) << all;
    }
    EXPECT_EQ(checked, expectedPages);
    EXPECT_LE(window->width(), 800);
    EXPECT_LE(window->height(), 600);
  }
};

TEST_F(FitTest, EverySitePageFitsAn800x600Window) {
  Open(kNoPorts);
  EXPECT_EQ(window->size(), QSize(799, 594));
  window->resize(800, 600);
  Settle();
  CheckEveryPage(6);
}

TEST_F(FitTest, EveryStationPageFitsAn800x600Window) {
  OpenAt800x600(
      "[Main]\r\nServerMode=1\r\nObjectsCount=2\r\n"
      "[Object1]\r\nName=Склад\r\nAddress=ул. Заводская, 12\r\nCams=3\r\n"
      "[Object2]\r\nName=Офис на втором этаже\r\nCams=2\r\n");
  CheckEveryPage(3);
  // The Object's name is shown whole.
  window->PageControl()->setCurrentIndex(window->PageIndex(&app->form.TabSheet7));
  Settle();
  auto* name = Find<QLineEdit>("ObjectName");
  EXPECT_EQ(name->text(), QString("Склад"));
  EXPECT_GE(name->width(), name->fontMetrics().horizontalAdvance("Офис на втором этаже"));
}

// The camera list takes the width the playback controls leave; its column
// count follows that width (100 pixels a column, 130 while the site list is
// folded away).
TEST_F(FitTest, TheCameraListsColumnsFollowItsPanelsWidth) {
  OpenAt800x600(
      "[Main]\r\nServerMode=1\r\nObjectsCount=2\r\n[Object1]\r\nName=Склад\r\nCams=4\r\n"
      "[Object2]\r\nName=Офис\r\nCams=4\r\n");
  OpenPanel();
  window->PageControl()->setCurrentIndex(window->PageIndex(&app->form.TabSheet2));
  Settle();
  QWidget* panel = Find<QWidget>("CamViewPanel");
  auto* list = Find<QListWidget>("CamViewListBox");
  EXPECT_EQ(app->form.CamViewListBox.Columns(),
            panel->width() / 100 == 1 ? 0 : panel->width() / 100);
  window->resize(1280, 700);
  Settle();
  const int wide = panel->width();
  ASSERT_GE(wide / 100, 2);
  EXPECT_EQ(app->form.CamViewListBox.Columns(), wide / 100);
  EXPECT_TRUE(list->isWrapping());
  EXPECT_EQ(list->gridSize().width(), list->viewport()->width() / (wide / 100));
  Find<QPushButton>("ViewCamsExpand")->click();  // the site list folds away
  Settle();
  EXPECT_GT(panel->width(), wide);
  EXPECT_EQ(app->form.CamViewListBox.Columns(), panel->width() / 130);
}

TEST_F(FitTest, TheCollapsedPanelLeavesTheViewsTheWindowsHeight) {
  OpenAt800x600("[MainForm]\r\nCamerasAmount.Value=4\r\n");
  ASSERT_TRUE(app->frame.Collapsed());
  QWidget* panel = Find<QWidget>("AdjustPanel");
  EXPECT_EQ(panel->height(), window->PageControl()->tabBar()->sizeHint().height());
  QWidget* views = window->ViewPanel();
  EXPECT_EQ(views->geometry().bottom() + 1, panel->geometry().top());
  // Four views in two rows, reaching down the panel's height.
  int lowest = 0, tops = 0;
  for (int k = 1; k <= 4; ++k) {
    auto* v = views->findChild<QWidget*>(QString("Camera%1").arg(k));
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->isVisible());
    lowest = std::max(lowest, v->geometry().bottom());
    tops += v->geometry().top() > 2 ? 1 : 0;
  }
  EXPECT_EQ(tops, 2);
  EXPECT_GT(lowest, views->height() * 3 / 4);
}

TEST_F(FitTest, PlacementIsRestoredAtStartAndTheRealOneSaved) {
  Open(std::string(kNoPorts) + "[MainForm]\r\nShowCmd=0\r\nNormPos=30,40,700,500\r\n");
  EXPECT_EQ(window->geometry(), QRect(30, 40, 700, 500));
  window->setGeometry(20, 25, 760, 540);
  Settle();
  window->setWindowState(Qt::WindowMaximized);
  Settle();
  window->close();
  IniFile ini(dir.file("Zorvenix.ini"));
  ASSERT_TRUE(ini.Load());
  EXPECT_EQ(ini.ReadString("MainForm", "ShowCmd", ""), "2");
  EXPECT_EQ(ini.ReadString("MainForm", "NormPos", ""), "20,25,760,540");

  // A maximised window comes back maximised, over its normal placement; a
  // size beyond the screen is cut to it.
  window.reset();
  app.reset();
  Open();
  EXPECT_TRUE(window->isMaximized());
  window.reset();
  app.reset();
  Open("[MainForm]\r\nShowCmd=0\r\nNormPos=10,10,3000,2000\r\n");
  EXPECT_FALSE(window->isMaximized());
  EXPECT_LE(window->width(), window->screen()->availableGeometry().width());
}

}  // namespace
}  // namespace zv
