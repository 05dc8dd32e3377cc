#include "app/BeepQueue.h"

#include <algorithm>
#include <chrono>

#include "app/Utils.h"

namespace zv {

BeepQueue::BeepQueue(ISpeaker& speaker, std::size_t maxWaiting)
    : speaker_(speaker), maxWaiting_(maxWaiting == 0 ? 1 : maxWaiting) {
  thread_ = std::thread([this] { Run(); });
}

BeepQueue::~BeepQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    waiting_.clear();
  }
  wake_.notify_all();
  thread_.join();
}

bool BeepQueue::Play(std::string_view pattern) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_ || waiting_.size() >= maxWaiting_ ||
        std::find(waiting_.begin(), waiting_.end(), pattern) != waiting_.end()) {
      ++dropped_;
      return false;
    }
    waiting_.emplace_back(pattern);
  }
  wake_.notify_one();
  return true;
}

void BeepQueue::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return stop_ || (waiting_.empty() && !playing_); });
}

std::size_t BeepQueue::Waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_.size();
}

std::size_t BeepQueue::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

void BeepQueue::Run() {
  const auto sleep = [](unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
    if (stop_) break;
    const std::string pattern = std::move(waiting_.front());
    waiting_.pop_front();
    playing_ = true;
    lock.unlock();
    for (const BeepNote& n : ParseBeepPattern(pattern)) {
      SoundTone(speaker_, sleep, n.hz, n.ms);
      std::lock_guard<std::mutex> check(mutex_);
      if (stop_) break;
    }
    lock.lock();
    playing_ = false;
    if (waiting_.empty()) idle_.notify_all();
  }
  playing_ = false;
  idle_.notify_all();
}

}  // namespace zv
