#pragma once
// Fakes of the platform interfaces for tests: a clock that only moves when
// told to, timers driven by it, a dispatcher drained by the test's own loop,
// scripted dialogs and a speaker that records what it was asked to sound.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Services.h"

namespace zv::test {

class FakeLoop;

class FakeClock final : public IClock {
 public:
  explicit FakeClock(TDateTime start);
  TDateTime Now() const override;
  std::uint64_t TickMs() const override { return ms_; }
  // Sleep only moves the time on: nothing else runs meanwhile.
  void Sleep(unsigned ms) override;
  void AdvanceMs(std::uint64_t ms) { ms_ += ms; }
  void SetNow(TDateTime t);
  std::uint64_t sleptMs = 0;

 private:
  TDateTime start_;
  std::uint64_t ms_ = 0;
};

class FakeTimers final : public ITimerFactory {
 public:
  explicit FakeTimers(FakeClock& clock) : clock_(clock) {}
  std::unique_ptr<ITimerBackend> CreateTimer(std::function<void()> onTick) override;
  // Fires every timer whose time has come (each at most once); returns how
  // many fired.  As with the GUI's timers, a timer whose tick is running
  // (the tick pumps events while it waits) is not fired again inside it.
  int FireDue();
  // The earliest due time of a running timer, or UINT64_MAX.
  std::uint64_t NextDue() const;
  int running() const;

  struct Slot {
    std::function<void()> tick;
    bool running = false;
    bool firing = false;  // its tick is running: not fired again inside it
    unsigned interval = 0;
    std::uint64_t due = 0;
  };

 private:
  friend class FakeTimerBackend;
  FakeClock& clock_;
  std::vector<std::shared_ptr<Slot>> slots_;
};

class FakeDialogs final : public IDialogs {
 public:
  MsgResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override;
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                  bool password) override;

  struct Box {
    std::string text, caption;
    MsgButtons buttons;
  };
  std::vector<Box> boxes;
  std::deque<MsgResult> answers;   // next answers; Ok/Yes when empty
  std::deque<std::string> inputs;  // next InputQuery answers
  std::vector<std::string> inputPrompts;
  bool cancelInput = false;            // InputQuery returns false when no input is queued
  std::function<void()> onMessageBox;  // runs while a box is "open"
};

class FakeSpeaker final : public ISpeaker {
 public:
  explicit FakeSpeaker(FakeClock& clock) : clock_(clock) {}
  bool HasDirectAccess() const override { return direct; }
  void SetDirectTone(unsigned hz) override { directTones.push_back(hz); }
  void Beep(unsigned hz, unsigned ms) override;
  void DefaultBeep() override { ++defaultBeeps; }

  struct Note {
    unsigned hz, ms;
  };
  bool direct = false;
  std::vector<Note> beeps;
  std::vector<unsigned> directTones;
  int defaultBeeps = 0;

 private:
  FakeClock& clock_;
};

class FakeDisplay final : public IDisplayInfo {
 public:
  DisplayMetrics Query() const override { return metrics; }
  DisplayMetrics metrics{1280, 1024, 32};
};

// The whole fake world, with a loop that runs timers and dispatched work.
class FakeLoop final : public IEventPump {
 public:
  explicit FakeLoop(TDateTime start = 45000.5);
  // Lets pending work run: dispatched calls and timers that are due.
  void ProcessEvents() override;
  // Moves the clock on by ms, firing timers at their due times on the way.
  void RunFor(std::uint64_t ms);
  int pumpCalls = 0;
  std::function<void()> onPump;  // extra work a test wants done on every pump

  FakeClock clock;
  FakeTimers timers;
  QueueDispatcher dispatcher;
  FakeDialogs dialogs;
  FakeSpeaker speaker;
  FakeDisplay display;
  PortMap ports;
  Services services;
};

}  // namespace zv::test
