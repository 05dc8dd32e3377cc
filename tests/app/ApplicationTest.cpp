#include <gtest/gtest.h>

#include "app/Application.h"
#include "app/IniFile.h"
#include "link/Link.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace zv {
namespace {

struct AppFixture : ::testing::Test {
  test::TempDir dir;
  test::FakeLoop loop;
  std::unique_ptr<Application> Start() {
    auto a = std::make_unique<Application>(loop.services,
                                           AppPaths{dir.path().string(), dir.path().string()});
    a->FormCreate();
    return a;
  }
  std::vector<std::string> JournalTexts(const Application& a) {
    std::vector<std::string> out;
    for (const auto& l : a.journal.View()) out.push_back(l.text.substr(l.text.find("  ", 7) + 2));
    return out;
  }
};

TEST_F(AppFixture, StartAndStopInAnEmptyFolder) {
  {
    auto a = Start();
    EXPECT_EQ(a->form.Caption, "Zorvenix (Клиент)");
    EXPECT_EQ(a->frame.ActivePage(), &a->form.TabSheet5);
    EXPECT_FALSE(a->form.TabSheet7.TabVisible());
    EXPECT_EQ(a->form.TabSheet6.Tag, 204);
    EXPECT_TRUE(a->Timer1.Enabled());
    // Camera 1 brings its own rate (160 frames a minute) into RecFreq.
    EXPECT_EQ(a->Timer1.Interval(), 375u);
    EXPECT_TRUE(a->Timer3.Enabled());
    EXPECT_EQ(a->link->ClientSocketAddress, "192.168.0.1");
    a->FormClose();
    a->FormClose();  // a second close does nothing
    EXPECT_FALSE(a->Timer1.Enabled());
    // The site's modem port (Com2) is not there on the fake platform.
    EXPECT_EQ(JournalTexts(*a),
              (std::vector<std::string>{
                  "Старт программы...",
                  "Ошибка открытия порта Com2: для связи с сервером "
                  "(/nonexistent-zorvenix-ports/COM2: No such file or directory) !",
                  "Программа запущена", "Завершение программы...", "Программа завершена"}));
    EXPECT_EQ(a->journal.View()[0].text.substr(0, 5), "    1");
  }
  IniFile ini(dir.file("Zorvenix.ini"));
  ASSERT_TRUE(ini.Load());
  {
    Application probe(loop.services, AppPaths{dir.path().string(), dir.path().string()});
    const auto& props = probe.form.StoredProperties();
    for (std::size_t i = 0; i < 53; ++i) EXPECT_TRUE(ini.HasKey("MainForm", props[i].key)) << i;
  }
  EXPECT_EQ(ini.ReadString("MainForm", "BeepStr.Text", ""), "n200;d200;p200;d200");
  EXPECT_EQ(ini.ReadInteger("Main", "ObjectsCount", -1), 0);
  EXPECT_EQ(ini.ReadInteger("Main", "AbonentsCount", -1), 0);
  EXPECT_FALSE(ini.HasKey("Main", "ServerMode"));  // read only, never written

  auto again = Start();
  EXPECT_EQ(again->journal.View()[0].text.substr(0, 5), "    6");
}

TEST_F(AppFixture, ServerModeShowsOnlyItsPages) {
  test::WriteFile(dir.file("Zorvenix.ini"),
                  "[Main]\r\nServerMode=1\r\nObjectsCount=2\r\n[Object1]\r\nCams=2\r\n"
                  "[Object2]\r\nCams=1\r\n[MainForm]\r\nAutoStartDefence.Checked=1\r\n");
  int armClicks = 0;
  auto a = std::make_unique<Application>(loop.services,
                                         AppPaths{dir.path().string(), dir.path().string()});
  a->form.SwitchModeBtn.OnClick = [&] { ++armClicks; };
  a->FormCreate();
  EXPECT_EQ(a->form.Caption, "Zorvenix (Сервер)");
  std::vector<std::string> shown;
  for (TTabSheet* p : a->form.Pages())
    if (p->TabVisible()) shown.push_back(p->Caption());
  EXPECT_EQ(shown, (std::vector<std::string>{"Просмотр", "Объекты", "Журнал"}));
  EXPECT_EQ(a->frame.ActivePage(), &a->form.TabSheet7);
  EXPECT_FALSE(a->form.SwitchModeBtn.Visible());
  EXPECT_EQ(a->cameras.CameraCount(), 3);
  EXPECT_EQ(armClicks, 0);  // a station never arms itself
}

TEST_F(AppFixture, ClientAutoStartArmsAfterStartUp) {
  test::WriteFile(dir.file("Zorvenix.ini"), "[MainForm]\r\nAutoStartDefence.Checked=1\r\n");
  auto a = std::make_unique<Application>(loop.services,
                                         AppPaths{dir.path().string(), dir.path().string()});
  std::vector<std::string> atClick;
  a->form.SwitchModeBtn.OnClick = [&] { atClick = JournalTexts(*a); };
  a->FormCreate();
  EXPECT_EQ(atClick.back(), "Программа запущена");
}

TEST_F(AppFixture, DisplayCheck) {
  struct Case {
    int w, h, bits;
    bool warn;
  } cases[] = {{1024, 768, 8, true}, {800, 600, 16, false}, {640, 480, 32, true}};
  for (const auto& c : cases) {
    loop.display.metrics = {c.w, c.h, c.bits};
    loop.dialogs.boxes.clear();
    auto a = Start();
    EXPECT_EQ(loop.dialogs.boxes.size(), c.warn ? 1u : 0u) << c.w;
    const auto texts = JournalTexts(*a);
    const std::string line = "Низкое разрешение экрана (" + std::to_string(c.w) + "x" +
                             std::to_string(c.h) + "x" + std::to_string(c.bits) + ") !";
    EXPECT_EQ(std::count(texts.begin(), texts.end(), line), c.warn ? 1 : 0);
    a->FormClose();
  }
}

TEST_F(AppFixture, FramePanelAndExceptions) {
  auto a = Start();
  MainFrame& f = a->frame;
  EXPECT_TRUE(f.Collapsed());
  f.AdjustMinimizeBtnClick();
  EXPECT_EQ(f.AdjustPanelHeight(), 166 + 26);  // "Датчики"
  f.PageControl1Change(&a->form.TabSheet6);    // the journal keeps the height
  EXPECT_EQ(f.AdjustPanelHeight(), 166 + 26);
  f.PageControl1Change(&a->form.TabSheet3);
  EXPECT_EQ(f.AdjustPanelHeight(), 94 + 26);
  f.AdjustMinimizeBtnClick();
  EXPECT_EQ(f.AdjustPanelHeight(), 22);
  f.PageControl1Enter();  // entering the collapsed page control opens it
  EXPECT_EQ(f.AdjustPanelHeight(), 94 + 26);
  f.StatusBar1Resize(800);
  EXPECT_EQ(f.StatusPanelWidths()[0], 609);
  f.FormKeyDown(27);
  EXPECT_TRUE(f.EscapePressed);
  f.AutoStartRecordClick();
  EXPECT_TRUE(a->form.AutoStartRecord.Checked());
  f.N4Click();
  EXPECT_EQ(loop.speaker.defaultBeeps, 1);

  a->AppEvents1Exception("сбой");
  EXPECT_EQ(JournalTexts(*a).back(), "Ошибка: сбой !");
  const std::string file = test::ReadFile(a->journal.LogPath());
  EXPECT_NE(file.find("    0   0   0  0       1 Ошибка: сбой !"), std::string::npos);
}

TEST_F(AppFixture, TimersRunTheirHandlers) {
  auto a = Start();
  const int beats = a->link->st.Timer3Tag;  // counted by the heartbeat
  loop.RunFor(10'000);
  EXPECT_EQ(a->link->st.Timer3Tag, beats + 10);
  a->FormClose();
  loop.RunFor(5'000);
  EXPECT_EQ(a->link->st.Timer3Tag, beats + 10);
}

}  // namespace
}  // namespace zv
