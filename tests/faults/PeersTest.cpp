// Peers that go: a site that dies in the middle of a message on the direct
// line, and a site whose link goes silent while its connection stays up.
// (Sites and stations killed and started again as whole programs are in
// tests/program/FaultProgramTest.cpp; the same on the in-memory network in
// tests/link/PeerLossTest.cpp.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "link/LinkFixture.h"
#include "support/PhoneExchange.h"

namespace zv::test {
namespace {

int CountHaving(const std::vector<std::string>& texts, const std::string& part) {
  return static_cast<int>(std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
    return t.find(part) != std::string::npos;
  }));
}

class PeersTest : public LinkFixture {
 protected:
  void SetUp() override {
    loop.onPump = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
  }
  ~PeersTest() override { loop.onPump = nullptr; }
  PhoneExchange exchange;
};

// The site's status as it goes over the direct line: armed, the three
// serial inputs switched on, none in alarm, no motion.
std::vector<std::uint8_t> StatusMessage() {
  auto m = BuildHeader(23, link::mtPicture, 1, 1, 0xFF, 0x00);
  for (std::uint8_t b : {1, 0xE0, 0, 0}) m.push_back(b);
  return m;
}

TEST_F(PeersTest, ASiteDyingMidMessageOnTheDirectLineLeavesNoHalfStateAtTheStation) {
  const auto [station, site] = exchange.AddCable();
  comPaths[3] = station;
  b_ = Station("ServerComPort.Value=3\r\n", 1);
  ASSERT_TRUE(b_->HasLine("Порт Com3: для связи с объектами открыт"));
  const std::size_t from = b_->Lines();
  const int line = ::open(site.c_str(), O_WRONLY | O_NOCTTY);
  ASSERT_GE(line, 0);
  auto send = [&](const std::vector<std::uint8_t>& bytes, std::size_t n) {
    ASSERT_EQ(::write(line, bytes.data(), n), static_cast<ssize_t>(n));
  };
  // The site gets out its header and half its status, and dies.
  const auto msg = StatusMessage();
  send(msg, 21);
  PumpFor(200);
  loop.RunFor(5000);
  // Started again, it says who it is: twice, as it repeats its status.
  send(msg, msg.size());
  ASSERT_TRUE(PumpUntil([&] { return b_->link().MessagesHandled() >= 1; }));
  send(msg, msg.size());
  ASSERT_TRUE(PumpUntil([&] { return b_->link().MessagesHandled() >= 2; }));
  ::close(line);
  // Armed once; no alarm, no return to normal, no motion of its own making
  // (and its keyless line noted once).
  EXPECT_EQ(b_->Logged(from), (std::vector<std::string>{
                                  "Связь с объектом №1(Склад) (Com3:) без ключа связи: не защищена",
                                  "Установка на охрану объекта №1(Склад)"}));
  EXPECT_EQ(b_->link().MessagesHandled(), 2);
}

TEST_F(PeersTest, ALinkThatGoesSilentIsReportedBySupervisionAndItsReturnToo) {
  b_ = Station("", 2);
  a_ = Site(1, 1);
  LinkTo(*a_, *b_);
  ASSERT_TRUE(PumpUntil([&] {
    loop.RunFor(100);
    return b_->link().ConnectionCount() == 1 && b_->link().MessagesHandled() >= 1;
  }));
  // The operator arms the site: its Object is watched from now on.
  TCheckListBox& list = b_->app->form.ObjectListBox;
  list.SetChecked(0, true);
  list.OnClickCheck(0);
  ASSERT_TRUE(PumpUntil([&] {
    loop.RunFor(100);
    return b_->HasLine("Установка на охрану объекта №1(Склад)");
  }));
  const std::string overdue = "Не поступил очередной служебный звонок с объекта \"Склад\" !";
  // The site hangs: its connection stays up, nothing comes over it.
  a_->app->video->Shutdown();
  a_->app->Timer3.SetEnabled(false);
  const TDateTime silentFrom = loop.clock.Now();
  while (!b_->HasLine(overdue) && loop.clock.Now() - silentFrom < kOneMinute * 40) {
    loop.RunFor(10000);
    PumpFor(1);
  }
  ASSERT_TRUE(b_->HasLine(overdue));
  // Told after the service-call period (30 minutes) and two more.
  EXPECT_NEAR((loop.clock.Now() - silentFrom) / kOneMinute, 32, 0.5);
  EXPECT_EQ(b_->link().ConnectionCount(), 1);
  // Once a period, not once a second.
  for (int i = 0; i < 60; ++i) loop.RunFor(1000);
  EXPECT_EQ(CountHaving(b_->Logged(), overdue), 1);
  a_->link().Button1Click();  // the site comes to life and sends
  ASSERT_TRUE(PumpUntil([&] {
    loop.RunFor(100);
    return b_->HasLine("Возобновлены служебные звонки с объекта \"Склад\"");
  }));
}

}  // namespace
}  // namespace zv::test
