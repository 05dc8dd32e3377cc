#pragma once
// Beep patterns played off the main loop.  A tone holds its caller for its
// length; the station journals and records while it beeps, so its patterns
// go to a queue that a thread of its own plays, note after note, exactly as
// they would sound played in place.
//
// The queue stays small however fast patterns come: a pattern equal to one
// still waiting is not queued again, and past the limit new patterns are
// dropped (a flood of status changes is heard, not replayed for minutes).
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/Speaker.h"

namespace zv {

class BeepQueue {
 public:
  static constexpr std::size_t kMaxWaiting = 4;

  explicit BeepQueue(ISpeaker& speaker, std::size_t maxWaiting = kMaxWaiting);
  // Stops after the note being played; what still waits is not played.
  ~BeepQueue();
  BeepQueue(const BeepQueue&) = delete;
  BeepQueue& operator=(const BeepQueue&) = delete;

  // Queues a pattern and returns at once; false when it was not queued
  // (the same pattern waits already, or the queue is full).
  bool Play(std::string_view pattern);
  // Waits until everything queued has been played.
  void WaitIdle();
  // Patterns waiting, not counting the one playing.
  std::size_t Waiting() const;
  // Patterns dropped so far.
  std::size_t Dropped() const;

 private:
  void Run();
  ISpeaker& speaker_;
  const std::size_t maxWaiting_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<std::string> waiting_;
  bool playing_ = false;
  bool stop_ = false;
  std::size_t dropped_ = 0;
  std::thread thread_;
};

}  // namespace zv
