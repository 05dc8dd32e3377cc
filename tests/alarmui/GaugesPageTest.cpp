// The "Датчики" page as shown: gauges with their names and state colours,
// and the settings pages put out of reach while the site is armed.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>

#include "../alarm/AlarmFixture.h"
#include "ui/MainWindow.h"

namespace zv::test {
namespace {

class GaugesPageTest : public AlarmFixture {
 protected:
  void SetUp() override {
    AlarmFixture::SetUp();
    window = std::make_unique<ui::TForm1>(*app);
  }
  void TearDown() override { window.reset(); }
  template <class W>
  W* Find(const char* name) {
    return window->findChild<W*>(name);
  }
  std::unique_ptr<ui::TForm1> window;
};

TEST_F(GaugesPageTest, GaugesShowTheirNamesAndStates) {
  QCheckBox* cd = Find<QCheckBox>("CD");
  ASSERT_NE(cd, nullptr);
  EXPECT_EQ(cd->text(), QString("CD, pin 1(8)"));
  EXPECT_EQ(Find<QCheckBox>("PaperOut")->text(), QString("Paper оut, pin 12"));
  EXPECT_EQ(Find<QCheckBox>("UseGaugesOnCom")->text(), QString("СОМ-порт :"));
  EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), QString("Окна"));

  // Ticking the boxes on screen switches the gauges on.
  Find<QCheckBox>("UseGaugesOnLpt")->setChecked(true);
  Find<QCheckBox>("SelectIn")->setChecked(true);
  EXPECT_TRUE(form().SelectIn.Checked());
  lpt->status = 0x90;
  Poll();
  QCheckBox* sel = Find<QCheckBox>("SelectIn");
  EXPECT_EQ(sel->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_TRUE(sel->font().underline());
  EXPECT_EQ(Find<QCheckBox>("Busy")->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_FALSE(Find<QCheckBox>("Busy")->font().underline());
}

TEST_F(GaugesPageTest, ArmedSiteHidesThePagesButKeepsTheButton) {
  window->show();
  form().DefenceOnDelay.SetValue(-1);
  QPushButton* btn = Find<QPushButton>("SwitchModeBtn");
  ASSERT_NE(btn, nullptr);
  btn->click();
  ASSERT_TRUE(site().Armed);
  auto* stack = window->PageControl()->findChild<QStackedWidget*>();
  ASSERT_NE(stack, nullptr);
  EXPECT_FALSE(stack->isVisible());
  EXPECT_FALSE(window->PageControl()->tabBar()->isEnabled());
  EXPECT_TRUE(btn->isVisible());
  EXPECT_EQ(btn->text(), QString("Снять с охраны..."));
  EXPECT_EQ(btn->palette().color(QPalette::ButtonText), QColor(255, 0, 0));

  loop.dialogs.inputs.push_back(DefenceMode::kOwnerPassword);
  btn->click();
  EXPECT_FALSE(site().Armed);
  EXPECT_TRUE(stack->isVisible());
  EXPECT_TRUE(window->PageControl()->tabBar()->isEnabled());
  EXPECT_EQ(btn->palette().color(QPalette::ButtonText), QColor(0, 128, 128));
}

}  // namespace
}  // namespace zv::test
