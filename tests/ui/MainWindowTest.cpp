#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTextBlock>

#include "support/FakePlatform.h"
#include "support/TempDir.h"
#include "support/WindowFixture.h"
#include "ui/Guard.h"
#include "ui/MainWindow.h"

namespace zv {
namespace {

struct WindowFixture : test::WindowFixture {
  std::vector<QString> VisibleTabs() {
    std::vector<QString> out;
    QTabWidget* pc = window->PageControl();
    for (int i = 0; i < pc->count(); ++i)
      if (pc->isTabVisible(i)) out.push_back(pc->tabText(i));
    return out;
  }
};

TEST_F(WindowFixture, StationShowsItsThreePagesWithObjectsActive) {
  Open(
      "[Main]\r\nServerMode=1\r\nObjectsCount=2\r\n[Object1]\r\nName=Склад\r\nCams=2\r\n"
      "[Object2]\r\nName=Офис\r\nCams=1\r\n");
  EXPECT_EQ(window->windowTitle(), QString("Zorvenix (Сервер)"));
  EXPECT_EQ(VisibleTabs(), (std::vector<QString>{"Просмотр", "Объекты", "Журнал"}));
  EXPECT_EQ(window->PageControl()->tabText(window->PageControl()->currentIndex()),
            QString("Объекты"));
  auto* objects = window->findChild<QListWidget*>("ObjectListBox");
  ASSERT_NE(objects, nullptr);
  ASSERT_EQ(objects->count(), 2);
  EXPECT_EQ(objects->item(1)->text(), QString("Офис"));
}

TEST_F(WindowFixture, SiteShowsAllPagesButObjects) {
  Open();
  EXPECT_EQ(window->windowTitle(), QString("Zorvenix (Клиент)"));
  EXPECT_EQ(VisibleTabs(),
            (std::vector<QString>{"Запись", "Просмотр", "Видео", "Дозвон", "Датчики", "Журнал"}));
  EXPECT_EQ(window->PageControl()->tabText(window->PageControl()->currentIndex()),
            QString("Датчики"));
}

TEST_F(WindowFixture, JournalViewShowsColouredLinesAndStatusBarFollows) {
  Open();
  app->journal.ReportError("Порт занят", jcGaugePortTakenByLink, 1);
  QApplication::processEvents();
  QTextDocument* doc = window->JournalMemo()->document();
  ASSERT_GE(doc->blockCount(), 3);
  QTextBlock last = doc->lastBlock();
  EXPECT_TRUE(last.text().endsWith("Порт занят"));
  const QColor c = last.begin().fragment().charFormat().foreground().color();
  EXPECT_EQ(c, QColor(255, 0, 0));
  EXPECT_EQ(window->StatusPanel(0)->text(), QString("Порт занят"));
  EXPECT_TRUE(window->StatusPanel(0)->font().bold());
}

TEST_F(WindowFixture, CollapseButtonAndPageSwitchDriveThePanelHeight) {
  Open();
  auto* panel = window->findChild<QWidget*>("AdjustPanel");
  ASSERT_NE(panel, nullptr);
  // Collapsed: the tab row alone, as high as the style draws it.
  const int tabRow = window->PageControl()->tabBar()->sizeHint().height();
  EXPECT_EQ(app->frame.AdjustPanelHeight(), 22);
  EXPECT_EQ(panel->height(), tabRow);
  auto* btn = window->findChild<QPushButton*>("AdjustMinimizeBtn");
  ASSERT_NE(btn, nullptr);
  btn->click();
  QApplication::processEvents();
  // Open: at least the page's own height under the tabs.
  EXPECT_EQ(app->frame.AdjustPanelHeight(), 166 + 26);
  EXPECT_GE(panel->maximumHeight(), 166 + 4 + tabRow);
  window->PageControl()->setCurrentIndex(window->PageIndex(&app->form.TabSheet3));
  EXPECT_EQ(app->frame.ActivePage(), &app->form.TabSheet3);
  EXPECT_EQ(app->frame.AdjustPanelHeight(), 94 + 26);
  EXPECT_GE(panel->maximumHeight(), 94 + 4 + tabRow);
  btn->click();
  EXPECT_EQ(panel->maximumHeight(), tabRow);
}

TEST_F(WindowFixture, ClosingRunsTheShutdownOnceAndSavesSettings) {
  Open();
  auto* cb = window->findChild<QCheckBox*>("UseSwitcher");
  ASSERT_NE(cb, nullptr);
  // Ticking it opens the switcher's port: never a real device here.
  app->services().ports.Set("COM1", "/nonexistent/ttyS0");
  cb->click();
  EXPECT_TRUE(app->form.UseSwitcher.Checked());
  window->close();
  window->close();
  EXPECT_TRUE(app->Closing);
  const std::string log = test::ReadFile(app->journal.LogPath());
  auto count = [&log](const std::string& text) {
    int n = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("Завершение программы..."), 1);
  EXPECT_EQ(count("Программа завершена"), 1);
  EXPECT_EQ(count("Ошибка открытия порта Com1: для управления видеокоммутатором "
                  "(/nonexistent/ttyS0: No such file or directory) !"),
            1);
  EXPECT_NE(test::ReadFile(dir.file("Zorvenix.ini")).find("UseSwitcher.Checked=1"),
            std::string::npos);
}

}  // namespace
}  // namespace zv

namespace zv {
namespace {

TEST_F(WindowFixture, AnExceptionInAHandlerIsJournaledAndTheProgramGoesOn) {
  Open();
  ui::SetExceptionSink([this](const std::string& m) { app->AppEvents1Exception(m); });
  app->form.SwitchModeBtn.OnClick = [] { throw std::runtime_error("нет связи"); };
  auto* btn = window->findChild<QPushButton*>("SwitchModeBtn");
  ASSERT_NE(btn, nullptr);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), btn->mapToGlobal(QPointF(2, 2)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), btn->mapToGlobal(QPointF(2, 2)),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(btn, &press);
  QApplication::sendEvent(btn, &release);
  ui::SetExceptionSink(nullptr);
  const std::string line = app->journal.View().back().text;
  EXPECT_NE(line.find("Ошибка: нет связи !"), std::string::npos) << line;
  EXPECT_EQ(app->journal.View().back().color, colors::clBlack);
}

}  // namespace
}  // namespace zv
