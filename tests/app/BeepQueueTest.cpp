// Beeps off the loop: a pattern is queued at once, played note after note as
// it would be in place, and a flood of patterns keeps the queue small.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "app/BeepQueue.h"
#include "app/Utils.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

// A speaker that holds its caller for the tone's length, as a real one does.
class SlowSpeaker final : public ISpeaker {
 public:
  bool HasDirectAccess() const override { return false; }
  void SetDirectTone(unsigned) override {}
  void Beep(unsigned hz, unsigned ms) override {
    {
      std::lock_guard<std::mutex> lock(m);
      notes.push_back({static_cast<std::uint16_t>(hz), static_cast<std::uint16_t>(ms)});
      threads.push_back(std::this_thread::get_id());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  void DefaultBeep() override {}
  std::mutex m;
  std::vector<BeepNote> notes;
  std::vector<std::thread::id> threads;
};

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(BeepQueueTest, PatternsAreQueuedAtOnceAndSoundAsTheyWouldInPlace) {
  SlowSpeaker speaker;
  BeepQueue q(speaker);
  const auto start = Clock::now();
  EXPECT_TRUE(q.Play("g200;s200"));
  EXPECT_TRUE(q.Play("i200"));
  EXPECT_LT(MsSince(start), 150);  // 600 ms of tones, and the caller is free
  q.WaitIdle();
  std::vector<BeepNote> want = ParseBeepPattern("g200;s200");
  for (const BeepNote& n : ParseBeepPattern("i200")) want.push_back(n);
  std::lock_guard<std::mutex> lock(speaker.m);
  EXPECT_EQ(speaker.notes, want);
  for (const auto& id : speaker.threads) EXPECT_NE(id, std::this_thread::get_id());
}

TEST(BeepQueueTest, AFloodOfAlternatingPatternsStaysBoundedAndEndsSoon) {
  SlowSpeaker speaker;
  const auto start = Clock::now();
  {
    BeepQueue q(speaker);
    for (int i = 0; i < 2000; ++i) {
      q.Play(i % 2 ? "i20" : "i20;u20;i20");
      ASSERT_LE(q.Waiting(), BeepQueue::kMaxWaiting);
    }
    EXPECT_LT(MsSince(start), 500);
    // An equal pattern still waiting is not queued twice.
    EXPECT_GE(q.Dropped(), 1990u);
    q.WaitIdle();
  }
  // What was heard is a few patterns, not two thousand.
  std::lock_guard<std::mutex> lock(speaker.m);
  EXPECT_LE(speaker.notes.size(), 4u * (BeepQueue::kMaxWaiting + 1));
}

TEST(BeepQueueTest, ClosingDoesNotWaitForWhatIsQueued) {
  SlowSpeaker speaker;
  const auto start = Clock::now();
  {
    BeepQueue q(speaker);
    q.Play("a200");
    q.Play("b200;c200;d200");
    q.Play("e200;f200");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_LT(MsSince(start), 600);
}

}  // namespace
}  // namespace zv
