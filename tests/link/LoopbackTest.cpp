// A station and sites as whole programs over real loopback TCP.
#include <cstring>

#include "link/LinkFixture.h"

namespace zv::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class LoopbackTest : public LinkFixture {
 protected:
  void SetUp() override {
    b_ = Station();
    a_ = Site(1, 2);
    a_->app->video->Shutdown();  // pictures go out only when a test says so
    LinkTo(*a_, *b_);
    b_->link().OnMessage = [this](const LinkMessage&) { ++stationMessages; };
  }
  Program& site() { return *a_; }
  Program& station() { return *b_; }

  // Clicks the site's sender until its socket is up and the station has its
  // introduction (one picture with its status).
  void Connect(Program& s) {
    const long long before = stationMessages;
    s.link().Button1Click();
    ASSERT_TRUE(PumpUntil([&] { return s.link().Client() && s.link().Client()->Connected(); }));
    ASSERT_TRUE(PumpUntil([&] { return stationMessages == before + 1; }));
    stationMessages = before;
  }
  // A raw connection to the station.
  std::unique_ptr<INetClient> Raw() {
    auto c = net.CreateClient();
    EXPECT_TRUE(c->Open("127.0.0.1", station().link().Listener()->Port()));
    EXPECT_TRUE(PumpUntil([&] { return c->Connected(); }));
    return c;
  }
  static Bytes Message(int objId, int cam, bool armed, std::uint8_t fill) {
    const std::size_t size = static_cast<std::size_t>(TPicture::StrideFor(352)) * 288;
    Bytes m =
        BuildHeader(static_cast<std::int32_t>(size + 19), link::mtPicture,
                    static_cast<std::uint8_t>(objId), static_cast<std::uint8_t>(cam), 0xFF, 0);
    const std::size_t at = m.size();
    m.resize(at + size);
    for (std::size_t i = 0; i < size; ++i) m[at + i] = static_cast<std::uint8_t>(fill + i % 251);
    m[at] = armed ? 1 : 0;
    m[at + 1] = m[at + 2] = m[at + 3] = 0;
    return m;
  }
  bool Holds(int stationCam, const Bytes& m) {
    const TPicture& p = station().camera(stationCam)->CurrentPicture;
    return p.SizeBytes() == m.size() - 19 &&
           std::memcmp(p.Data(), m.data() + 19, p.SizeBytes()) == 0;
  }
  long long stationMessages = 0;
};

TEST_F(LoopbackTest, ArmedSitesPicturesReachTheStationWithItsStatus) {
  site().site().Armed = true;
  Connect(site());
  site().camera(2)->CurrentPicture.Data()[100] = 0xAB;
  site().link().Button1Tag = 1;  // camera 2 next
  site().link().Button1Click();
  ASSERT_TRUE(PumpUntil([&] { return stationMessages == 1; }));
  EXPECT_EQ(station().camera(2)->CurrentPicture, site().camera(2)->CurrentPicture);
  EXPECT_EQ(station().camera(2)->CurrentPicture.Data()[0], 1);  // the status block
  EXPECT_TRUE(station().HasLine("Установка на охрану объекта №1(Склад)"));
  EXPECT_TRUE(station().app->form.ObjectListBox.Checked(0));
  // Camera 2 of the site in motion: the next picture (camera 1) says so.
  site().site().CameraAlarmMask = 0x02;
  site().link().Button1Click();
  ASSERT_TRUE(PumpUntil([&] { return stationMessages == 2; }));
  EXPECT_EQ(station().camera(1)->CurrentPicture, site().camera(1)->CurrentPicture);
  EXPECT_TRUE(station().HasLine("Сработка по видеокамере \"Двор\" на объекте №1(Склад) !"));
}

TEST_F(LoopbackTest, DisarmedSiteSendsNothingButItsIntroduction) {
  Connect(site());
  EXPECT_EQ(station().link().Peers().front()->ObjectId(), 1);
  for (int i = 0; i < 3; ++i) site().link().Button1Click();
  PumpFor(200);
  EXPECT_EQ(stationMessages, 0);
  EXPECT_FALSE(station().app->form.ObjectListBox.Checked(0));
}

TEST_F(LoopbackTest, CommandsArmAndDisarmTheSiteWhichSendsOneMorePictureAfterDisarming) {
  Connect(site());
  TCheckListBox& list = station().app->form.ObjectListBox;
  list.SetChecked(0, true);
  list.OnClickCheck(0);  // the operator ticks Object 1
  ASSERT_TRUE(PumpUntil([&] { return site().site().Armed; }));
  EXPECT_TRUE(site().HasLine("Режим охраны установлен"));
  site().link().Button1Click();
  ASSERT_TRUE(PumpUntil([&] { return stationMessages == 1; }));

  list.SetChecked(0, false);
  list.OnClickCheck(0);
  ASSERT_TRUE(PumpUntil([&] { return !site().site().Armed; }));
  for (int i = 0; i < 4; ++i) site().link().Button1Click();
  PumpFor(300);
  EXPECT_EQ(stationMessages, 2);  // exactly one more, carrying the cleared flag
  EXPECT_TRUE(station().HasLine("Снятие с охраны объекта №1(Склад)"));
}

TEST_F(LoopbackTest, MessageSplitOverManySendsIsHandledOnceAndTwoInOneSendAtOnce) {
  auto raw = Raw();
  const Bytes m = Message(1, 1, true, 3);
  for (std::size_t i = 0; i + 1 < m.size(); i += 4096) {
    raw->Send(m.data() + i, std::min<std::size_t>(4096, m.size() - 1 - i));
    PumpFor(1);
  }
  PumpFor(50);
  EXPECT_EQ(stationMessages, 0);
  raw->Send(&m.back(), 1);
  ASSERT_TRUE(PumpUntil([&] { return stationMessages == 1; }));
  EXPECT_TRUE(Holds(1, m));

  Bytes two = Message(1, 2, true, 7);
  const Bytes disarm = Message(1, 1, false, 9);
  two.insert(two.end(), disarm.begin(), disarm.end());
  raw->Send(two.data(), two.size());
  ASSERT_TRUE(PumpUntil([&] { return stationMessages == 3; }));
  EXPECT_TRUE(
      Holds(2, Bytes(two.begin(), two.begin() + static_cast<std::ptrdiff_t>(disarm.size()))));
  EXPECT_TRUE(station().HasLine("Снятие с охраны объекта №1(Склад)"));
}

TEST_F(LoopbackTest, TwoSitesSendingInterleavedBothArriveIntact) {
  auto one = Raw(), two = Raw();
  // Garbage first on one of them: it must not disturb the other.
  const Bytes junk = {'Z', 'v', 'x', 'C', 'm', 'd', 5, 0, 0, 0, 1, 2, 3};
  one->Send(junk.data(), junk.size());
  for (int round = 0; round < 3; ++round) {
    const Bytes a = Message(1, 1, true, static_cast<std::uint8_t>(10 + round));
    const Bytes b = Message(2, 1, true, static_cast<std::uint8_t>(90 + round));
    for (std::size_t i = 0; i < a.size(); i += 1500) {
      one->Send(a.data() + i, std::min<std::size_t>(1500, a.size() - i));
      two->Send(b.data() + i, std::min<std::size_t>(1500, b.size() - i));
      if (i % 30000 == 0) PumpFor(1);
    }
    ASSERT_TRUE(PumpUntil([&] { return stationMessages == 2 * (round + 1); }));
    EXPECT_TRUE(Holds(1, a));
    EXPECT_TRUE(Holds(3, b));  // Object 2's camera 1
  }
  EXPECT_TRUE(station().HasLine("Установка на охрану объекта №1(Склад)"));
  EXPECT_TRUE(station().HasLine("Установка на охрану объекта №2(Офис)"));
}

TEST_F(LoopbackTest, AVanishedSiteIsDroppedAndTheStationGoesOn) {
  // Object 2 is on the air; a site of Object 1 comes and goes.
  auto other = Raw();
  const Bytes two = Message(2, 1, true, 4);
  other->Send(two.data(), two.size());
  ASSERT_TRUE(PumpUntil([&] { return stationMessages == 1; }));
  stationMessages = 0;
  auto raw = Raw();
  ASSERT_TRUE(PumpUntil([&] { return station().link().ConnectionCount() == 2; }));
  const Bytes first = Message(1, 1, true, 1);
  raw->Send(first.data(), first.size());
  ASSERT_TRUE(PumpUntil([&] { return stationMessages == 1; }));
  stationMessages = 0;
  const Bytes m = Message(1, 1, true, 1);
  raw->Send(m.data(), 1000);  // half a message, then gone
  PumpFor(20);
  raw->Close();
  ASSERT_TRUE(PumpUntil([&] { return station().link().ConnectionCount() == 1; }));
  EXPECT_EQ(station().link().ReceivedBytes(1), 0);  // its own counters start afresh
  EXPECT_GT(station().link().ReceivedBytes(3), 0);  // Object 2's are not touched
  auto again = Raw();
  again->Send(m.data(), m.size());
  ASSERT_TRUE(PumpUntil([&] { return stationMessages == 1; }));
  EXPECT_TRUE(Holds(1, m));
}

TEST_F(LoopbackTest, AStationThatCannotListenSaysSoOnlyWithTheNetworkLink) {
  const int busy = station().link().Listener()->Port();
  for (int kind : {2, 1}) {
    more_.push_back(StationOf(1, "[Object1]\r\nName=Склад\r\nID=1\r\nCams=1\r\n", {}, kind, busy));
    EXPECT_EQ(more_.back()->HasLine("Невозможно открыть серверный сокет !"), kind == 2);
  }
  EXPECT_EQ(more_.front()->app->journal.Status()[0].text, "Невозможно открыть серверный сокет !");
}

TEST_F(LoopbackTest, TheSiteUsesTheFirstOfItsServerAddresses) {
  EXPECT_EQ(site().app->link->ClientSocketAddress, "127.0.0.1");
  site().app->form.ServerAddresses.SetText("127.0.0.2, 127.0.0.1");
  EXPECT_EQ(site().app->link->ClientSocketAddress, "127.0.0.2");
}

}  // namespace
}  // namespace zv::test

namespace zv::test {
namespace {

// A site against a bare listener standing in for the station: the test sees
// every byte the site sends and sends it whatever it likes.
class SiteLinkTest : public LinkFixture {
 protected:
  void SetUp() override {
    listener = net.CreateListener();
    listener->OnAccept = [this](std::unique_ptr<INetSocket> s) {
      s->OnData = [this, p = s.get()] {
        std::uint8_t buf[65536];
        while (std::size_t n = p->Read(buf, sizeof buf)) received.Feed(buf, n);
      };
      accepted.push_back(std::move(s));
    };
    ASSERT_TRUE(listener->Listen(0));
    a_ = Site(1, 2);
    a_->app->settings.LinkPort = listener->Port();
  }
  Program& site() { return *a_; }
  void Connect() {
    const std::size_t n = accepted.size();
    site().link().Button1Click();
    ASSERT_TRUE(PumpUntil([&] { return accepted.size() == n + 1 && messages.size() > 0; }));
  }
  std::unique_ptr<INetListener> listener;
  std::vector<std::unique_ptr<INetSocket>> accepted;
  std::vector<LinkMessage> messages;  // header fields only
  LinkAssembler received{[this](const LinkMessage& m) {
    LinkMessage h = m;
    h.Payload = nullptr;
    armedFlags.push_back(m.PayloadSize > 0 ? m.Payload[0] : 0xFF);
    messages.push_back(h);
  }};
  std::vector<std::uint8_t> armedFlags;
};

TEST_F(SiteLinkTest, EveryFrameIsFollowedByOnePictureAfterTheSitesIntroduction) {
  Connect();
  ASSERT_EQ(messages.size(), 1u);  // the introduction: camera 1, disarmed
  EXPECT_EQ(messages[0].Arg1, 1);
  EXPECT_EQ(armedFlags[0], 0);
  site().site().Armed = true;
  TPicture frame(352, 288);
  for (int i = 0; i < 4; ++i) site().app->video->Video.OnVideoFrameBmp(45000.5, frame);
  ASSERT_TRUE(PumpUntil([&] { return messages.size() >= 5; }));
  PumpFor(100);
  EXPECT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[1].Arg2, 1);
  EXPECT_EQ(messages[2].Arg2, 2);  // the cameras in turn
}

TEST_F(SiteLinkTest, ThePictureOfTheDisarmingIsDueUntilItReallyWentOut) {
  Connect();
  site().site().Armed = true;
  site().link().Button1Click();
  ASSERT_TRUE(PumpUntil([&] { return messages.size() == 2; }));
  // The station goes away; the site is disarmed meanwhile.
  accepted.back()->Close();
  ASSERT_TRUE(PumpUntil([&] { return !site().link().Client()->Connected(); }));
  site().site().Armed = false;
  site().link().Button1Click();  // no connection: nothing went out
  EXPECT_TRUE(site().link().LastSentArmed);
  // Back again: the site's introduction carries the cleared flag.
  ASSERT_TRUE(PumpUntil([&] { return messages.size() == 3; }));
  EXPECT_EQ(armedFlags.back(), 0);
  EXPECT_FALSE(site().link().LastSentArmed);
  site().link().Button1Click();
  PumpFor(100);
  EXPECT_EQ(messages.size(), 3u);
}

TEST_F(SiteLinkTest, AHalfCommandOfAnOldConnectionDoesNotSwallowTheNextOne) {
  Connect();
  const auto arm = BuildCommand(true, 0), disarm = BuildCommand(false, 0);
  accepted.back()->Send(disarm.data(), 12);  // half a command, then gone
  PumpFor(50);
  accepted.back()->Close();
  ASSERT_TRUE(PumpUntil([&] { return !site().link().Client()->Connected(); }));
  Connect();
  accepted.back()->Send(arm.data(), arm.size());
  ASSERT_TRUE(PumpUntil([&] { return site().site().Armed; }));
}

}  // namespace
}  // namespace zv::test
