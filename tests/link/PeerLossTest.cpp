// Peers that vanish, on the in-memory network: a site dying in the middle
// of a message, a station restarted while sites send, a station dying in
// the middle of a command.  Nothing of a lost connection may reach the next
// one, and sites find a restarted station by themselves.
#include <cstring>

#include "link/MemLinkFixture.h"

namespace zv::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class PeerLossTest : public MemLinkFixture {
 protected:
  // A picture message of Object objId's camera cam, armed, every pixel byte fill.
  Bytes Message(MemProgram& station, int objId, int cam, std::uint8_t fill) {
    const std::size_t size = station.camera(cam)->CurrentPicture.SizeBytes();
    Bytes m =
        BuildHeader(static_cast<std::int32_t>(size + link::kHeaderSize), link::mtPicture,
                    static_cast<std::uint8_t>(objId), static_cast<std::uint8_t>(cam), 0xFF, 0);
    m.resize(m.size() + size, fill);
    m[link::kHeaderSize] = 1;  // armed
    std::memset(m.data() + link::kHeaderSize + 1, 0, 3);
    return m;
  }
};

TEST_F(PeerLossTest, ASiteDyingMidMessageLeavesNoHalfStateAtTheStation) {
  b_ = Station();
  auto dying = Raw(), other = Raw();
  ASSERT_EQ(b_->link().ConnectionCount(), 2);
  const TPicture before = b_->camera(1)->CurrentPicture;
  const Bytes half = Message(*b_, 1, 1, 0x11);
  dying->Send(half.data(), half.size() / 2);
  Settle();
  net.Kill(*dying);
  Settle();
  EXPECT_EQ(b_->link().ConnectionCount(), 1);
  EXPECT_EQ(b_->messages, 0);
  EXPECT_EQ(b_->camera(1)->CurrentPicture, before);
  EXPECT_EQ(b_->Count("Установка на охрану"), 0);

  // The site comes back and sends a whole picture: it arrives as sent, and
  // the other connection never noticed.
  auto back = Raw();
  const Bytes whole = Message(*b_, 1, 1, 0x22);
  back->Send(whole.data(), whole.size());
  const Bytes office = Message(*b_, 2, 1, 0x33);
  other->Send(office.data(), office.size());
  Settle();
  EXPECT_EQ(b_->messages, 2);
  EXPECT_EQ(std::memcmp(b_->camera(1)->CurrentPicture.Data(), whole.data() + link::kHeaderSize,
                        whole.size() - link::kHeaderSize),
            0);
  EXPECT_EQ(std::memcmp(b_->camera(3)->CurrentPicture.Data(), office.data() + link::kHeaderSize,
                        office.size() - link::kHeaderSize),
            0);
  EXPECT_EQ(b_->Count("Установка на охрану объекта №1(Склад)"), 1);
  EXPECT_EQ(b_->Count("Установка на охрану объекта №2(Офис)"), 1);
}

TEST_F(PeerLossTest, SitesFindARestartedStationByThemselves) {
  b_ = Station();
  a_ = Site(1);
  c_ = Site(2);
  Connect(*a_);
  Connect(*c_);
  a_->link().Button1Click();
  c_->link().Button1Click();
  Settle();
  ASSERT_EQ(b_->messages, 4);  // each site's introduction and one picture

  Stop(b_);  // the station goes away while the sites send
  for (auto* s : {&a_, &c_}) {
    (*s)->link().Button1Click();
    Settle();
    EXPECT_FALSE((*s)->link().Client()->Connected());
  }
  const std::size_t attempts = net.attempts.size();
  a_->link().Button1Click();  // nobody listens: refused, quietly
  Settle();
  EXPECT_GT(net.attempts.size(), attempts);
  EXPECT_EQ(a_->Count("Ошибка"), 0);

  b_ = Station();  // back on the same port
  for (auto* s : {&a_, &c_}) {
    (*s)->link().Button1Click();  // reconnects
    Settle();
    (*s)->link().Button1Click();  // and sends
    Settle();
    EXPECT_TRUE((*s)->link().Client()->Connected());
  }
  EXPECT_EQ(b_->link().ConnectionCount(), 2);
  EXPECT_EQ(b_->messages, 4);  // the restarted station: introductions and pictures
  EXPECT_EQ(b_->Count("Установка на охрану объекта №1(Склад)"), 1);
  EXPECT_EQ(b_->Count("Установка на охрану объекта №2(Офис)"), 1);
}

TEST_F(PeerLossTest, HalfACommandOfADeadStationNeverSpoilsTheNextStationsCommand) {
  // Stations played by hand: a listener whose connection the test drives.
  auto listener = net.CreateListener();
  ASSERT_TRUE(listener->Listen(kPort));
  std::unique_ptr<INetSocket> station;
  listener->OnAccept = [&](std::unique_ptr<INetSocket> s) { station = std::move(s); };
  a_ = Site(1);
  Connect(*a_);
  ASSERT_TRUE(station);
  const Bytes arm = BuildCommand(true, 0);
  station->Send(arm.data(), 10);  // marker and Length, then the station dies
  Settle();
  net.Kill(*station);
  station.reset();
  Settle();
  EXPECT_FALSE(a_->link().Client()->Connected());

  a_->link().Button1Click();  // the site reconnects to the restarted station
  Settle();
  ASSERT_TRUE(station);
  const Bytes disarm = BuildCommand(false, 0);
  station->Send(disarm.data(), disarm.size());
  Settle();
  EXPECT_EQ(a_->messages, 1);
  EXPECT_FALSE(a_->site().Armed);
}

}  // namespace
}  // namespace zv::test
