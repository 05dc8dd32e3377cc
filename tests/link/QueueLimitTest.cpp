// The link's output queues are bounded, and the bounds are kept without a
// connection ever being left half used: the site skips pictures while
// 2 MB are unsent, and the station drops a site that leaves 8 MB of its
// commands unread, keeping every other site.
#include "link/MemLinkFixture.h"

namespace zv::test {
namespace {

class QueueLimitTest : public MemLinkFixture {};

TEST_F(QueueLimitTest, SiteSkipsPicturesWhileTwoMegabytesAreUnsentAndGoesOnAfterwards) {
  b_ = Station();
  a_ = Site(1);
  Connect(*a_);
  INetClient& client = *a_->link().Client();
  const std::size_t message = PictureBytes(*a_, 1) + link::kHeaderSize;
  ASSERT_EQ(message, PictureBytes(*a_, 2) + link::kHeaderSize);
  const std::size_t queued = 2u * 1024 * 1024 / message + 1;  // the first one past 2 MB
  const long long introduced = b_->messages;                  // the site's picture on connecting

  net.HoldOutput(client, true);  // the line to the station stalls
  for (std::size_t i = 0; i < queued + 5; ++i) {
    a_->link().Button1Click();
    Settle();
  }
  EXPECT_EQ(client.Pending(), queued * message);  // the rest were skipped, whole
  EXPECT_EQ(b_->messages, introduced);

  net.HoldOutput(client, false);
  Settle();
  EXPECT_EQ(b_->messages, introduced + static_cast<long long>(queued));
  EXPECT_EQ(client.Pending(), 0u);
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(b_->link().ConnectionCount(), 1);
  EXPECT_EQ(a_->Count("Ошибка"), 0);  // skipping is not a failure
  EXPECT_EQ(b_->Count("Установка на охрану объекта №1(Склад)"), 1);

  // The last picture sent arrived whole: the station's camera holds it.
  a_->camera(1)->CurrentPicture.Data()[77] = 0x5A;
  a_->camera(2)->CurrentPicture.Data()[77] = 0x5A;
  a_->link().Button1Click();
  Settle();
  EXPECT_EQ(b_->messages, introduced + static_cast<long long>(queued) + 1);
  const int cam = (a_->link().Button1Tag - 1) % 2 + 1;
  EXPECT_EQ(b_->camera(cam)->CurrentPicture, a_->camera(cam)->CurrentPicture);
}

TEST_F(QueueLimitTest, StationDropsASiteThatLeavesEightMegabytesUnreadAndKeepsTheOthers) {
  b_ = Station();
  a_ = Site(1);
  c_ = Site(2);
  Connect(*a_);
  Connect(*c_);
  ASSERT_EQ(b_->link().ConnectionCount(), 2);
  net.HoldInput(*a_->link().Client(), true);  // site 1 stops reading

  // Arm commands to site 1 (already armed: it ignores them); each goes only
  // over the connection that speaks for its Object.
  const long long needed = static_cast<long long>(INetSocket::kMaxPending / link::kHeaderSize) + 1;
  for (long long i = 0; i < needed; ++i) {
    b_->link().SendCommand(true, 0);
    if (i % 4096 == 0) Settle();
  }
  Settle();
  EXPECT_EQ(b_->link().ConnectionCount(), 1);
  EXPECT_EQ(b_->Count("Ошибка: команда не передана на 127.0.0.1 !"), 1);  // reported once
  EXPECT_EQ(c_->messages, 0);  // nothing of it reached the other site
  EXPECT_TRUE(c_->link().Client()->Connected());
  EXPECT_FALSE(a_->link().Client()->Connected());

  // The site that reads still gets its own commands, without further reports.
  b_->link().SendCommand(true, 1);
  Settle();
  EXPECT_EQ(c_->messages, 1);
  EXPECT_EQ(b_->Count("Ошибка"), 1);

  // The dropped site comes back on its next picture and introduces itself.
  net.HoldInput(*a_->link().Client(), false);
  const long long before = b_->messages;
  a_->link().Button1Click();
  Settle();
  EXPECT_EQ(b_->link().ConnectionCount(), 2);
  EXPECT_GT(b_->messages, before);
  b_->link().SendCommand(true, 0);
  Settle();
  EXPECT_EQ(a_->messages, 1);  // only the command sent after it came back
}

}  // namespace
}  // namespace zv::test
