// One station and three sites as whole programs over real loopback TCP: the
// operator's commands reach only the site they are meant for, and no peer
// can act on an Object it does not speak for.
#include "link/LinkFixture.h"

namespace zv::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string ObjectIni(int record, const std::string& name, int id, const std::string& camera) {
  return "[Object" + std::to_string(record) + "]\r\nName=" + name + "\r\nID=" + std::to_string(id) +
         "\r\nCams=1\r\nCameras=\"" + camera + "\"\r\n";
}

class ManySitesTest : public LinkFixture {
 protected:
  void SetUp() override {
    // Record numbers and IDs differ, as they do after deletions and edits.
    b_ = StationOf(3, ObjectIni(1, "Склад", 5, "Ворота") + ObjectIni(2, "Офис", 2, "Холл") +
                          ObjectIni(3, "Гараж", 9, "Въезд"));
    for (int id : {5, 2, 9}) {
      more_.push_back(Site(id, 1));
      Program& s = *more_.back();
      s.app->video->Shutdown();  // pictures go out when the test says so
      LinkTo(s, station());
      s.app->alarm->RemoteSwitchMode();  // armed as by the station's command
      ASSERT_TRUE(s.site().Armed);
    }
    Round();
    ASSERT_TRUE(PumpUntil([&] {
      return station().HasLine("Установка на охрану объекта №5(Склад)") &&
             station().HasLine("Установка на охрану объекта №2(Офис)") &&
             station().HasLine("Установка на охрану объекта №9(Гараж)");
    }));
  }
  Program& station() { return *b_; }
  Program& site(int i) { return *more_[static_cast<std::size_t>(i - 1)]; }
  // Every site sends one picture; the station has them all afterwards.
  void Round() {
    const long long before = station().link().MessagesHandled();
    int expected = 0;
    for (auto& s : more_) {
      const bool sends = s->site().Armed || s->link().LastSentArmed;
      const bool up = s->link().Client() && s->link().Client()->Connected();
      s->link().Button1Click();
      // A site that connects now introduces itself, then its picture follows.
      if (!up) {
        ASSERT_TRUE(PumpUntil([&] { return s->link().Client()->Connected(); }));
        ++expected;
        s->link().Button1Click();
      }
      expected += sends ? 1 : 0;
    }
    ASSERT_TRUE(PumpUntil([&] { return station().link().MessagesHandled() >= before + expected; }));
  }
  const TObjectRecord& Obj(int record) {
    return station().app->settings.Objects[static_cast<std::size_t>(record)];
  }
  static Bytes Message(int objId, bool armed) {
    const std::size_t size = static_cast<std::size_t>(TPicture::StrideFor(352)) * 288;
    Bytes m = BuildHeader(static_cast<std::int32_t>(size + 19), link::mtPicture,
                          static_cast<std::uint8_t>(objId), 1, 0xFF, 0);
    m.resize(m.size() + size, 0x3C);
    m[19] = armed ? 1 : 0;
    m[20] = m[21] = m[22] = 0;
    return m;
  }
  std::unique_ptr<INetClient> Raw() {
    auto c = net.CreateClient();
    EXPECT_TRUE(c->Open("127.0.0.1", station().link().Listener()->Port()));
    EXPECT_TRUE(PumpUntil([&] { return c->Connected(); }));
    return c;
  }
  std::size_t Count(const std::string& prefix) {
    std::size_t n = 0;
    for (const auto& l : station().Logged())
      if (l.rfind(prefix, 0) == 0) ++n;
    return n;
  }
};

TEST_F(ManySitesTest, UntickingOneObjectDisarmsOnlyItsSiteAndTheOthersStayRecorded) {
  ASSERT_TRUE(station().app->form.RecordBtn.Down());
  TCheckListBox& list = station().app->form.ObjectListBox;
  list.SetChecked(1, false);
  list.OnClickCheck(1);  // the operator unticks Object 2 (record 2)
  ASSERT_TRUE(PumpUntil([&] { return !site(2).site().Armed; }));
  PumpFor(200);
  EXPECT_TRUE(site(1).site().Armed);
  EXPECT_TRUE(site(3).site().Armed);
  EXPECT_FALSE(site(1).HasLine("Режим охраны снят"));

  // Site 2's one more picture tells the station; the others go on recording.
  const long long cam1 = station().link().ReceivedBytes(1);
  const long long cam3 = station().link().ReceivedBytes(3);
  Round();
  ASSERT_TRUE(PumpUntil([&] { return station().HasLine("Снятие с охраны объекта №2(Офис)"); }));
  EXPECT_TRUE(station().app->form.RecordBtn.Down());
  EXPECT_TRUE(Obj(1).ArmedNow);
  EXPECT_FALSE(Obj(2).ArmedNow);
  EXPECT_TRUE(Obj(3).ArmedNow);
  Round();
  EXPECT_GT(station().link().ReceivedBytes(1), cam1);
  EXPECT_GT(station().link().ReceivedBytes(3), cam3);
  EXPECT_EQ(Count("Снятие с охраны"), 1u);
}

TEST_F(ManySitesTest, APeerWithAnUnknownIdChangesNothing) {
  const std::size_t lines = station().Lines();
  const std::uint8_t before = station().camera(1)->CurrentPicture.Data()[100];
  auto raw = Raw();
  for (bool armed : {true, false}) {
    const Bytes m = Message(44, armed);
    raw->Send(m.data(), m.size());
  }
  const long long handled = station().link().MessagesHandled();
  ASSERT_TRUE(PumpUntil([&] { return station().link().MessagesHandled() >= handled + 2; }));
  const auto logged = station().Logged(lines);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].rfind("Данные неизвестного объекта №44 (127.0.0.1:", 0), 0u) << logged[0];
  EXPECT_NE(logged[0].find(") отброшены !"), std::string::npos);
  for (int r = 1; r <= 3; ++r) EXPECT_TRUE(Obj(r).ArmedNow);
  EXPECT_EQ(station().camera(1)->CurrentPicture.Data()[100], before);
  EXPECT_TRUE(station().app->form.RecordBtn.Down());
}

TEST_F(ManySitesTest, ASiteClaimingASecondObjectIsRefused) {
  // Site 1 (Object 5) now says it is Object 9, and disarmed.
  site(1).app->form.ObjNum.SetValue(9);
  site(1).app->alarm->RemoteSwitchMode();
  ASSERT_FALSE(site(1).site().Armed);
  const std::size_t lines = station().Lines();
  Round();
  ASSERT_TRUE(PumpUntil([&] { return station().Lines() > lines; }));
  PumpFor(100);
  EXPECT_EQ(
      station().Logged(lines).front().find("объекта №5 передаёт данные объекта №9: отклонено"),
      station().Logged(lines).front().find("объекта №5"));
  EXPECT_TRUE(Obj(3).ArmedNow);  // Object 9 is site 3's, still armed
  EXPECT_TRUE(Obj(1).ArmedNow);
  EXPECT_EQ(Count("Снятие с охраны"), 0u);
}

TEST_F(ManySitesTest, ACommandForAnObjectThatIsNotConnectedIsNotSentAndJournaled) {
  site(3).link().Client()->Close();  // site 3 goes away
  ASSERT_TRUE(PumpUntil([&] { return station().link().ConnectionCount() == 2; }));
  TCheckListBox& list = station().app->form.ObjectListBox;
  list.SetChecked(2, false);
  list.OnClickCheck(2);
  EXPECT_TRUE(
      station().HasLine("Команда снятия с охраны не передана: объект №9(Гараж) не на связи !"));
  PumpFor(200);
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(site(i).site().Armed);
}

}  // namespace
}  // namespace zv::test
