// The station's status logic on the foundation alone: status blocks,
// service-call supervision and which connection may speak for which
// Object, without sockets, pages or the application.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/StationStatus.h"
#include "support/Foundation.h"

namespace zv::test {
namespace {

using Lines = std::vector<std::string>;

class StationStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings& s = f.settings;
    s.ServerMode = true;
    s.ObjectsCount = 2;
    s.Objects[1].Name = "Склад";
    s.Objects[1].ID = 1;
    s.Objects[1].Gauges[1] = "Дверь";
    s.Objects[1].Gauges[3] = "Подвал";
    s.Objects[2].Name = "Офис";
    s.Objects[2].ID = 7;
    s.Objects[2].TestCallPeriod = 30;
    f.form.ObjectListBox.Add("Склад");
    f.form.ObjectListBox.Add("Офис");
    f.form.RecordBtn.OnClick = [this] { recording = !recording; };
    status.IsRecording = [this] { return recording; };
  }
  void Block(int i, bool armed, std::uint8_t mask, std::uint8_t state, std::uint8_t cams = 0) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(armed ? 1 : 0), mask, state, cams};
    status.HandleStatus(i, b);
  }

  Foundation f;
  StationStatus status{f.loop.services, f.journal, f.form, f.settings};
  bool recording = false;
};

// Each change of a site's status is one line (and one beep pattern); the
// same block again is none.  Arming ticks the site and starts recording,
// the last disarming stops it.
TEST_F(StationStatusTest, ChangesOfASitesStatusAreJournaledOnceEach) {
  Block(1, true, 0x05, 0);
  Block(1, true, 0x05, 0);
  EXPECT_TRUE(f.form.ObjectListBox.Checked(0));
  EXPECT_TRUE(recording);
  Block(1, true, 0x05, 0x05);
  Block(1, true, 0x05, 0x07);  // one more, not enabled: the enabled ones again
  Block(1, true, 0x05, 0x00);
  Block(1, false, 0x05, 0x00);
  EXPECT_EQ(f.Logged(), (Lines{"Установка на охрану объекта №1(Склад)",
                               "Сработка датчиков \"Дверь\",\"Подвал\" на объекте №1(Склад) !",
                               "Сработка датчиков \"Дверь\",\"Подвал\" на объекте №1(Склад) !",
                               "Датчики на объекте №1(Склад) снова в рабочем состоянии",
                               "Снятие с охраны объекта №1(Склад)"}));
  EXPECT_FALSE(f.form.ObjectListBox.Checked(0));
  EXPECT_FALSE(recording);
}

// Recording goes on while any other site is armed.
TEST_F(StationStatusTest, RecordingStopsWithTheLastArmedSite) {
  Block(1, true, 0, 0);
  Block(2, true, 0, 0);
  Block(1, false, 0, 0);
  EXPECT_TRUE(recording);
  Block(2, false, 0, 0);
  EXPECT_FALSE(recording);
}

// A supervised site that misses its service call is reported at once and
// then once a period until it is heard from again.
TEST_F(StationStatusTest, AMissedServiceCallIsReportedOncePerPeriodUntilTheSiteCalls) {
  status.Supervised(2, true);
  f.loop.clock.AdvanceMs(31 * 60'000);
  status.Supervise();
  EXPECT_TRUE(f.Logged().empty());  // within the period and its two minutes' grace
  f.loop.clock.AdvanceMs(2 * 60'000);
  status.Supervise();
  status.Supervise();
  f.loop.clock.AdvanceMs(29 * 60'000);
  status.Supervise();
  f.loop.clock.AdvanceMs(2 * 60'000);  // a period after the first report
  status.Supervise();
  const std::string missed = "Не поступил очередной служебный звонок с объекта \"Офис\" !";
  EXPECT_EQ(f.Logged(), (Lines{missed, missed}));
  status.SignOfLife(2);
  EXPECT_EQ(status.NextOverdueReport(2), 0);
  EXPECT_EQ(f.Logged().back(), "Возобновлены служебные звонки с объекта \"Офис\"");
  status.Supervised(2, false);
  f.loop.clock.AdvanceMs(120 * 60'000);
  status.Supervise();
  EXPECT_EQ(f.Lines(), 3u);
}

// A connection speaks for the Object of its first picture; another
// Object's data on it is refused, and each kind of refusal is one line.
TEST_F(StationStatusTest, AConnectionSpeaksForOneObject) {
  LinkPeer peer("127.0.0.1");
  EXPECT_TRUE(status.Admit(peer, 1));
  EXPECT_EQ(peer.ObjectId(), 1);
  EXPECT_FALSE(status.Admit(peer, 7));
  EXPECT_FALSE(status.Admit(peer, 7));
  status.ReportUnknown(peer, 9);
  status.ReportUnknown(peer, 9);
  EXPECT_EQ(f.Logged(),
            (Lines{"Связь с объектом №1(Склад) (127.0.0.1) без ключа связи: не защищена",
                   "Соединение 127.0.0.1 объекта №1 передаёт данные объекта №7: отклонено !",
                   "Данные неизвестного объекта №9 (127.0.0.1) отброшены !"}));
  peer.Reset();
  EXPECT_TRUE(status.Admit(peer, 7));
}

// A keyless site of an Object with a key is refused for as long as the
// Object keeps its key, also on a line that outlives its connections (the
// direct line); the refusal is journaled once per keying.
TEST_F(StationStatusTest, AKeylessSiteIsHeardAgainOnceItsObjectsKeyIsTakenAway) {
  const std::string key(64, 'a');
  f.settings.Objects[2].LinkKey = key;
  LinkPeer line("Com1");
  EXPECT_FALSE(status.Admit(line, 7));
  EXPECT_FALSE(status.Admit(line, 7));
  EXPECT_FALSE(line.Bound());

  f.settings.Objects[2].LinkKey.clear();
  EXPECT_TRUE(status.Admit(line, 7));
  EXPECT_EQ(line.ObjectId(), 7);

  f.settings.Objects[2].LinkKey = key;
  line.Reset();
  EXPECT_FALSE(status.Admit(line, 7));
  const Lines logged = f.Logged();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_NE(logged[0].find("Объект №7(Офис) (Com1): "), std::string::npos);
  EXPECT_EQ(logged[1], "Связь с объектом №7(Офис) (Com1) без ключа связи: не защищена");
  EXPECT_EQ(logged[2], logged[0]);
}

// Every line about an Object is told as news with its own words and the
// Object's ID, and the journal view keeps that ID; a site's connection is
// up with its first connection and down with its last.
TEST_F(StationStatusTest, WhatIsJournaledAboutAnObjectIsToldAsNews) {
  std::vector<ObjectNews> news;
  status.News.Connect([&](const ObjectNews& n) { news.push_back(n); });
  LinkPeer a("10.0.0.1:5000"), b("10.0.0.1:5001");
  EXPECT_TRUE(status.Admit(a, 7));
  EXPECT_TRUE(status.Admit(b, 7));
  EXPECT_TRUE(status.Connected(7));
  Block(2, true, 0x05, 0x00);
  Block(2, true, 0x05, 0x04);
  Block(2, true, 0x05, 0x00);
  EXPECT_FALSE(status.Admit(a, 1));
  status.PeerGone(a);
  EXPECT_TRUE(status.Connected(7));
  status.PeerGone(b);
  EXPECT_FALSE(status.Connected(7));

  using K = ObjectNews::Kind;
  std::vector<K> kinds;
  for (const auto& n : news) kinds.push_back(n.kind);
  EXPECT_EQ(kinds, (std::vector<K>{K::ConnectionUp, K::Armed, K::GaugeAlarm, K::GaugesNormal,
                                   K::LinkRefused, K::ConnectionDown}));
  for (const auto& n : news) {
    EXPECT_EQ(n.objectId, 7);
    EXPECT_EQ(n.record, 2);
  }
  EXPECT_EQ(news[2].bits, 0x04);
  // The journal's lines, word for word, each knowing its Object.
  // Each keyless connection was journaled as unprotected first.
  const Lines logged = f.Logged();
  ASSERT_EQ(logged.size(), 6u);
  EXPECT_EQ(logged[0], "Связь с объектом №7(Офис) (10.0.0.1:5000) без ключа связи: не защищена");
  EXPECT_EQ(logged[1], "Связь с объектом №7(Офис) (10.0.0.1:5001) без ключа связи: не защищена");
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(news[k + 1].text, logged[k + 2]);
    EXPECT_EQ(f.journal.View()[k + 2].objectId, 7);
  }
  EXPECT_EQ(f.journal.View()[3].kind, jkAlarm);
}

}  // namespace
}  // namespace zv::test
