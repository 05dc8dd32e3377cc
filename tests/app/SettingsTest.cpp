#include <gtest/gtest.h>

#include "app/Application.h"
#include "app/Text.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace zv {
namespace {

struct SettingsFixture : ::testing::Test {
  test::TempDir dir;
  test::FakeLoop loop;
  std::unique_ptr<Application> app;

  Application& Make() {
    app = std::make_unique<Application>(loop.services,
                                        AppPaths{dir.path().string(), dir.path().string()});
    return *app;
  }
  std::string IniPath() const { return dir.file("Zorvenix.ini"); }
};

TEST_F(SettingsFixture, NoFileGivesDefaults) {
  Application& a = Make();
  a.settings.LoadSettings();
  EXPECT_FALSE(a.settings.ServerMode);
  EXPECT_EQ(a.settings.AbonentsCount, 0);
  const TAbonentRecord& t = a.settings.Abonents[0];
  EXPECT_EQ(t.WaitAnswerTimeout, 15);
  EXPECT_EQ(t.RecallTime, 3);
  EXPECT_EQ(t.RecallDelay, 30);
  EXPECT_TRUE(t.ConnectToServerMode);
  EXPECT_EQ(t.VoiceFile, "");
  ASSERT_GE(a.form.StoredProperties().size(), 53u);
  EXPECT_EQ(a.form.StoredProperties()[0].key, "UseSwitcher.Checked");
  EXPECT_EQ(a.form.StoredProperties()[52].key, "AllCams.Checked");
  EXPECT_EQ(a.form.Edit(4).Text(), "Большая комн.");
  EXPECT_DOUBLE_EQ(a.form.ChangeLimit.Value(), 0.02);
  // Both start as their pages show them.
  EXPECT_TRUE(a.form.AllCams.Checked());
  EXPECT_TRUE(a.form.RecordSound.Checked());
  EXPECT_TRUE(a.settings.SettingsLoaded);
}

TEST_F(SettingsFixture, OnlyExactlyOneMeansServerMode) {
  test::WriteFile(IniPath(), "[Main]\r\nServerMode=true\r\n");
  Application& a = Make();
  a.settings.LoadSettings();
  EXPECT_FALSE(a.settings.ServerMode);
}

TEST_F(SettingsFixture, StationCamerasAreNumberedAcrossObjects) {
  test::WriteFile(IniPath(),
                  "[Main]\r\nServerMode=1\r\nObjectsCount=2\r\n"
                  "[Object1]\r\nName=Склад\r\nCams=3\r\nCamVisible=101\r\n"
                  "Cameras=\"Ворота\",\"Двор\",\"Склад, ряд 2\"\r\n"
                  "[Object2]\r\nName=Офис\r\nCams=2\r\nChecked=1\r\n");
  Application& a = Make();
  a.settings.LoadSettings();
  ASSERT_EQ(a.settings.ObjectsCount, 2);
  EXPECT_EQ(a.cameras.CameraCount(), 5);
  const TObjectRecord& o1 = a.settings.Objects[1];
  const TObjectRecord& o2 = a.settings.Objects[2];
  EXPECT_EQ(o1.FirstCamera, 1);
  EXPECT_EQ(o2.FirstCamera, 4);
  EXPECT_TRUE(o1.Cameras[1]->Visible());
  EXPECT_FALSE(o1.Cameras[2]->Visible());
  EXPECT_TRUE(o1.Cameras[3]->Visible());
  EXPECT_EQ(o1.Cameras[3]->Description, "Склад, ряд 2");
  EXPECT_EQ(o1.Cameras[3]->Hint, "Склад, ряд 2\r\nСклад");
  EXPECT_EQ(o2.Cameras[1]->Description, "В/камера1");  // default names
  EXPECT_TRUE(o2.Cameras[2]->Visible());               // missing CamVisible shows all
  EXPECT_EQ(o2.Gauges[8], "Датчик8");
  EXPECT_EQ(o2.ID, 2);
  EXPECT_NE(o2.LastTestCallTime, 0.0);
  EXPECT_EQ(o1.LastTestCallTime, 0.0);
  // With AllCams (ticked unless the settings say otherwise) every Object's
  // cameras are listed, ticked as shown.
  ASSERT_EQ(a.form.CamViewListBox.Count(), 5);
  EXPECT_FALSE(a.form.CamViewListBox.Checked(1));
  EXPECT_EQ(a.form.ObjectListBox.Count(), 2);
  EXPECT_TRUE(a.form.ObjectListBox.Checked(1));
  EXPECT_EQ(a.form.ObjectListBox.ItemIndex(), 0);
}

TEST_F(SettingsFixture, RecordsRoundTripWithAwkwardNames) {
  {
    test::WriteFile(IniPath(), "[Main]\r\nServerMode=1\r\n");
    Application& a = Make();
    a.settings.LoadSettings();
    a.settings.ObjectsCount = 2;
    TObjectRecord& o = a.settings.Objects[1];
    o.Name = "\"Ромашка\", склад";
    o.Address = " ул. Ленина, 1 ";
    o.AddInfo = "код \"7\"";
    o.ID = 1;
    o.Cams = 2;
    o.TestCallPeriod = 45;
    o.CallToObjMode = true;
    o.Checked = true;
    for (int i = 1; i <= 2; ++i) {
      TCameraInfo& cam = a.cameras.CreateNext();
      o.Cameras[static_cast<std::size_t>(i)] = &cam;
    }
    o.Cameras[1]->Description = "Вход, \"главный\"";
    o.Cameras[2]->Description = "с пробелами  внутри";
    o.Cameras[2]->SetVisible(false);
    for (int i = 1; i <= 8; ++i)
      o.Gauges[static_cast<std::size_t>(i)] = "Д," + std::to_string(i) + "\"";
    a.settings.Objects[2].Name = "Второй";
    a.settings.Objects[2].ID = 2;
    a.settings.SaveSettings();
  }
  Application& b = Make();
  b.settings.LoadSettings();
  const TObjectRecord& o = b.settings.Objects[1];
  EXPECT_EQ(o.Name, "\"Ромашка\", склад");
  EXPECT_EQ(o.Address, " ул. Ленина, 1 ");
  EXPECT_EQ(o.AddInfo, "код \"7\"");
  EXPECT_EQ(o.TestCallPeriod, 45);
  EXPECT_TRUE(o.CallToObjMode);
  EXPECT_TRUE(o.Checked);
  ASSERT_EQ(o.Cams, 2);
  EXPECT_EQ(o.Cameras[1]->Description, "Вход, \"главный\"");
  EXPECT_EQ(o.Cameras[2]->Description, "с пробелами  внутри");
  EXPECT_FALSE(o.Cameras[2]->Visible());
  EXPECT_EQ(o.Gauges[3], "Д,3\"");
  EXPECT_EQ(b.settings.Objects[2].Name, "Второй");
  EXPECT_EQ(b.settings.Objects[2].Cams, 0);
}

TEST_F(SettingsFixture, AbonentsRoundTripInClientMode) {
  {
    Application& a = Make();
    a.settings.LoadSettings();
    a.settings.AbonentsCount = 1;
    TAbonentRecord& ab = a.settings.Abonents[1];
    ab.Name = "Иванов, \"дача\"";
    ab.PhoneNumber = "8 (495) 555-01-99";
    ab.VoiceFile = "Сообщение.rmd";
    ab.ConnectToServerMode = false;
    ab.RecallDelay = 40;
    a.settings.SaveSettings();
  }
  Application& b = Make();
  b.settings.LoadSettings();
  ASSERT_EQ(b.settings.AbonentsCount, 1);
  const TAbonentRecord& ab = b.settings.Abonents[1];
  EXPECT_EQ(ab.Name, "Иванов, \"дача\"");
  EXPECT_EQ(ab.PhoneNumber, "8 (495) 555-01-99");
  EXPECT_EQ(ab.VoiceFile, "Сообщение.rmd");
  EXPECT_FALSE(ab.ConnectToServerMode);
  EXPECT_EQ(ab.RecallDelay, 40);
  EXPECT_TRUE(ab.Reached);
  EXPECT_EQ(b.form.AbonentListBox.Count(), 1);
}

TEST_F(SettingsFixture, StoredPropertiesRoundTripAndSaveFormPropertiesTouchesNothingElse) {
  test::WriteFile(IniPath(), "[Main]\r\nObjectsCount=0\r\n; keep me\r\n[Abonent1]\r\nName=X\r\n");
  {
    Application& a = Make();
    a.settings.LoadSettings();
    a.form.UseSwitcher.SetChecked(true);
    a.form.RecFreq.SetValue(12.5);
    a.form.Edit(2).SetText(" Окно, \"кухня\" ");
    a.form.VolumeLimitType.SetItemIndex(0);
    a.form.ServerAddresses.SetText("10.0.0.5; station");
    a.settings.SaveFormProperties();
  }
  const std::string text = test::ReadFile(IniPath());
  EXPECT_NE(text.find("; keep me"), std::string::npos);
  EXPECT_NE(text.find("[Abonent1]\r\nName=X"), std::string::npos);
  EXPECT_EQ(text.find("AbonentsCount"), std::string::npos);
  Application& b = Make();
  b.settings.LoadSettings();
  EXPECT_TRUE(b.form.UseSwitcher.Checked());
  EXPECT_DOUBLE_EQ(b.form.RecFreq.Value(), 12.5);
  EXPECT_EQ(b.form.Edit(2).Text(), " Окно, \"кухня\" ");
  EXPECT_EQ(b.form.VolumeLimitType.ItemIndex(), 0);
}

TEST_F(SettingsFixture, HandEditedCountsAreClampedAndReported) {
  std::string text = "[Main]\r\nServerMode=1\r\nObjectsCount=150\r\n";
  for (int n = 1; n <= 3; ++n) text += "[Object" + std::to_string(n) + "]\r\nCams=8\r\n";
  test::WriteFile(IniPath(), text);
  Application& a = Make();
  a.settings.LoadSettings();
  EXPECT_EQ(a.settings.ObjectsCount, 100);
  // 20 cameras in all: the third Object gets 4, and the refusals are reported.
  EXPECT_EQ(a.cameras.CameraCount(), 20);
  EXPECT_EQ(a.settings.Objects[3].Cams, 4);
  int errors = 0;
  for (const auto& l : a.journal.View()) errors += l.color == colors::clRed;
  EXPECT_EQ(errors, 1 + 4);
}

TEST_F(SettingsFixture, Windows1251FileKeepsRussianNames) {
  test::WriteFile(IniPath(), Utf8ToCp1251("[Main]\r\nServerMode=1\r\nObjectsCount=1\r\n"
                                          "[Object1]\r\nName=Магазин \"Берёзка\"\r\nCams=1\r\n"
                                          "Cameras=\"Касса №1\"\r\n"));
  Application& a = Make();
  a.settings.LoadSettings();
  EXPECT_EQ(a.settings.Objects[1].Name, "Магазин \"Берёзка\"");
  EXPECT_EQ(a.settings.Objects[1].Cameras[1]->Description, "Касса №1");
  EXPECT_EQ(a.form.ObjectListBox.Text(0), "Магазин \"Берёзка\"");
}

TEST_F(SettingsFixture, PortMapComesFromThePortsSection) {
  test::WriteFile(IniPath(), "[Ports]\r\nCOM3=/dev/ttyACM0\r\nlpt1=/dev/null\r\n");
  Application& a = Make();
  a.settings.LoadSettings();
  EXPECT_EQ(loop.ports.ComDevice(3), "/dev/ttyACM0");
  EXPECT_EQ(loop.ports.ComDevice(2), "/nonexistent-zorvenix-ports/COM2");
  EXPECT_EQ(loop.ports.LptDevice(1), "/dev/null");
  EXPECT_EQ(loop.ports.LptDevice(2), "/nonexistent-zorvenix-ports/LPT2");
  // Without a fallback folder the standard devices are used.
  PortMap plain;
  EXPECT_EQ(plain.ComDevice(1), "/dev/ttyS0");
  EXPECT_EQ(plain.ComDevice(8), "/dev/ttyS7");
  EXPECT_EQ(plain.LptDevice(3), "/dev/parport2");
  EXPECT_EQ(plain.DeviceFor("com12"), "/dev/ttyS11");
  EXPECT_EQ(plain.DeviceFor("PRN"), "");
}

}  // namespace
}  // namespace zv
