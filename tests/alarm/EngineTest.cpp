// The gauge poll and defence mode on the foundation alone, with fake
// devices: no page, no application.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "FakeAlarmDevices.h"
#include "alarm/Defence.h"
#include "alarm/Gauges.h"
#include "support/Foundation.h"

namespace zv::test {
namespace {

using Lines = std::vector<std::string>;

class AlarmEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.form.DefenceOnDelay.SetValue(0);
    f.loop.ports.Set("LPT1", "/dev/fake-lpt");
  }
  bool Beeped(unsigned hz) const {
    const auto& b = f.loop.speaker.beeps;
    return std::any_of(b.begin(), b.end(), [&](const auto& n) { return n.hz == hz; });
  }
  void Click() { defence.SwitchModeBtnClick(DefenceMode::Request::Remote); }

  Foundation f;
  std::shared_ptr<ModemLinesState> com = std::make_shared<ModemLinesState>();
  std::shared_ptr<ParallelState> lpt = std::make_shared<ParallelState>();
  SiteStatus site;
  Gauges gauges{f.loop.services,
                f.journal,
                f.form,
                f.settings,
                f.cameras,
                site,
                std::make_unique<FakeModemLines>(com),
                std::make_unique<FakeParallel>(lpt)};
  DefenceMode defence{f.loop.services, f.journal, f.form, f.frame, gauges, site};
};

// Arming asks the inputs first: refused (and sounded) while one is in
// alarm, done once all are quiet.  Disarming also ends an alarm dispatch.
TEST_F(AlarmEngineTest, ArmingWaitsForQuietInputsAndDisarmingEndsTheDispatch) {
  f.form.UseGaugesOnLpt.SetChecked(true);
  f.form.NotAck.SetChecked(true);
  lpt->status = 0x80 | 0x40;  // Ack pin high: in alarm
  Click();
  EXPECT_FALSE(site.Armed);
  EXPECT_EQ(f.journal.Status()[0].text, "Попытка постановки на охрану при сработавших датчиках !");
  EXPECT_TRUE(Beeped(8000));

  lpt->status = 0x80;
  const std::size_t from = f.Lines();
  Click();
  EXPECT_TRUE(site.Armed);
  EXPECT_FALSE(f.form.PageControl1.Visible());
  EXPECT_EQ(f.form.SwitchModeBtn.Caption(), DefenceMode::kDisarmCaption);
  EXPECT_EQ(f.Logged(from), (Lines{"Завершение сработки - \"Большая комн.\" !",
                                   "Постановка на охрану...", "Режим охраны установлен"}));

  site.DispatchActive = true;
  Click();
  EXPECT_FALSE(site.Armed);
  EXPECT_FALSE(site.DispatchActive);
  EXPECT_TRUE(f.form.PageControl1.Visible());
  EXPECT_EQ(f.form.SwitchModeBtn.Caption(), DefenceMode::kArmCaption);
}

// At the keyboard, only the owner's password disarms.
TEST_F(AlarmEngineTest, TheKeyboardDisarmsWithTheOwnersPasswordOnly) {
  Click();
  ASSERT_TRUE(site.Armed);
  f.loop.dialogs.inputs = {"1"};
  defence.SwitchModeBtnClick(DefenceMode::Request::Local);
  EXPECT_TRUE(site.Armed);
  EXPECT_EQ(f.Logged().back(), "Неверный пароль !");
  f.loop.dialogs.inputs = {DefenceMode::kOwnerPassword};
  defence.SwitchModeBtnClick(DefenceMode::Request::Local);
  EXPECT_FALSE(site.Armed);
}

// Every camera is watched, but only cameras 1..8 have a bit in the mask the
// station receives; while armed, each start and end of motion is one line.
TEST_F(AlarmEngineTest, CameraMotionIsJournaledOnceEachWayAndMaskedForTheFirstEight) {
  f.cameras.SetFactory([](int k) { return std::make_unique<TCameraInfo>(k); });
  for (int k = 1; k <= 10; ++k) f.cameras.CreateNext().Description = "Камера" + std::to_string(k);
  bool moving = true;
  gauges.ReadCamera = [&](int k, CameraMotionInput& out) {
    out = {true, 1.0, moving && (k == 2 || k == 9) ? 5 : 0};
    return true;
  };
  site.Armed = true;
  const std::size_t from = f.Lines();
  EXPECT_FALSE(gauges.Poll());
  EXPECT_FALSE(gauges.Poll());
  EXPECT_EQ(site.CameraAlarmMask, 0x02);
  moving = false;
  EXPECT_TRUE(gauges.Poll());
  EXPECT_EQ(site.CameraAlarmMask, 0);
  EXPECT_EQ(f.Logged(from),
            (Lines{"Сработка по видеокамере \"Камера2\" !", "Сработка по видеокамере \"Камера9\" !",
                   "Завершение движения по видеокамере \"Камера2\"",
                   "Завершение движения по видеокамере \"Камера9\""}));
}

}  // namespace
}  // namespace zv::test
