#pragma once
// Timers of the main loop.  TTimer keeps the Enabled/Interval pair as plain
// state and asks the platform to tick it; the program uses Qt timers, tests a
// fake driven by a fake clock.
#include <functional>
#include <memory>

namespace zv {

class ITimerBackend {
 public:
  virtual ~ITimerBackend() = default;
  virtual void Start(unsigned intervalMs) = 0;  // (re)starts the period
  virtual void Stop() = 0;
};

class ITimerFactory {
 public:
  virtual ~ITimerFactory() = default;
  virtual std::unique_ptr<ITimerBackend> CreateTimer(std::function<void()> onTick) = 0;
};

class TTimer {
 public:
  TTimer(ITimerFactory& factory, std::function<void()> onTimer);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  bool Enabled() const { return enabled_; }
  unsigned Interval() const { return interval_; }
  // Setting either restarts the period, as a window-system timer does.
  void SetEnabled(bool on);
  void SetInterval(unsigned ms);
  void SetOnTimer(std::function<void()> fn) { onTimer_ = std::move(fn); }

 private:
  void Apply();
  void Tick();
  std::function<void()> onTimer_;
  std::unique_ptr<ITimerBackend> backend_;
  bool enabled_ = false;
  unsigned interval_ = 1000;
};

}  // namespace zv
