#include "AlarmFixture.h"
#include "detect/FrameRecorder.h"

namespace zv::test {
namespace {

using Lines = std::vector<std::string>;

const std::string kCountdownHead = "Внимание ! Постановка на охрану, осталось ";
const std::string kCountdownTail = " сек. (<Esc> - отмена постановки)...";

class DefenceTest : public AlarmFixture {
 protected:
  void Click() { form().SwitchModeBtn.Click(); }
  std::vector<std::string> Countdown() const {
    std::vector<std::string> out;
    for (const auto& t : statusTexts)
      if (t.rfind(kCountdownHead, 0) == 0) out.push_back(t);
    return out;
  }
  std::vector<unsigned> Tones() const {
    std::vector<unsigned> out;
    for (const auto& b : loop.speaker.beeps) out.push_back(b.hz);
    return out;
  }
  void ArmNow() {
    form().DefenceOnDelay.SetValue(-1);
    Click();
    ASSERT_TRUE(site().Armed);
  }
};

TEST_F(DefenceTest, ArmingWithATenSecondCountdown) {
  const std::uint64_t t0 = loop.clock.TickMs();
  Click();
  ASSERT_TRUE(site().Armed);
  std::vector<std::string> expected;
  for (int n = 10; n >= 0; --n)
    expected.push_back(kCountdownHead + std::to_string(n) + kCountdownTail);
  EXPECT_EQ(Countdown(), expected);
  ASSERT_EQ(loop.speaker.beeps.size(), 11u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(loop.speaker.beeps[static_cast<std::size_t>(i)].hz, 400u);
    EXPECT_EQ(loop.speaker.beeps[static_cast<std::size_t>(i)].ms, 10u);
  }
  EXPECT_EQ(loop.speaker.beeps[10].hz, 1000u);
  EXPECT_EQ(loop.speaker.beeps[10].ms, 300u);
  EXPECT_EQ(loop.clock.TickMs() - t0, 11u * 990 + 10 * 10 + 300);
  EXPECT_EQ(loop.pumpCalls, 11);
  // Only the start and the end are journaled; the countdown is not.
  EXPECT_EQ(Logged(), (Lines{"Постановка на охрану...", "Режим охраны установлен"}));
  EXPECT_EQ(statusTexts.back(), "Режим охраны установлен");
  EXPECT_EQ(recordClicks, 1);
  EXPECT_TRUE(form().RecordBtn.Down());
  EXPECT_FALSE(form().PageControl1.Visible());
  EXPECT_EQ(form().SwitchModeBtn.Caption(), "Снять с охраны...");
  EXPECT_EQ(form().SwitchModeBtn.FontColor(), DefenceMode::kArmedColor);
  EXPECT_TRUE(form().SwitchModeBtn.Enabled());
}

TEST_F(DefenceTest, ZeroAndNegativeDelays) {
  form().DefenceOnDelay.SetValue(0);
  Click();
  EXPECT_TRUE(site().Armed);
  EXPECT_EQ(Countdown(), (Lines{kCountdownHead + "0" + kCountdownTail}));
  EXPECT_EQ(Tones(), (std::vector<unsigned>{1000}));

  alarm().RemoteSwitchMode();
  ASSERT_FALSE(site().Armed);
  loop.speaker.beeps.clear();
  statusTexts.clear();
  form().DefenceOnDelay.SetValue(-1);
  const std::uint64_t t0 = loop.clock.TickMs();
  Click();
  EXPECT_TRUE(site().Armed);
  EXPECT_EQ(Countdown(), Lines{});
  EXPECT_EQ(Tones(), std::vector<unsigned>{});
  EXPECT_EQ(loop.clock.TickMs(), t0);
}

TEST_F(DefenceTest, EscCancelsTheCountdownAndRecordingGoesOn) {
  loop.onPump = [this] {
    EXPECT_FALSE(form().SwitchModeBtn.Enabled());  // no second countdown meanwhile
    if (loop.pumpCalls == 3) app->frame.FormKeyDown(27);
  };
  app->frame.EscapePressed = true;  // an old key press does not count
  Click();
  EXPECT_FALSE(site().Armed);
  EXPECT_FALSE(app->frame.EscapePressed);
  EXPECT_EQ(Countdown().size(), 3u);
  EXPECT_EQ(Logged(), (Lines{"Постановка на охрану...", "Постановка на охрану отменена"}));
  EXPECT_TRUE(form().RecordBtn.Down());
  EXPECT_TRUE(form().PageControl1.Visible());
  EXPECT_EQ(form().SwitchModeBtn.Caption(), "Поставить на охрану...");
  EXPECT_EQ(form().SwitchModeBtn.FontColor(), DefenceMode::kDisarmedColor);
  EXPECT_TRUE(form().SwitchModeBtn.Enabled());

  // Recording already on: arming does not touch it.
  loop.onPump = nullptr;
  ArmNow();
  EXPECT_EQ(recordClicks, 1);
}

TEST_F(DefenceTest, ArmingIsRefusedWhileAnInputOrACameraIsInAlarm) {
  form().UseGaugesOnLpt.SetChecked(true);
  form().Busy.SetChecked(false);  // switched off: does not block arming
  lpt->status = 0x00;
  ArmNow();
  alarm().RemoteSwitchMode();
  const std::size_t before = JournalSize();

  form().SelectIn.SetChecked(true);
  lpt->status = 0x90;
  Click();
  EXPECT_FALSE(site().Armed);
  EXPECT_EQ(Logged(before), (Lines{"Сработка - \"Кухня\" !",
                                   "Попытка постановки на охрану при сработавших датчиках !"}));
  ASSERT_EQ(loop.speaker.beeps.size(), 1u);
  EXPECT_EQ(loop.speaker.beeps[0].hz, 8000u);
  EXPECT_EQ(loop.speaker.beeps[0].ms, 100u);
  EXPECT_EQ(recordClicks, 2);  // started by the first arming, stopped by the disarm
  EXPECT_TRUE(form().SwitchModeBtn.Enabled());

  // A moving camera blocks arming without a line of its own; a quiet one
  // at the default threshold does not.
  lpt->status = 0x80;
  app->cameras.SetFactory([](int n) { return std::make_unique<TCameraInfo>(n); });
  app->cameras.CreateNext();
  feed.cams[1] = {true, 0.10, 0};
  form().DefenceOnDelay.SetValue(-1);
  feed.cams[1].changeValue = 3;
  const std::size_t mid = JournalSize();
  Click();
  EXPECT_FALSE(site().Armed);
  EXPECT_EQ(Logged(mid), (Lines{"Завершение сработки - \"Кухня\" !",
                                "Попытка постановки на охрану при сработавших датчиках !"}));
  feed.cams[1].changeValue = 0;
  Click();
  EXPECT_TRUE(site().Armed);
}

TEST_F(DefenceTest, DisarmingAtTheKeyboardNeedsTheOwnersPassword) {
  ArmNow();
  site().DispatchActive = true;
  const std::size_t before = JournalSize();

  loop.dialogs.cancelInput = true;
  Click();
  loop.dialogs.cancelInput = false;
  loop.dialogs.inputs.push_back("55");
  Click();
  EXPECT_TRUE(site().Armed);
  EXPECT_EQ(Logged(before), (Lines{"Неверный пароль !", "Неверный пароль !"}));
  EXPECT_EQ(app->journal.Status()[0].text, "Неверный пароль !");
  EXPECT_EQ(app->journal.Status()[0].color, colors::clRed);
  const std::string log = ReadFile(app->journal.LogPath());
  EXPECT_NE(log.find("       8 Неверный пароль !"), std::string::npos);
  EXPECT_EQ(loop.dialogs.inputPrompts,
            (Lines{"Введите пароль хозяина :", "Введите пароль хозяина :"}));
  EXPECT_TRUE(form().SwitchModeBtn.Enabled());

  loop.dialogs.inputs.push_back(DefenceMode::kOwnerPassword);
  Click();
  EXPECT_FALSE(site().Armed);
  EXPECT_EQ(Logged(before + 2), (Lines{"Режим охраны снят"}));
  EXPECT_FALSE(site().DispatchActive);
  EXPECT_FALSE(form().RecordBtn.Down());
  EXPECT_TRUE(form().PageControl1.Visible());
  EXPECT_EQ(form().SwitchModeBtn.Caption(), "Поставить на охрану...");
  EXPECT_EQ(form().SwitchModeBtn.FontColor(), DefenceMode::kDisarmedColor);
}

TEST_F(DefenceTest, RemoteRequestsSkipThePasswordButNotTheCountdown) {
  form().DefenceOnDelay.SetValue(2);
  alarm().RemoteSwitchMode();
  EXPECT_TRUE(site().Armed);
  EXPECT_EQ(Countdown().size(), 3u);
  alarm().RemoteSwitchMode();
  EXPECT_FALSE(site().Armed);
  EXPECT_TRUE(loop.dialogs.inputPrompts.empty());
  EXPECT_EQ(recordClicks, 2);
}

TEST_F(DefenceTest, TheHeartbeatPollsDuringTheCountdown) {
  app->Timer3.SetInterval(1000);
  app->Timer3.SetEnabled(true);
  form().UseGaugesOnLpt.SetChecked(true);
  form().NotError.SetChecked(true);
  loop.onPump = [this] {
    if (loop.pumpCalls == 4) lpt->status = 0x88;
  };
  form().DefenceOnDelay.SetValue(6);
  Click();
  // The countdown does not look at the gauges again; the poll journals.
  EXPECT_TRUE(site().Armed);
  EXPECT_EQ(Logged(),
            (Lines{"Постановка на охрану...", "Сработка - \"Сейф\" !", "Режим охраны установлен"}));
}

TEST_F(DefenceTest, RecordedFramesCarryTheArmedFlagAndTheMasks) {
  form().UseGaugesOnLpt.SetChecked(true);
  form().PaperOut.SetChecked(true);
  ArmNow();
  form().NotError.SetChecked(false);
  lpt->status = 0x80 | 0x20 | 0x08;
  Poll();
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(dir.file("rec.bin")));
  JpegCodec codec;
  FrameRecorder recorder(codec);
  const TPicture picture(32, 24);
  FrameDescriptor armed, quiet;
  ASSERT_TRUE(recorder.WriteFrame(picture, armed, pair, {}, DescriptorStatusOf(site())).ok());
  alarm().RemoteSwitchMode();
  Poll();
  ASSERT_TRUE(recorder.WriteFrame(picture, quiet, pair, {}, DescriptorStatusOf(site())).ok());
  pair.Close();

  RecordingReader reader;
  ASSERT_TRUE(reader.Open(dir.file("rec.bin")));
  FrameDescriptor r1, r2;
  ASSERT_TRUE(reader.ReadDescriptor(1, r1));
  ASSERT_TRUE(reader.ReadDescriptor(2, r2));
  EXPECT_TRUE(r1.defence);
  EXPECT_EQ(r1.gaugeAlarmMask, 0x05);
  EXPECT_EQ(r1.gaugeEnabledMask, 0x04);
  EXPECT_FALSE(r2.defence);
  EXPECT_EQ(r2.gaugeAlarmMask, 0x05);
}

}  // namespace
}  // namespace zv::test
