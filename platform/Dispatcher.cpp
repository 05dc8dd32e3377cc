#include "platform/Dispatcher.h"

namespace zv {

QueueDispatcher::QueueDispatcher() : main_(std::this_thread::get_id()) {}

QueueDispatcher::~QueueDispatcher() {
  Shutdown();
}

void QueueDispatcher::BindToCurrentThread() {
  std::lock_guard lk(mu_);
  main_ = std::this_thread::get_id();
}

bool QueueDispatcher::IsMainThread() const {
  std::lock_guard lk(mu_);
  return std::this_thread::get_id() == main_;
}

void QueueDispatcher::SetWakeup(std::function<void()> wake) {
  std::lock_guard lk(mu_);
  wake_ = std::move(wake);
}

void QueueDispatcher::Wake() {
  std::function<void()> w;
  {
    std::lock_guard lk(mu_);
    w = wake_;
  }
  if (w) w();
}

bool QueueDispatcher::Invoke(std::function<void()> fn, std::stop_token stop) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  auto state = std::make_shared<int>(0);
  {
    std::lock_guard lk(mu_);
    if (shutdown_) return false;
    queue_.push_back(Item{std::move(fn), state});
  }
  Wake();
  std::unique_lock lk(mu_);
  // Wait until the item has run, or give up if it has not started yet when a
  // stop is requested or the dispatcher shuts down.
  while (*state < 2) {
    if (*state == 0 && (shutdown_ || stop.stop_requested())) {
      *state = 3;
      return false;
    }
    if (*state == 1)
      done_.wait(lk, [&] { return *state >= 2; });  // running now: wait for it to end
    else
      done_.wait(lk, stop, [&] { return *state != 0 || shutdown_; });
  }
  return *state == 2;
}

void QueueDispatcher::Post(std::function<void()> fn) {
  {
    std::lock_guard lk(mu_);
    if (shutdown_) return;
    queue_.push_back(Item{std::move(fn), nullptr});
  }
  Wake();
}

int QueueDispatcher::Drain() {
  int ran = 0;
  for (;;) {
    Item item;
    {
      std::lock_guard lk(mu_);
      // Only what was queued before this call; work queued by the items run
      // now waits for the next drain, so a busy worker cannot starve the loop.
      if (queue_.empty() || ran > 10000) break;
      item = std::move(queue_.front());
      queue_.pop_front();
      if (item.state) {
        if (*item.state == 3) continue;  // the worker gave up waiting
        *item.state = 1;
      }
    }
    ++ran;
    try {
      item.fn();
    } catch (...) {
      if (item.state) {
        std::lock_guard lk(mu_);
        *item.state = 2;
        done_.notify_all();
      }
      throw;
    }
    if (item.state) {
      std::lock_guard lk(mu_);
      *item.state = 2;
      done_.notify_all();
    }
  }
  return ran;
}

void QueueDispatcher::Shutdown() {
  std::lock_guard lk(mu_);
  shutdown_ = true;
  for (auto& it : queue_)
    if (it.state && *it.state == 0) *it.state = 3;
  queue_.clear();
  done_.notify_all();
}

}  // namespace zv
