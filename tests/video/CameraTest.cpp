// Cameras: their settings section, the site's camera count, the context
// menu and zone painting.
#include "VideoFixture.h"
#include "app/IniFile.h"
#include "video/Bmp.h"

namespace zv::test {
namespace {

class CameraTest : public VideoAppTest {};

TEST_F(CameraTest, SectionRoundTripKeepsZonesDecimalsAndAwkwardDescriptions) {
  WriteIni("[MainForm]\nCamerasAmount.Value=2\n");
  Start();
  TCamera* c = cam(2);
  ASSERT_NE(c, nullptr);
  // Defaults of a missing section.
  EXPECT_EQ(c->Description, "В/камера 2");
  EXPECT_DOUBLE_EQ(c->ChangesEventPercent, 0.10);
  EXPECT_DOUBLE_EQ(c->FramesPerMinute, 160.0);
  EXPECT_TRUE(c->ReactionEnabled);
  EXPECT_EQ(c->ZonesString(), std::string(320, '0'));

  c->Description = "\"Вход\"  со двора ";
  c->Colored = true;
  c->ReactionEnabled = false;
  c->IgnoreChangesPercent = 0.1 + 0.2;  // 0.30000000000000004
  c->ChangesEventPercent = 1.25;
  c->FramesPerMinute = 1.0 / 3.0;
  c->Zones.on[0][0] = c->Zones.on[19][15] = c->Zones.on[3][1] = true;
  app->FormClose();

  IniFile ini(dir.file("Zorvenix.ini"));
  ASSERT_TRUE(ini.Load());
  EXPECT_EQ(ini.ReadString("Camera2", "IgnoreChangesPercent", ""), "0.3");
  EXPECT_EQ(ini.ReadString("Camera2", "FramesPerMinute", ""), "0.333333333333333");
  EXPECT_EQ(ini.ReadString("Camera2", "ZonesHAmount", ""), "20");
  EXPECT_EQ(ini.ReadString("Camera2", "ZonesVAmount", ""), "16");
  const std::string zones = ini.ReadString("Camera2", "Zones", "");
  ASSERT_EQ(zones.size(), 320u);
  EXPECT_EQ(zones[0], '1');
  EXPECT_EQ(zones[1 * 20 + 3], '1');
  EXPECT_EQ(zones[319], '1');
  EXPECT_EQ(std::count(zones.begin(), zones.end(), '1'), 3);
  // Keys in their order.
  const auto keys = ini.Keys("Camera2");
  const std::vector<std::string> order = {"ObjID",
                                          "ObjName",
                                          "CamIndex",
                                          "Description",
                                          "Colored",
                                          "ReactionEnabled",
                                          "IgnoreChangesPercent",
                                          "ChangesEventPercent",
                                          "FramesPerMinute",
                                          "ZonesHAmount",
                                          "ZonesVAmount",
                                          "Zones"};
  EXPECT_EQ(keys, order);

  app.reset();
  Start();
  c = cam(2);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Description, "\"Вход\"  со двора ");
  EXPECT_TRUE(c->Colored);
  EXPECT_TRUE(c->Menu[TCamera::miColored].Checked);
  EXPECT_FALSE(c->ReactionEnabled);
  EXPECT_DOUBLE_EQ(c->IgnoreChangesPercent, 0.3);
  EXPECT_DOUBLE_EQ(c->ChangesEventPercent, 1.25);
  EXPECT_NEAR(c->FramesPerMinute, 1.0 / 3.0, 1e-14);
  EXPECT_TRUE(c->Zones.on[0][0] && c->Zones.on[19][15] && c->Zones.on[3][1]);
  EXPECT_EQ(c->Zones.ActiveCount(), 3);
}

TEST_F(CameraTest, ZonesStringShortValuesAndOrder) {
  WriteIni("[Camera1]\nZones=1" + std::string(19, '0') + "1x1\n");
  Start();
  TCamera* c = cam(1);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(c->Zones.on[0][0]);
  EXPECT_TRUE(c->Zones.on[0][1]);   // character 21: column 0 of row 1
  EXPECT_FALSE(c->Zones.on[1][1]);  // anything but "1" is off
  EXPECT_TRUE(c->Zones.on[2][1]);
  EXPECT_EQ(c->Zones.ActiveCount(), 3);  // the missing rest is off
}

TEST_F(CameraTest, UnreadablePercentageIsReportedAndKeepsWhatWasRead) {
  WriteIni(
      "[Camera1]\nDescription=Ворота\nIgnoreChangesPercent=0.5\n"
      "ChangesEventPercent=abc\nFramesPerMinute=10\nZones=1\n");
  Start();
  TCamera* c = cam(1);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Description, "Ворота");
  EXPECT_DOUBLE_EQ(c->IgnoreChangesPercent, 0.5);
  EXPECT_DOUBLE_EQ(c->ChangesEventPercent, 0.08);  // built-in initial values
  EXPECT_DOUBLE_EQ(c->FramesPerMinute, 100.0);
  EXPECT_EQ(c->Zones.ActiveCount(), 0);
  EXPECT_EQ(Journaled("abc", 4, 24), 1);
}

TEST_F(CameraTest, CamerasAmountDownAndUpWritesAndRereadsSections) {
  WriteIni("[MainForm]\nCamerasAmount.Value=4\n");
  Start();
  EXPECT_EQ(app->cameras.CameraCount(), 4);
  EXPECT_EQ(app->form.CamViewListBox.Count(), 4);
  cam(3)->Description = "Склад";
  cam(3)->Zones.on[5][5] = true;
  cam(4)->Description = "Гараж";
  app->form.CamerasAmount.SetValue(2);
  EXPECT_EQ(app->cameras.CameraCount(), 2);
  EXPECT_EQ(cam(3), nullptr);
  ASSERT_EQ(app->form.CamViewListBox.Count(), 2);
  EXPECT_EQ(app->form.CamViewListBox.Text(1), "В/камера 2");
  {
    IniFile ini(dir.file("Zorvenix.ini"));
    ASSERT_TRUE(ini.Load());
    EXPECT_EQ(ini.ReadString("Camera3", "Description", ""), "Склад");
    EXPECT_EQ(ini.ReadString("Camera4", "Description", ""), "Гараж");
  }
  app->form.CamerasAmount.SetValue(3);
  ASSERT_NE(cam(3), nullptr);
  EXPECT_EQ(cam(3)->Description, "Склад");
  EXPECT_TRUE(cam(3)->Zones.on[5][5]);
  EXPECT_EQ(app->form.CamViewListBox.Text(2), "Склад");
  EXPECT_TRUE(app->form.CamViewListBox.Checked(2));
}

TEST_F(CameraTest, SwitcherPositionIsLimitedToTheNewCount) {
  WriteIni("[MainForm]\nCamerasAmount.Value=4\n");
  Start();
  video().Intake.SwitcherPosition = 4;
  video().Intake.FrameCamera = 4;
  int announced = 0;
  video().CameraCountChanged.Connect([&](int n) { announced = n; });
  app->form.CamerasAmount.SetValue(2);
  EXPECT_EQ(video().Intake.SwitcherPosition, 2);
  EXPECT_EQ(video().Intake.FrameCamera, 2);
  EXPECT_EQ(announced, 2);
}

TEST_F(CameraTest, RenameChangesDescriptionHintAndListItem) {
  Start();
  TCamera* c = cam(1);
  app->form.CamViewListBox.SetChecked(0, false);
  loop.dialogs.inputs.push_back("Крыльцо");
  c->RenameClick();
  ASSERT_EQ(loop.dialogs.inputPrompts.size(), 1u);
  EXPECT_EQ(loop.dialogs.inputPrompts[0], "Новое название:");
  EXPECT_EQ(c->Description, "Крыльцо");
  EXPECT_EQ(c->Hint, "Крыльцо");
  EXPECT_EQ(app->form.CamViewListBox.Text(0), "Крыльцо");
  EXPECT_FALSE(app->form.CamViewListBox.Checked(0));  // keeps its tick
  loop.dialogs.cancelInput = true;
  c->RenameClick();
  EXPECT_EQ(c->Description, "Крыльцо");
}

TEST_F(CameraTest, ZoneSetupMenuAndPaintingStrokes) {
  Start();
  video().SetViewPanelSize(700, 400);
  TCamera* c = cam(1);
  ASSERT_EQ(c->View.width, 485);
  ASSERT_EQ(c->View.height, 396);
  // Outside the set-up view the mouse changes nothing.
  c->MouseDown(10, 10, true);
  EXPECT_EQ(c->Zones.ActiveCount(), 0);
  EXPECT_FALSE(c->Menu[TCamera::miAllZones].Enabled);
  c->ZoneSetupClick();
  EXPECT_TRUE(c->ZoneSetupView());
  EXPECT_TRUE(c->Menu[TCamera::miAllZones].Enabled);

  std::vector<ZoneRect> repainted;
  c->ZoneRepaintRequested.Connect([&](const ZoneRect& z) { repainted.push_back(z); });
  // A stroke across row 0 from column 0 to column 4 turns them all on.
  c->MouseDown(1, 1, true);
  for (int x = 1; x < 5 * 485 / 20; x += 5) c->MouseMove(x, 3);
  c->MouseUp();
  for (int col = 0; col < 5; ++col) EXPECT_TRUE(c->Zones.on[col][0]) << col;
  EXPECT_EQ(c->Zones.ActiveCount(), 5);
  ASSERT_EQ(repainted.size(), 5u);
  EXPECT_EQ(repainted[0].right, c->ScreenZones[0][0].right + 1);
  // A stroke starting on an active zone clears what it crosses.
  c->MouseDown(30, 2, true);  // column 1
  c->MouseMove(60, 2);        // column 2
  c->MouseMove(-1, 2);        // leaving the view ends the stroke
  c->MouseMove(90, 2);        // column 3: not painted any more
  EXPECT_FALSE(c->Zones.on[1][0]);
  EXPECT_FALSE(c->Zones.on[2][0]);
  EXPECT_TRUE(c->Zones.on[3][0]);
  // The right button does nothing.
  c->MouseDown(200, 200, false);
  EXPECT_EQ(c->Zones.ActiveCount(), 3);
  // "Выбрать/снять все зоны": all on, then all off.
  c->AllZonesClick();
  EXPECT_EQ(c->Zones.ActiveCount(), 320);
  c->AllZonesClick();
  EXPECT_EQ(c->Zones.ActiveCount(), 0);
}

TEST_F(CameraTest, ClickExpandsOneViewAndClickingAgainRestoresTheGrid) {
  WriteIni("[MainForm]\nCamerasAmount.Value=4\n");
  Start();
  video().SetViewPanelSize(700, 400);
  EXPECT_EQ(cam(2)->View, (ViewRect{246, 2, 242, 197}));
  cam(2)->Click();
  EXPECT_TRUE(cam(2)->Expanded);
  EXPECT_EQ(cam(2)->View, (ViewRect{2, 2, 485, 396}));
  EXPECT_EQ(cam(1)->View.top, 400);  // moved below the panel
  EXPECT_EQ(cam(4)->View.top, 400);
  // Zone geometry follows the view.
  EXPECT_EQ(cam(2)->ScreenZones[19][15].right, 485);
  EXPECT_EQ(cam(2)->ScreenZones[19][15].bottom, 396);
  cam(2)->Click();
  EXPECT_EQ(cam(1)->View, (ViewRect{2, 2, 242, 197}));
  EXPECT_EQ(cam(4)->View, (ViewRect{246, 201, 242, 197}));
  EXPECT_EQ(cam(2)->ScreenZones[19][15].right, 242);
}

TEST_F(CameraTest, ServerCamerasHaveTheShortMenuAndObjectColouredFrames) {
  WriteIni("[Main]\nServerMode=1\nObjectsCount=1\n[Object1]\nName=Дача\nID=5\nCams=2\n");
  Start();
  ASSERT_EQ(app->cameras.CameraCount(), 2);
  TCamera* c = cam(1);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->ObjID, 5);
  int shown = 0;
  for (const auto& m : c->Menu) shown += m.Visible ? 1 : 0;
  EXPECT_EQ(shown, 2);
  EXPECT_TRUE(c->Menu[TCamera::miRename].Visible);
  EXPECT_TRUE(c->Menu[TCamera::miSaveFrame].Visible);
  EXPECT_EQ(c->Overlay(100, 100).frameColor, 0x800080u);  // 5: purple
  EXPECT_FALSE(c->Overlay(100, 100).zoneSetup);
  // Renamed, its hint names the Object with its ID (in record 1, not 5).
  loop.dialogs.inputs.push_back("Ворота");
  c->RenameClick();
  EXPECT_EQ(c->Hint, "Ворота\r\nДача");
  // Changing the count is the site's business only, and so is capturing.
  app->form.CamerasAmount.SetValue(1);
  EXPECT_EQ(app->cameras.CameraCount(), 2);
  app->form.VideoDriver.SetValue(1);
  app->form.VideoEmulation.SetChecked(true);
  EXPECT_FALSE(video().Video.Connected());
}

TEST_F(CameraTest, DebugModeLoadsDebugBmpIntoTheCurrentPicture) {
  TPicture pic(8, 4);
  pic.ScreenRow(0)[0] = 11;  // top-left blue
  pic.StoredRow(0)[2] = 22;  // bottom-left red
  ASSERT_TRUE(SaveBmp(dir.file("Debug.bmp"), pic));
  WriteIni("[Main]\nDebugMode=1\n");
  Start();
  EXPECT_EQ(cam(1)->CurrentPicture, pic);
}

}  // namespace
}  // namespace zv::test
