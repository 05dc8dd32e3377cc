#include <algorithm>
#include <cerrno>
#include <cstring>

#include "AlarmFixture.h"
#include "video/Camera.h"
#include "video/VideoInput.h"

namespace zv::test {
namespace {

class StartupTest : public AlarmFixture {
 protected:
  void Start(const std::string& main, const std::string& mainForm, bool fakeCameras = true) {
    WriteFile(dir.file("Zorvenix.ini"), "[Main]\r\n" + main + "[MainForm]\r\n" + mainForm);
    Build(fakeCameras);
    app->FormCreate();
  }
  std::ptrdiff_t IndexOf(const std::string& text) const {
    const auto lines = Logged();
    const auto it = std::find(lines.begin(), lines.end(), text);
    return it == lines.end() ? -1 : it - lines.begin();
  }
};

TEST_F(StartupTest, SiteChecksTheGaugePortAndArmsAfterItIsUp) {
  loop.ports.Set("COM3", dir.file("no-such-port"));
  com->present = false;
  Start("",
        "AutoStartDefence.Checked=1\r\nDefenceOnDelay.Value=1\r\nUseGaugesOnCom.Checked=1\r\n"
        "EventComPort.Value=3\r\nClientComPort.Value=2\r\n");
  EXPECT_TRUE(site().Armed);
  const auto portError = IndexOf("Ошибка открытия порта Com3: для получения сигналов с датчиков (" +
                                 loop.ports.ComDevice(3) + ": " + std::strerror(ENOENT) + ") !");
  const auto started = IndexOf("Программа запущена");
  const auto arming = IndexOf("Постановка на охрану...");
  const auto armed = IndexOf("Режим охраны установлен");
  ASSERT_GE(portError, 0);
  EXPECT_LT(portError, started);
  EXPECT_LT(started, arming);
  EXPECT_EQ(armed, arming + 1);
  EXPECT_EQ(Logged().size(), static_cast<std::size_t>(armed) + 1);
  EXPECT_EQ(recordClicks, 1);

  // The heartbeat polls once a second.
  form().UseGaugesOnLpt.SetChecked(true);
  loop.RunFor(3000);
  EXPECT_EQ(lpt->reads, 3);
}

TEST_F(StartupTest, StationNeitherArmsNorPolls) {
  Start("ServerMode=1\r\n",
        "AutoStartDefence.Checked=1\r\nUseGaugesOnLpt.Checked=1\r\nUseGaugesOnCom.Checked=1\r\n"
        "EventComPort.Value=3\r\n");
  loop.RunFor(3000);
  EXPECT_FALSE(site().Armed);
  EXPECT_EQ(IndexOf("Постановка на охрану..."), -1);
  EXPECT_EQ(lpt->reads, 0);
  EXPECT_EQ(com->opens, 0);
}

TEST_F(StartupTest, CameraAlarmsFollowTheSitesCameras) {
  Start("", "CamerasAmount.Value=2\r\nDefenceOnDelay.Value=-1\r\n", false);
  ASSERT_EQ(app->cameras.CameraCount(), 2);
  TCamera* cam = app->cameras.GetAs<TCamera>(2);
  ASSERT_NE(cam, nullptr);
  cam->Description = "Двор";
  EXPECT_TRUE(alarm().gauges.Poll());  // a quiet camera at its default threshold
  cam->ChangeValue = 4;
  EXPECT_FALSE(alarm().gauges.Poll());
  EXPECT_EQ(site().CameraAlarmMask, 0x02);
  cam->ReactionEnabled = false;
  EXPECT_TRUE(alarm().gauges.Poll());
  form().SwitchModeBtn.Click();
  EXPECT_TRUE(site().Armed);
  cam->ReactionEnabled = true;
  loop.RunFor(1000);
  EXPECT_EQ(Logged().back(), "Сработка по видеокамере \"Двор\" !");
}

}  // namespace
}  // namespace zv::test
