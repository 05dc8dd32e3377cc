// The site's alarm dispatch on the fake clock, DTMF control, incoming calls
// and the connection time-out on the simulated modem, and the link port's
// conflicts.
#include <algorithm>
#include <thread>

#include "detect/PictureCodec.h"

#include "link/LinkFixture.h"
#include "support/ModemSim.h"
#include "support/PhoneExchange.h"

namespace zv::test {
namespace {

class DispatchTest : public LinkFixture {
 protected:
  // A site with the given Abonents ("Name|Phone|Voice|ToServer|RecallDelay|RecallTime").
  void MakeSite(const std::vector<std::string>& abonents, int commType = 2,
                const std::string& form = {}) {
    std::string extra = "AbonentsCount=" + std::to_string(abonents.size()) + "\r\n";
    for (std::size_t i = 0; i < abonents.size(); ++i) extra += abonents[i];
    a_ = Site(
        1, 1, extra, commType,
        [this](Program& p) {
          TModemProfile& m = p.link().ModemProfile1;
          m.PortTimeOut = 2;
          m.PortStatusDelay = 5;
          m.PortReadDelay = 2;
          m.PortWriteDelay = 2;
          m.CommandDelay = 0;
        },
        form);
    a_->app->video->Shutdown();  // no frames needed here
    a_->app->alarm->gauges.ReadCamera = [this](int k, CameraMotionInput& out) {
      out = {true, 0.08, k == 1 && motion ? 50 : 0};
      return k == 1;
    };
  }
  static std::string Abonent(int n, const std::string& phone, const std::string& voice,
                             bool toServer, int recallDelay = 30, int recallTime = 3) {
    const std::string sec = "[Abonent" + std::to_string(n) + "]\r\n";
    return sec + "Name=Хозяин" + std::to_string(n) + "\r\nPhoneNumber=" + phone +
           "\r\nVoiceFile=" + voice + "\r\nConnectToServerMode=" + (toServer ? "1" : "0") +
           "\r\nRecallDelay=" + std::to_string(recallDelay) +
           "\r\nRecallTime=" + std::to_string(recallTime) + "\r\n";
  }
  Program& site() { return *a_; }
  TAbonentRecord& Ab(int i) { return site().app->settings.Abonents[static_cast<std::size_t>(i)]; }
  bool Dispatching() { return site().site().DispatchActive; }
  void Seconds(int n) { loop.RunFor(static_cast<std::uint64_t>(n) * 1000); }
  bool motion = false;
};

// The heartbeat polls the inputs before the dispatch looks at them: the
// first beat of an alarm already starts counting the reaction delay.
TEST_F(DispatchTest, TheFirstBeatOfAnAlarmStartsTheReactionDelay) {
  MakeSite({Abonent(1, "5550199", "msg.rmd", false)});
  site().site().Armed = true;
  motion = true;
  Seconds(1);
  EXPECT_FALSE(site().app->alarm->LastAllClear);
  EXPECT_TRUE(site().app->Timer4.Enabled());
}

TEST_F(DispatchTest, AnAlarmShorterThanTheReactionDelayCallsNobody) {
  MakeSite({Abonent(1, "5550199", "msg.rmd", false)});
  site().site().Armed = true;
  motion = true;
  Seconds(9);
  motion = false;
  Seconds(5);
  EXPECT_EQ(Ab(1).Attempts, 0);
  EXPECT_FALSE(Dispatching());
  // The count starts again from 0: another 9 seconds are still too short.
  motion = true;
  Seconds(9);
  EXPECT_FALSE(Dispatching());
  Seconds(3);
  EXPECT_TRUE(Dispatching());
}

TEST_F(DispatchTest, AFailingAbonentIsRedialledAfterTheDelayAndGivenUpAfterTheRecallTime) {
  // The modem is not open: every voice call fails.
  MakeSite({Abonent(1, "5550199", "msg.rmd", false, 30, 3)});
  site().site().Armed = true;
  motion = true;
  while (Ab(1).Attempts == 0) Seconds(1);
  const TDateTime first = Ab(1).LastAttemptTime;
  Seconds(29);
  EXPECT_EQ(Ab(1).Attempts, 1);
  Seconds(3);
  EXPECT_EQ(Ab(1).Attempts, 2);
  EXPECT_GT(Ab(1).LastAttemptTime - first, 30 * kOneSecond);
  EXPECT_FALSE(Ab(1).GaveUp);
  Seconds(150);
  EXPECT_TRUE(Ab(1).GaveUp);
  const int attempts = Ab(1).Attempts;
  EXPECT_GE(attempts, 5);
  Seconds(120);
  EXPECT_EQ(Ab(1).Attempts, attempts);
  // Once the alarm is over the dispatch ends.
  motion = false;
  Seconds(2);
  EXPECT_FALSE(Dispatching());
}

TEST_F(DispatchTest, WithoutAbonentsTheDispatchEndsOnTheNextQuietTick) {
  MakeSite({});
  site().site().Armed = true;
  motion = true;
  Seconds(12);
  EXPECT_TRUE(Dispatching());
  motion = false;
  Seconds(1);
  EXPECT_FALSE(Dispatching());
}

TEST_F(DispatchTest, AnEmptyVoiceFileCountsAsReachedWithoutACall) {
  MakeSite({Abonent(1, "5550199", "", false), Abonent(2, "5550100", "msg.rmd", false)});
  site().site().Armed = true;
  motion = true;
  const std::size_t lines = site().Lines();
  Seconds(12);
  EXPECT_TRUE(Ab(1).Reached);
  EXPECT_EQ(Ab(1).Attempts, 1);
  // The next Abonent's call is not held up by the first.
  EXPECT_EQ(Ab(2).Attempts, 1);
  for (const auto& l : site().Logged(lines))
    EXPECT_EQ(l.find("Исходящий голосовой звонок"), std::string::npos) << l;
}

TEST_F(DispatchTest, ServiceCallGoesToTheStationOnceAPeriod) {
  b_ = Station();
  MakeSite({});
  LinkTo(site(), *b_);
  site().link().ClientTestCallPeriod.SetValue(1);
  site().site().Armed = true;
  const std::size_t lines = site().Lines();
  const long long before = b_->link().MessagesHandled();
  Seconds(63);
  ASSERT_TRUE(
      PumpUntil([&] { return site().link().Client() && site().link().Client()->Connected(); }));
  Seconds(2);  // the socket is up now
  const auto logged = site().Logged(lines);
  EXPECT_EQ(std::count(logged.begin(), logged.end(), "Служебный звонок на сервер"), 1);
  EXPECT_TRUE(PumpUntil([&] { return b_->link().MessagesHandled() > before; }));
  EXPECT_TRUE(b_->HasLine("Установка на охрану объекта №1(Склад)"));
}

// A player that only says whether it records and counts the saves.
class SoundRecorder final : public IMediaPlayer {
 public:
  bool Playing() const override { return false; }
  bool Recording() const override { return recording; }
  void Stop() override {}
  bool Save() override {
    ++saves;
    recording = false;
    return true;
  }
  bool StartRecording(const std::string&, std::string&) override { return recording = true; }
  bool recording = false;
  int saves = 0;
};

TEST_F(DispatchTest, ADisarmInTheMiddleOfTheDispatchEndsItAtOnce) {
  SoundRecorder sound;
  MakeSite({Abonent(1, "5550199", "msg.rmd", false), Abonent(2, "5550100", "msg.rmd", false)}, 2,
           "RecordSound.Checked=1\r\n");
  site().link().SetMediaPlayer(&sound);
  site().app->alarm->RemoteSwitchMode();
  ASSERT_TRUE(site().site().Armed);
  motion = true;
  // The station's disarm command arrives while the first Abonent is called.
  loop.onPump = [this] {
    if (Ab(1).Attempts == 1 && site().site().Armed) site().app->alarm->RemoteSwitchMode();
  };
  Seconds(12);
  loop.onPump = nullptr;
  ASSERT_EQ(Ab(1).Attempts, 1);
  EXPECT_FALSE(site().site().Armed);
  EXPECT_EQ(Ab(2).Attempts, 0);  // not even within the same tick
  Seconds(120);
  EXPECT_EQ(Ab(2).Attempts, 0);
  EXPECT_EQ(Ab(1).Attempts, 1);
  EXPECT_FALSE(Dispatching());
  EXPECT_EQ(sound.saves, 1);  // the alarm sound is kept, and no longer recorded
  EXPECT_FALSE(sound.recording);
}

TEST_F(DispatchTest, LinkPortConflictsAndAMissingPortAreReported) {
  MakeSite({}, 1, "UseSwitcher.Checked=1\r\nSwitcherComPort.Value=4\r\n");
  TFormModel& f = site().app->form;
  // Errors 12 at start-up already: COM2 is missing, and the system says why.
  EXPECT_TRUE(site().HasLine("Ошибка открытия порта Com2: для связи с сервером (" +
                             site().dir.path().string() +
                             "/missing-com2: No such file or directory) !"));
  f.ClientComPort.SetValue(4);
  EXPECT_TRUE(site().HasLine("Порт Com4: зарезервирован для управления видеокоммутатором !"));
  f.UseGaugesOnCom.SetChecked(true);
  f.EventComPort.SetValue(5);
  f.ClientComPort.SetValue(5);
  EXPECT_TRUE(site().HasLine("Порт Com5: зарезервирован для получения сигналов с датчиков !"));
  EXPECT_FALSE(site().link().CommPort1.IsOpen());
  // The station's port selector is not the site's.
  const std::size_t lines = site().Lines();
  f.ServerComPort.SetValue(6);
  EXPECT_EQ(site().Lines(), lines);
}

// A port is journaled as open only when it really opened: a device that is
// there but is no serial line (here a plain file) is refused by the open
// itself, after the test for its presence passed.
TEST_F(DispatchTest, APortIsOpenOnlyWhenItReallyOpened) {
  TempDir files;
  const std::string plain = files.file("not-a-tty");
  WriteFile(plain, "");
  comPaths[3] = plain;
  comPaths[5] = plain;
  MakeSite({}, 1, "ClientComPort.Value=3\r\n");
  EXPECT_FALSE(site().link().CommPort1.IsOpen());
  EXPECT_FALSE(site().HasLine("Порт Com3: для связи с сервером открыт"));
  EXPECT_TRUE(site().HasLine("Ошибка открытия порта Com3: для связи с сервером (" + plain +
                             ": Inappropriate ioctl for device) !"));
  // The voice modem the same, and on Com5 it cannot be at all.
  TFormModel& f = site().app->form;
  f.ClientCommType.SetItemIndex(0);
  f.ClientComPort.SetValue(5);
  f.ClientComPort.SetValue(3);
  EXPECT_FALSE(site().link().VoiceModem1.IsOpen());
  EXPECT_FALSE(site().HasLine("Порт Com3: для связи с сервером открыт"));
  EXPECT_TRUE(
      site().HasLine("Ошибка открытия порта Com5: для связи с сервером (модем подключается только "
                     "к Com1-Com4) !"));
}

TEST_F(DispatchTest, AnEmptyDtmfCodeNeverArmsOrDisarms) {
  MakeSite({});
  site().app->form.DefenceOnDTMF.SetText("");
  for (char c : std::string("6592#")) {
    int result = 0;
    site().link().dispatch.VoiceModem1Event(ModemEvent::Dtmf, TEventData{c, 0}, result);
  }
  EXPECT_FALSE(site().site().Armed);
  EXPECT_EQ(site().link().st.DtmfBuffer, "6592#");
  EXPECT_EQ(site().app->journal.Status()[1].text, "8209 35 0");
}

// Guessing the codes: three wrong codes end the call; after three failed
// calls within the hour even the right code is refused, until the lock
// runs out.
TEST_F(DispatchTest, DtmfGuessingEndsTheCallAndThenLocksDtmfControl) {
  MakeSite({});
  LinkSubsystem& link = site().link();
  auto key = [&](const std::string& digits) {
    for (char c : digits) {
      int result = 0;
      link.dispatch.VoiceModem1Event(ModemEvent::Dtmf, TEventData{c, 0}, result);
    }
  };
  for (int call = 1; call <= 3; ++call) {
    link.dispatch.DtmfLock.CallStarted(loop.clock.TickMs());
    key("1111");
    key("2222");
    EXPECT_FALSE(link.st.HangUpDue);
    key("3333");
    EXPECT_TRUE(link.st.HangUpDue);
    Seconds(2);  // the heartbeat ends the call
    EXPECT_FALSE(link.st.HangUpDue);
    EXPECT_FALSE(site().site().Armed);
  }
  EXPECT_EQ(site().Count("Неверный код DTMF набран 3 раза: звонок прерван !"), 3);
  EXPECT_EQ(site().Count("Завершение соединения"), 3);

  link.dispatch.DtmfLock.CallStarted(loop.clock.TickMs());
  key("6592");
  EXPECT_FALSE(site().site().Armed);
  EXPECT_EQ(site().Count("Верный код постановки на охрану по DTMF отклонён"), 1);
  link.dispatch.DtmfLock.CallEnded();

  Seconds(3601);
  EXPECT_EQ(site().Count("Управление охраной по DTMF снова разрешено"), 1);
  link.dispatch.DtmfLock.CallStarted(loop.clock.TickMs());
  key("6592");
  EXPECT_TRUE(site().site().Armed);
}

// --- on the simulated modem

// The modem's set-up at the opening of its port, answered.
void AnswerInit(ModemSim& sim) {
  sim.Answer("ATE0", {"OK"});
  sim.Answer("ATQ0V1", {"OK"});
  sim.Answer("AT&R1\\Q3", {"OK"});
  sim.Answer("ATX4", {"OK"});
  sim.Answer("ATL0", {"OK"});
}

class ModemDispatchTest : public DispatchTest {
 protected:
  void SetUp() override {
    com3Path = sim.SlavePath();
    // Real time passes while the modem answers.
    loop.onPump = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    AnswerInit(sim);
  }
  void Opened(Program& p) {
    ASSERT_TRUE(sim.WaitDone());
    ASSERT_TRUE(p.link().VoiceModem1.IsOpen());
    EXPECT_TRUE(p.HasLine("Порт Com3: для связи с " +
                          std::string(p.app->settings.ServerMode ? "объектами" : "сервером") +
                          " открыт"));
  }
  void Key(const std::string& digits) {
    for (char c : digits) {
      int result = 0;
      site().link().dispatch.VoiceModem1Event(ModemEvent::Dtmf, TEventData{c, 0}, result);
    }
  }
  void VoiceEntry() {
    sim.Answer("AT+FCLASS=8", {"OK"});
    sim.Answer("AT+VNH=1", {"OK"});
    sim.Answer("AT+VSD=51,20", {"OK"});
    sim.Answer("AT+VGT=127", {"OK"});
    sim.Answer("AT+VGR=127", {"OK"});
    sim.Answer("AT+VRA=45+VRN=120", {"OK"});
  }
  ModemSim sim;
};

// A station whose modem does not answer its set-up at first.
class DeafModemTest : public DispatchTest {
 protected:
  void SetUp() override {
    com3Path = sim.SlavePath();
    loop.onPump = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
  }
  int NotAnswering() const { return b_->Count("Модем на порту Com3: не отвечает на команды !"); }
  ModemSim sim;
};

TEST_F(DeafModemTest, AModemStillInACallIsEscapedHungUpAndSetUp) {
  // The call's data keeps the first set-up from being answered.
  sim.OnLine("ATE0", "\x11\x22 picture data\r\n");
  sim.OnBytes("+++", ModemSim::Lines({"OK"}));
  sim.Answer("ATH0", {"OK"});
  AnswerInit(sim);
  b_ = Station("ServerComPort.Value=3\r\n", 0);
  ASSERT_TRUE(sim.WaitDone()) << ::testing::PrintToString(sim.Commands());
  EXPECT_TRUE(sim.Errors().empty()) << ::testing::PrintToString(sim.Errors());
  EXPECT_EQ(NotAnswering(), 0);
  EXPECT_TRUE(b_->HasLine("Порт Com3: для связи с объектами открыт"));
}

TEST_F(DeafModemTest, AModemThatNeverAnswersIsReportedOnceAndThePortStaysOpen) {
  sim.OnLine("ATE0");
  sim.OnBytes("+++", "");
  sim.OnLine("ATH0");
  sim.OnLine("ATE0");
  b_ = Station("ServerComPort.Value=3\r\n", 0);
  ASSERT_TRUE(sim.WaitDone()) << ::testing::PrintToString(sim.Commands());
  EXPECT_EQ(NotAnswering(), 1);
  EXPECT_TRUE(b_->link().VoiceModem1.IsOpen());
  EXPECT_TRUE(sim.Errors().empty()) << ::testing::PrintToString(sim.Errors());
}

TEST_F(ModemDispatchTest, ArmingCodeAmidOtherDigitsArmsAndAnswersThree) {
  MakeSite({}, 0, "ClientComPort.Value=3\r\n");
  Opened(site());
  sim.Answer("AT+VTS=3", {"OK"});
  Key("11659244");
  ASSERT_TRUE(sim.WaitDone());
  EXPECT_TRUE(site().site().Armed);
  EXPECT_EQ(site().link().st.DtmfBuffer, "44");  // what followed the code
  Key("0072");
  EXPECT_TRUE(site().site().Armed);
  Key("95");  // the disarming code, keyed across two events
  EXPECT_FALSE(site().site().Armed);
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(ModemDispatchTest, ArmingCodeDuringAnAlarmAnswersNineStarAndStaysDisarmed) {
  MakeSite({}, 0, "ClientComPort.Value=3\r\n");
  Opened(site());
  motion = true;
  sim.Answer("AT+VTS=9,*,9,*,9,*", {"OK"});
  Key("6592");
  ASSERT_TRUE(sim.WaitDone());
  EXPECT_FALSE(site().site().Armed);
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(ModemDispatchTest, SiteAnswersARingInVoiceModeAndHangsUpAfterFiveMinutes) {
  MakeSite({}, 0, "ClientComPort.Value=3\r\n");
  Opened(site());
  VoiceEntry();
  sim.Answer("AT+VLS=1", {"OK"});
  site().link().st.DtmfBuffer = "12";
  sim.Send(ModemSim::Lines({"RING"}));
  ASSERT_TRUE(PumpUntil([&] { return site().link().VoiceModem1.InputWaiting(); }));
  Seconds(1);
  ASSERT_TRUE(sim.WaitDone()) << ::testing::PrintToString(sim.Commands())
                              << ::testing::PrintToString(sim.Errors());
  EXPECT_TRUE(site().HasLine("Входящий звонок !"));
  EXPECT_FALSE(site().link().st.ModemDataMode);
  EXPECT_TRUE(site().link().st.DtmfBuffer.empty());
  sim.Answer("ATH0", {"OK"});
  Seconds(299);
  EXPECT_FALSE(site().HasLine("Завершение соединения"));
  Seconds(2);
  ASSERT_TRUE(sim.WaitDone());
  EXPECT_TRUE(site().HasLine("Завершение соединения"));
  EXPECT_EQ(site().link().st.RingTime, 0);
  EXPECT_TRUE(sim.Errors().empty());
}

TEST_F(ModemDispatchTest, StationAnswersInDataModeTakesThePictureStreamAndClosesAfterFiveMinutes) {
  b_ = Station("ServerComPort.Value=3\r\n", 0);
  Opened(*b_);
  sim.Answer("ATA", {"OK"});
  b_->link().ReceivedBytes(1) = 77;
  sim.Send(ModemSim::Lines({"RING"}));
  ASSERT_TRUE(PumpUntil([&] { return b_->link().VoiceModem1.InputWaiting(); }));
  Seconds(1);
  ASSERT_TRUE(sim.WaitDone());
  EXPECT_TRUE(b_->HasLine("Входящий звонок !"));
  EXPECT_TRUE(b_->link().st.ModemDataMode);
  EXPECT_EQ(b_->link().ReceivedBytes(1), 0);
  sim.Send(ModemSim::Lines({"CONNECT 33600"}));
  ASSERT_TRUE(PumpUntil([&] { return b_->link().VoiceModem1.InputWaiting(); }));
  Seconds(1);
  EXPECT_TRUE(
      b_->HasLine("Установлено соединение в режиме приёма/передачи данных (скорость: 33600)"));
  EXPECT_TRUE(b_->link().st.DataConnected);

  // A picture over the connection lands in camera 1.
  TPicture pic(352, 288);
  for (std::size_t i = 0; i < pic.SizeBytes(); ++i) pic.Data()[i] = 200;
  JpegCodec codec;
  const auto jpeg = codec.EncodePicture(pic, 90, true);
  std::string stream(4, '\0');
  for (int i = 0; i < 4; ++i)
    stream[static_cast<std::size_t>(i)] = static_cast<char>(jpeg.size() >> (8 * i));
  stream.append(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
  sim.Send(stream);
  ASSERT_TRUE(PumpUntil([&] {
    b_->link().LineReader();  // the tick's reading step, without time passing
    return b_->link().ReceivedBytes(1) == static_cast<long long>(jpeg.size());
  }));
  EXPECT_NEAR(b_->camera(1)->CurrentPicture.Data()[1000], 200, 3);

  sim.OnBytes("+++", "");
  sim.Answer("ATH0", {"OK"});
  sim.Answer("ATH0", {"OK"});
  Seconds(300);
  ASSERT_TRUE(sim.WaitDone());
  EXPECT_TRUE(b_->HasLine("Завершение соединения"));
  EXPECT_FALSE(b_->link().st.DataConnected);
  // Nothing after the escape within its pause, one carriage return after
  // each command.
  EXPECT_TRUE(sim.Errors().empty()) << ::testing::PrintToString(sim.Errors());
}

}  // namespace
}  // namespace zv::test

namespace zv::test {
namespace {

// The direct serial line: the far end is a pseudo-terminal driven by the test.
class SerialLineTest : public DispatchTest {
 protected:
  void SetUp() override {
    com3Path = sim.SlavePath();
    loop.onPump = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
  }
  ModemSim sim;
};

TEST_F(SerialLineTest, CommandsArriveOverTheLineAndTheServiceCallSendsAPicture) {
  MakeSite({}, 1, "ClientComPort.Value=3\r\n");
  ASSERT_TRUE(site().link().CommPort1.IsOpen());
  EXPECT_TRUE(site().HasLine("Порт Com3: для связи с сервером открыт"));
  // The site says who is on the line as soon as it is open.
  ASSERT_TRUE(sim.WaitReceived(23));
  EXPECT_EQ(sim.Received().substr(0, 6), "ZvxCmd");
  EXPECT_EQ(static_cast<unsigned char>(sim.Received()[19]), 0);  // disarmed
  // An arm command with garbage before it and a disarm command in the same burst.
  const auto arm = BuildCommand(true, 0), disarm = BuildCommand(false, 0);
  std::string burst = "noise";
  burst.append(arm.begin(), arm.end());
  sim.Send(burst);
  ASSERT_TRUE(PumpUntil([&] {
    loop.ProcessEvents();
    return site().site().Armed;
  }));
  sim.Send(std::string(disarm.begin(), disarm.end()) + std::string(arm.begin(), arm.end()));
  PumpFor(300);
  loop.ProcessEvents();
  EXPECT_TRUE(site().site().Armed);  // disarmed and armed again by the two

  site().link().dispatch.ServiceCall();
  // The status block alone: a whole picture would hold the line for half a minute.
  ASSERT_TRUE(sim.WaitReceived(46));
  const std::string got = sim.Received().substr(23);
  EXPECT_EQ(got.size(), 23u);
  EXPECT_EQ(got.substr(0, 6), "ZvxCmd");
  EXPECT_EQ(got[6], 23);
  EXPECT_EQ(static_cast<unsigned char>(got[11]), 1);  // the site's ObjNum
  EXPECT_EQ(static_cast<unsigned char>(got[19]), 1);  // armed
  EXPECT_TRUE(site().HasLine("Режим охраны снят"));
}

}  // namespace
}  // namespace zv::test

namespace zv::test {
namespace {

TEST_F(SerialLineTest, TheDirectLineOpensTheChosenPortAlsoOnCom5ToCom8) {
  ModemSim other;
  comPaths[6] = other.SlavePath();
  MakeSite({}, 1, "ClientComPort.Value=3\r\n");
  ASSERT_TRUE(sim.WaitReceived(23));
  site().app->form.ClientComPort.SetValue(6);
  EXPECT_EQ(site().link().CommPort1.DevicePath(), other.SlavePath());
  EXPECT_TRUE(site().HasLine("Порт Com6: для связи с сервером открыт"));
  ASSERT_TRUE(other.WaitReceived(23));  // the site's status, over the new line
  EXPECT_EQ(other.Received().substr(0, 6), "ZvxCmd");
}

}  // namespace
}  // namespace zv::test

namespace zv::test {
namespace {

// A station whose modem is its link, with a direct cable to one site
// besides: that site is followed and gets its commands over the cable.
class DirectLineTest : public DispatchTest {
 protected:
  void SetUp() override {
    const auto [station, site] = exchange.AddCable();
    comPaths[3] = station;
    comPaths[5] = site;
    loop.onPump = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
  }
  PhoneExchange exchange;
};

TEST_F(DirectLineTest, AStationWithAModemFollowsASiteOnItsDirectLine) {
  b_ = StationOf(1, "[Object1]\r\nName=Касса\r\nID=4\r\nCams=1\r\n", "ServerComPort.Value=2\r\n", 0,
                 1, "DirectLineComPort=3\r\n");
  EXPECT_TRUE(b_->HasLine("Порт Com3: для связи с объектами открыт"));
  a_ = Site(4, 1, {}, 1, {}, "ClientComPort.Value=5\r\n");
  // The site says who it is as soon as its line is open.
  ASSERT_TRUE(PumpUntil([&] { return b_->link().SerialPeer().ObjectId() == 4; }));
  TCheckListBox& list = b_->app->form.ObjectListBox;
  list.SetChecked(0, true);
  list.OnClickCheck(0);
  ASSERT_TRUE(PumpUntil([&] { return site().site().Armed; }));
  Seconds(1);  // the site's next tick reports its new status
  ASSERT_TRUE(PumpUntil([&] { return b_->HasLine("Установка на охрану объекта №4(Касса)"); }));
}

// A subscriber being called: the heartbeat waits for the call, so the
// inputs are polled from the call's own waits.  Motion that stops and comes
// back while the message plays is journaled then, not lost.
class VoiceCallTest : public DispatchTest {
 protected:
  void SetUp() override {
    comPaths[3] = exchange.AddModem("5550155");
    exchange.AddSubscriber("5550001", {});
    // The exchange plays the message in real time: the site's clock moves
    // at least as fast as real time while it waits for it.
    loop.onPump = [this] {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      const auto now = std::chrono::steady_clock::now();
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(now - realBefore).count();
      if (ms > 0) {
        loop.clock.AdvanceMs(static_cast<std::uint64_t>(ms));
        realBefore = now;
      }
      if (onPump) onPump();
    };
  }
  void TearDown() override {
    loop.onPump = nullptr;
    DispatchTest::TearDown();
  }
  PhoneExchange exchange;
  TempDir files;
  std::function<void()> onPump;
  std::chrono::steady_clock::time_point realBefore = std::chrono::steady_clock::now();
};

TEST_F(VoiceCallTest, InputsArePolledWhileASubscriberIsCalled) {
  const std::string voice = files.file("message.raw");
  WriteFile(voice, std::string(40000, '\x7F'));  // five seconds
  MakeSite({Abonent(1, "5550001", voice, false, 20, 5)}, 0,
           "ClientComPort.Value=3\r\nDialType.ItemIndex=1\r\nDefenceOffDelay.Value=1\r\n");
  TModemProfile& m = site().link().ModemProfile1;
  m.PortTimeOut = 5;
  ASSERT_TRUE(PumpUntil([&] { return site().HasLine("Порт Com3: для связи с сервером открыт"); }));
  site().site().Armed = true;
  motion = true;

  // While the subscriber hears the message the motion stops, and comes back
  // once the site has seen it stop.
  bool stopped = false, back = false;
  const std::string ended = "Завершение движения по видеокамере";
  onPump = [&] {
    if (!stopped && exchange.VoiceHeard("5550001") > 1000) {
      stopped = true;
      motion = false;
    }
    if (stopped && !back && site().Count(ended) > 0) {
      back = true;
      motion = true;
    }
  };
  for (int i = 0; i < 120 && !site().HasLine("Завершение соединения"); ++i) Seconds(1);
  onPump = nullptr;
  EXPECT_TRUE(Ab(1).Reached);
  const auto logged = site().Logged();
  auto at = [&](const std::string& text, int nth) {
    for (std::size_t i = 0; i < logged.size(); ++i)
      if (logged[i].find(text) != std::string::npos && --nth == 0) return i;
    return logged.size();
  };
  const std::size_t callEnd = at("Завершение соединения", 1);
  ASSERT_LT(callEnd, logged.size());
  EXPECT_LT(at("Исходящий голосовой звонок", 1), at(ended, 1));
  EXPECT_LT(at(ended, 1), callEnd) << ::testing::PrintToString(logged);
  EXPECT_LT(at("Сработка по видеокамере", 2), callEnd) << ::testing::PrintToString(logged);
}

}  // namespace
}  // namespace zv::test
