#include "ui/StartOptions.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTabBar>

#include "support/WindowFixture.h"

namespace zv {
namespace {

using ui::ParseStartOptions;
using ui::StartOptions;

TEST(StartOptions, TheCommandLineIsReadOrRefusedWithAReason) {
  StartOptions o;
  QString error;
  ASSERT_TRUE(ParseStartOptions(
      {"--dir", "/tmp/site", "--seconds", "5", "--page", "Журнал", "--screenshot", "w.png"}, o,
      error));
  EXPECT_EQ(o.dir, "/tmp/site");
  EXPECT_EQ(o.seconds, 5);
  EXPECT_EQ(o.page, "Журнал");
  EXPECT_EQ(o.screenshot, "w.png");
  ASSERT_TRUE(ParseStartOptions({}, o, error));
  EXPECT_EQ(o.seconds, 0);
  EXPECT_TRUE(o.dir.isEmpty());

  // A run that silently ignores what it was asked would stay open for good
  // or write to the wrong folder.
  EXPECT_FALSE(ParseStartOptions({"--seconds", "5s"}, o, error));
  EXPECT_TRUE(error.contains("5s")) << error.toStdString();
  EXPECT_FALSE(ParseStartOptions({"--seconds", "-1"}, o, error));
  EXPECT_FALSE(ParseStartOptions({"--dir"}, o, error));
  EXPECT_TRUE(error.contains("--dir")) << error.toStdString();
  EXPECT_FALSE(ParseStartOptions({"--page", ""}, o, error));
  EXPECT_FALSE(ParseStartOptions({"--dri", "x"}, o, error));
  EXPECT_TRUE(error.contains("--dri")) << error.toStdString();
}

struct StartPage : test::WindowFixture {
  // Starts the program as main() does: the page is asked for right after the
  // window is shown, before its first events run.
  void StartAt(const QString& caption, const std::string& ini = {}) {
    if (!ini.empty()) test::WriteFile(dir.file("Zorvenix.ini"), ini);
    app = std::make_unique<Application>(loop.services,
                                        AppPaths{dir.path().string(), dir.path().string()});
    window = std::make_unique<ui::TForm1>(*app);
    app->FormCreate();
    window->show();
    page = ui::ShownPage(*app, caption);
    if (page) ui::OpenPageWhenShown(window.get(), *app, page);
    QApplication::processEvents();
  }
  QWidget* Panel() { return window->findChild<QWidget*>("AdjustPanel"); }
  // The panel's height on screen for the core's height: the style's tab row
  // stands for the core's 22 pixels.
  int Shown(int coreHeight) {
    return coreHeight - 22 + window->PageControl()->tabBar()->sizeHint().height();
  }
  TTabSheet* page = nullptr;
};

TEST_F(StartPage, APageAskedForAtStartIsOpenOnceTheWindowIsUp) {
  StartAt("Видео");
  ASSERT_EQ(page, &app->form.TabSheet3);
  EXPECT_EQ(app->frame.ActivePage(), page);
  EXPECT_EQ(window->PageControl()->currentIndex(), window->PageIndex(page));
  // Open, not collapsed by the window's activation.
  EXPECT_EQ(app->frame.AdjustPanelHeight(), 94 + 26);
  EXPECT_GE(Panel()->maximumHeight(), Shown(94 + 26));
}

TEST_F(StartPage, TheJournalOpensAtTheHeightOfThePageBefore) {
  StartAt("Журнал");
  ASSERT_EQ(page, &app->form.TabSheet6);
  EXPECT_EQ(window->PageControl()->currentIndex(), window->PageIndex(page));
  EXPECT_EQ(app->frame.AdjustPanelHeight(), 166 + 26);
  EXPECT_EQ(Panel()->maximumHeight(), Shown(166 + 26));
}

TEST_F(StartPage, OnlyThePagesOfTheRunningModeCanBeAskedFor) {
  StartAt("Объекты");
  EXPECT_EQ(page, nullptr);
  EXPECT_EQ(app->frame.AdjustPanelHeight(), 22);
  EXPECT_EQ(Panel()->maximumHeight(), Shown(22));
  EXPECT_EQ(ui::ShownPage(*app, "Нет такой"), nullptr);
  window->close();
  window.reset();
  app.reset();
  StartAt("Объекты", "[Main]\r\nServerMode=1\r\n");
  EXPECT_EQ(page, &app->form.TabSheet7);
  EXPECT_EQ(ui::ShownPage(*app, "Датчики"), nullptr);
}

}  // namespace
}  // namespace zv
