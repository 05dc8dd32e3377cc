#pragma once
// Hands work from worker threads to the main (event-loop) thread.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace zv {

class IDispatcher {
 public:
  virtual ~IDispatcher() = default;
  // Runs fn on the main thread and waits until it has run.  Called on the main
  // thread it runs fn at once.  Gives up (fn not run, returns false) when stop
  // is requested before fn started, or when the dispatcher has been shut down;
  // a worker being joined by the main thread therefore never deadlocks here.
  virtual bool Invoke(std::function<void()> fn, std::stop_token stop = {}) = 0;
  // Queues fn for the main thread without waiting.
  virtual void Post(std::function<void()> fn) = 0;
  // True on the main thread.
  virtual bool IsMainThread() const = 0;
};

// A queue drained by the main thread.  The event loop (Qt in the program, a
// test's pump in tests) calls Drain(); SetWakeup installs a thread-safe
// callback that asks the loop to call Drain() soon.
class QueueDispatcher final : public IDispatcher {
 public:
  QueueDispatcher();
  ~QueueDispatcher() override;

  bool Invoke(std::function<void()> fn, std::stop_token stop = {}) override;
  void Post(std::function<void()> fn) override;
  bool IsMainThread() const override;

  // Runs everything queued so far on the calling (main) thread; returns how many ran.
  int Drain();
  void SetWakeup(std::function<void()> wake);
  // Rejects further work and releases every waiting worker.
  void Shutdown();
  // Rebinds the main thread (the creating thread by default).
  void BindToCurrentThread();

 private:
  struct Item {
    std::function<void()> fn;
    std::shared_ptr<int> state;  // 0 queued, 1 running, 2 done, 3 abandoned; null for Post
  };
  void Wake();

  mutable std::mutex mu_;
  std::condition_variable_any done_;
  std::deque<Item> queue_;
  std::function<void()> wake_;
  std::thread::id main_;
  bool shutdown_ = false;
};

}  // namespace zv
