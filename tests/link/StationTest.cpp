// The station: pictures into the Objects' cameras, the status comparison with
// its journal lines and beep patterns, operator commands and the service-call
// supervision.
#include <algorithm>
#include <map>

#include "app/Utils.h"
#include "link/LinkFixture.h"

namespace zv::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Note {
  unsigned hz, ms;
  bool operator==(const Note& o) const { return hz == o.hz && ms == o.ms; }
};

class StationTest : public LinkFixture {
 protected:
  void SetUp() override { a_ = Station(); }
  Program& st() { return *a_; }

  // A picture message of site objId's camera cam with a status block.
  Bytes Payload(bool armed, std::uint8_t mask, std::uint8_t state, std::uint8_t cams,
                std::uint8_t fill = 0x5A) {
    Bytes p(static_cast<std::size_t>(TPicture::StrideFor(352)) * 288, fill);
    p[0] = armed ? 1 : 0;
    p[1] = mask;
    p[2] = state;
    p[3] = cams;
    return p;
  }
  static LinkMessage Msg(int objId, int cam, const Bytes& payload,
                         std::uint8_t type = link::mtPicture, std::uint8_t arg3 = 0xFF) {
    LinkMessage m;
    m.Length = static_cast<std::int32_t>(payload.size() + 19);
    m.Type = type;
    m.Arg1 = static_cast<std::uint8_t>(objId);
    m.Arg2 = static_cast<std::uint8_t>(cam);
    m.Arg3 = arg3;
    m.Payload = payload.data();
    m.PayloadSize = payload.size();
    return m;
  }
  void SendOn(LinkPeer& peer, int objId, int cam, const Bytes& payload) {
    st().link().station.HandleLinkMessage(Msg(objId, cam, payload), peer);
  }
  // Every site on its own connection, already known to speak for its Object
  // (the first message's binding and its journal line are tested apart).
  void Send(int objId, int cam, const Bytes& payload) {
    auto [it, fresh] = peers.try_emplace(objId);
    if (fresh && objId != 0) it->second.Bind(objId);
    SendOn(it->second, objId, cam, payload);
  }
  std::map<int, LinkPeer> peers;
  void Status(int objId, bool armed, std::uint8_t mask, std::uint8_t state, std::uint8_t cams) {
    Send(objId, 1, Payload(armed, mask, state, cams));
  }
  std::vector<Note> Played(std::size_t from) const {
    std::vector<Note> out;
    for (std::size_t i = from; i < loop.speaker.beeps.size(); ++i)
      out.push_back({loop.speaker.beeps[i].hz, loop.speaker.beeps[i].ms});
    return out;
  }
  static std::vector<Note> Pattern(const std::string& pattern) {
    FakeLoop other;
    PlayBeepPattern(other.services, pattern);
    std::vector<Note> out;
    for (const auto& b : other.speaker.beeps) out.push_back({b.hz, b.ms});
    return out;
  }
  static std::vector<Note> Join(std::initializer_list<std::vector<Note>> parts) {
    std::vector<Note> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  }
  const TObjectRecord& Obj(int i) {
    return st().app->settings.Objects[static_cast<std::size_t>(i)];
  }
};

TEST_F(StationTest, FirstArmedMessageTicksJournalsAndStartsRecordingOnce) {
  const std::size_t lines = st().Lines(), beeps = loop.speaker.beeps.size();
  Send(1, 2, Payload(true, 0x07, 0, 0, 0x33));
  EXPECT_TRUE(st().app->form.ObjectListBox.Checked(0));
  EXPECT_TRUE(st().app->form.RecordBtn.Down());
  EXPECT_EQ(st().Logged(lines),
            (std::vector<std::string>{"Установка на охрану объекта №1(Склад)"}));
  EXPECT_EQ(Played(beeps), Pattern("g50;s200"));
  // The picture went into the Object's second camera, status block included.
  const TPicture& pic = st().camera(2)->CurrentPicture;
  EXPECT_EQ(pic.Data()[0], 1);
  EXPECT_EQ(pic.Data()[4], 0x33);
  EXPECT_EQ(pic.Data()[pic.SizeBytes() - 1], 0x33);
  EXPECT_EQ(st().link().ReceivedBytes(2), 304128);

  Send(1, 2, Payload(true, 0x07, 0, 0, 0x33));  // nothing new
  EXPECT_EQ(st().Lines(), lines + 1);
  EXPECT_EQ(loop.speaker.beeps.size(), beeps + Pattern("g50;s200").size());
  EXPECT_TRUE(st().app->form.RecordBtn.Down());
}

TEST_F(StationTest, GaugeAlarmsNameTheInputsAndTheirReturnIsJournaled) {
  Status(1, true, 0x07, 0, 0);
  std::size_t lines = st().Lines(), beeps = loop.speaker.beeps.size();
  Status(1, true, 0x07, 0x02, 0);  // bit 1: the second name
  Status(1, true, 0x07, 0x05, 0);  // bits 0 and 2
  Status(1, true, 0x07, 0x08, 0);  // an input not enabled: back to normal
  EXPECT_EQ(st().Logged(lines), (std::vector<std::string>{
                                    "Сработка датчика \"Окно\" на объекте №1(Склад) !",
                                    "Сработка датчиков \"Дверь\",\"Подвал\" на объекте №1(Склад) !",
                                    "Датчики на объекте №1(Склад) снова в рабочем состоянии"}));
  const std::string beep = st().app->form.BeepStr.Text();
  EXPECT_EQ(Played(beeps), Join({Pattern(beep), Pattern(beep), Pattern("i50")}));
  EXPECT_EQ(st().app->journal.View()[lines].color, KindColor(jkAlarm));
}

TEST_F(StationTest, CameraMotionOfTwoCamerasIsOneLine) {
  Status(1, true, 0, 0, 0);
  const std::size_t lines = st().Lines(), beeps = loop.speaker.beeps.size();
  Status(1, true, 0, 0, 0x01);
  Status(1, true, 0, 0, 0x03);
  Status(1, true, 0, 0, 0x00);
  EXPECT_EQ(st().Logged(lines),
            (std::vector<std::string>{
                "Сработка по видеокамере \"Ворота\" на объекте №1(Склад) !",
                "Сработка по видеокамерам \"Ворота\",\"Двор\" на объекте №1(Склад) !",
                "Завершение движения по видеокамерам на объекте №1(Склад)"}));
  EXPECT_EQ(Played(beeps), Join({Pattern("i50;u50;i50"), Pattern("i50;u50;i50")}));
}

TEST_F(StationTest, DisarmingStopsRecordingAndADisarmedSiteIsNotFollowed) {
  Status(2, true, 0x01, 0, 0);
  ASSERT_TRUE(st().app->form.RecordBtn.Down());
  const std::size_t lines = st().Lines(), beeps = loop.speaker.beeps.size();
  Status(2, false, 0x01, 0x01, 0x01);
  Status(2, false, 0x01, 0x00, 0x00);
  Status(2, false, 0x01, 0x01, 0x01);
  EXPECT_EQ(st().Logged(lines), (std::vector<std::string>{"Снятие с охраны объекта №2(Офис)"}));
  EXPECT_EQ(Played(beeps), Pattern("s50;g200"));
  EXPECT_FALSE(st().app->form.ObjectListBox.Checked(1));
  EXPECT_FALSE(st().app->form.RecordBtn.Down());
  // Inputs in alarm when the site is first seen armed (the alarm a modem
  // site calls about) are an alarm; inputs not in use are not.
  Status(2, true, 0x01, 0x03, 0x01);
  Status(2, true, 0x01, 0x03, 0x01);
  EXPECT_EQ(st().Logged(lines + 1),
            (std::vector<std::string>{"Установка на охрану объекта №2(Офис)",
                                      "Сработка датчика \"Датчик1\" на объекте №2(Офис) !",
                                      "Сработка по видеокамере \"Холл\" на объекте №2(Офис) !"}));
}

TEST_F(StationTest, SitesAreFoundByTheirIdAndFollowedEvenWithoutACamera) {
  // Object 2 has one camera: its camera 3 does not exist, the status counts.
  const std::size_t lines = st().Lines();
  Send(2, 3, Payload(true, 0, 0, 0));
  EXPECT_EQ(st().Logged(lines), (std::vector<std::string>{"Установка на охрану объекта №2(Офис)"}));
  // Object 2's camera 1 is the station's camera 3.
  Send(2, 1, Payload(true, 0, 0, 0, 0x77));
  EXPECT_EQ(st().camera(3)->CurrentPicture.Data()[10], 0x77);
  EXPECT_EQ(st().camera(1)->CurrentPicture.Data()[10], 0);
  // Without an ID the camera number is the station's own; camera 9 is none.
  Send(0, 1, Payload(false, 0, 0, 0, 0x11));
  EXPECT_EQ(st().camera(1)->CurrentPicture.Data()[10], 0x11);
  Send(0, 9, Payload(true, 0, 0, 0, 0x11));
  // A short payload fills only what it brings.
  Send(1, 1, Bytes{0, 0, 0, 0, 0x99});
  EXPECT_EQ(st().camera(1)->CurrentPicture.Data()[4], 0x99);
  EXPECT_EQ(st().camera(1)->CurrentPicture.Data()[5], 0x11);
  // The arming, and the keyless connection that spoke for Object 1 by its
  // camera number.
  EXPECT_EQ(st().Lines(), lines + 2);
}

// IDs and record numbers part after deletions and edits: record 1 holds the
// Object with ID 4 here, and nothing is found through record 4.
TEST_F(StationTest, AnObjectIsFoundByItsIdNeverByItsRecordNumber) {
  TObjectRecord& o = st().app->settings.Objects[1];
  o.ID = 4;
  for (int k = 1; k <= 2; ++k) st().camera(k)->ObjID = 4;
  const std::size_t lines = st().Lines();
  Send(0, 2, Payload(true, 0, 0, 0, 0x44));  // no ID: station camera 2, Object ID 4
  EXPECT_EQ(st().camera(2)->CurrentPicture.Data()[10], 0x44);
  Send(4, 1, Payload(true, 0, 0, 0x01));  // the same Object by its ID
  EXPECT_EQ(st().Logged(lines), (std::vector<std::string>{
                                    "Связь с объектом №4(Склад) () без ключа связи: не защищена",
                                    "Установка на охрану объекта №4(Склад)",
                                    "Сработка по видеокамере \"Ворота\" на объекте №4(Склад) !"}));
  EXPECT_TRUE(st().app->form.ObjectListBox.Checked(0));
}

TEST_F(StationTest, UnknownIdsActOnNothingAndAreJournaledOncePerConnection) {
  Send(0, 1, Payload(false, 0, 0, 0, 0x11));
  const std::size_t lines = st().Lines(), beeps = loop.speaker.beeps.size();
  peers[55].SetAddress("127.0.0.1:40001");
  for (int i = 0; i < 3; ++i) Send(55, 1, Payload(true, 0xFF, 0xFF, 0xFF, 0x22));
  EXPECT_EQ(
      st().Logged(lines),
      (std::vector<std::string>{"Данные неизвестного объекта №55 (127.0.0.1:40001) отброшены !"}));
  EXPECT_EQ(st().camera(1)->CurrentPicture.Data()[10], 0x11);  // no camera took it
  EXPECT_FALSE(st().app->form.RecordBtn.Down());
  EXPECT_EQ(loop.speaker.beeps.size(), beeps);
  // The same ID on another connection is journaled again, once.
  LinkPeer other("127.0.0.1:40002");
  for (int i = 0; i < 2; ++i) SendOn(other, 55, 1, Payload(true, 0, 0, 0));
  EXPECT_EQ(st().Lines(), lines + 2);
}

TEST_F(StationTest, AConnectionSpeaksForOneObjectOnly) {
  LinkPeer& one = peers[1];
  one.SetAddress("127.0.0.1:40003");
  Status(1, true, 0, 0, 0);
  ASSERT_EQ(one.ObjectId(), 1);
  const std::size_t lines = st().Lines();
  // The same connection claims Object 2, twice: refused, journaled once.
  for (int i = 0; i < 2; ++i) SendOn(one, 2, 1, Payload(true, 0, 0, 0, 0x66));
  EXPECT_EQ(st().Logged(lines),
            (std::vector<std::string>{
                "Соединение 127.0.0.1:40003 объекта №1 передаёт данные объекта №2: отклонено !"}));
  EXPECT_NE(st().camera(3)->CurrentPicture.Data()[10], 0x66);
  EXPECT_FALSE(Obj(2).ArmedNow);
  // Its own Object is still followed.
  Status(1, false, 0, 0, 0);
  EXPECT_TRUE(st().HasLine("Снятие с охраны объекта №1(Склад)"));
}

TEST_F(StationTest, RecordingStopsOnlyWhenNoObjectIsArmed) {
  Status(1, true, 0, 0, 0);
  Status(2, true, 0, 0, 0);
  ASSERT_TRUE(st().app->form.RecordBtn.Down());
  Status(2, false, 0, 0, 0);
  EXPECT_TRUE(st().app->form.RecordBtn.Down());  // Object 1 is still armed
  EXPECT_TRUE(st().HasLine("Снятие с охраны объекта №2(Офис)"));
  Status(1, false, 0, 0, 0);
  EXPECT_FALSE(st().app->form.RecordBtn.Down());
}

TEST_F(StationTest, OverdueServiceCallIsJournaledOncePerPeriodAndItsReturnOnce) {
  TObjectRecord& o = st().app->settings.Objects[1];
  o.TestCallPeriod = 30;
  st().app->form.ObjectListBox.SetChecked(0, true);
  st().link().station.ObjectListBoxClickCheck(0);  // ticked now
  ASSERT_TRUE(o.Checked);
  const std::size_t lines = st().Lines();
  auto overdue = [&] {
    int n = 0;
    for (const auto& l : st().Logged(lines))
      n += l == "Не поступил очередной служебный звонок с объекта \"Склад\" !";
    return n;
  };
  loop.RunFor(31 * 60 * 1000);
  EXPECT_EQ(overdue(), 0);
  loop.RunFor(2 * 60 * 1000);  // 33 minutes: overdue
  EXPECT_EQ(overdue(), 1);
  loop.RunFor(29 * 60 * 1000);
  EXPECT_EQ(overdue(), 1);
  loop.RunFor(2 * 60 * 1000);  // one more period
  EXPECT_EQ(overdue(), 2);
  // Garbage is no sign of life: a message of another type, or with the
  // picture message's fixed bytes wrong.
  const Bytes p = Payload(true, 0, 0, 0);
  st().link().station.HandleLinkMessage(Msg(1, 1, p, link::mtArm), peers[1]);
  st().link().station.HandleLinkMessage(Msg(1, 1, p, link::mtPicture, 0x00), peers[1]);
  loop.RunFor(30 * 60 * 1000);
  EXPECT_EQ(overdue(), 3);
  EXPECT_FALSE(Obj(1).ArmedNow);
  // A well-formed picture message of the site is a sign of life.
  Status(1, true, 0, 0, 0);
  const auto logged = st().Logged(lines);
  EXPECT_EQ(
      std::count(logged.begin(), logged.end(), "Возобновлены служебные звонки с объекта \"Склад\""),
      1);
  loop.RunFor(31 * 60 * 1000);
  EXPECT_EQ(overdue(), 3);
}

TEST_F(StationTest, OverdueStateDoesNotFollowARecordToAnotherObject) {
  TObjectRecord& o = st().app->settings.Objects[1];
  st().app->form.ObjectListBox.SetChecked(0, true);
  st().link().station.ObjectListBoxClickCheck(0);
  const std::size_t lines = st().Lines();
  loop.RunFor(33 * 60 * 1000);
  ASSERT_EQ(st().Lines(), lines + 1);
  // Object 1 was deleted: record 1 now holds another Object, heard from now.
  o.ID = 7;
  o.Name = "Гараж";
  o.LastTestCallTime = loop.clock.Now();
  loop.RunFor(31 * 60 * 1000);
  EXPECT_EQ(st().Lines(), lines + 1);
}

}  // namespace
}  // namespace zv::test
