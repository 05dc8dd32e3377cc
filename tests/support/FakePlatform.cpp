#include "support/FakePlatform.h"

#include <algorithm>
#include <limits>

namespace zv::test {

FakeClock::FakeClock(TDateTime start) : start_(start) {}

TDateTime FakeClock::Now() const {
  return start_ + static_cast<double>(ms_) / 86400000.0;
}

void FakeClock::Sleep(unsigned ms) {
  ms_ += ms;
  sleptMs += ms;
}

void FakeClock::SetNow(TDateTime t) {
  start_ = t;
  ms_ = 0;
}

class FakeTimerBackend final : public ITimerBackend {
 public:
  FakeTimerBackend(FakeClock& clock, std::shared_ptr<FakeTimers::Slot> slot)
      : clock_(clock), slot_(std::move(slot)) {}
  ~FakeTimerBackend() override {
    slot_->running = false;
    slot_->tick = nullptr;
  }
  void Start(unsigned intervalMs) override {
    slot_->running = true;
    slot_->interval = intervalMs;
    slot_->due = clock_.TickMs() + intervalMs;
  }
  void Stop() override { slot_->running = false; }

 private:
  FakeClock& clock_;
  std::shared_ptr<FakeTimers::Slot> slot_;
};

std::unique_ptr<ITimerBackend> FakeTimers::CreateTimer(std::function<void()> onTick) {
  auto slot = std::make_shared<Slot>();
  slot->tick = std::move(onTick);
  slots_.push_back(slot);
  return std::make_unique<FakeTimerBackend>(clock_, slot);
}

int FakeTimers::FireDue() {
  int fired = 0;
  const auto now = clock_.TickMs();
  // Copy: a tick may create or destroy timers.
  auto slots = slots_;
  for (auto& s : slots) {
    if (!s->running || !s->tick || s->firing || s->due > now) continue;
    s->due = now + std::max(1u, s->interval);
    ++fired;
    auto tick = s->tick;
    struct Firing {
      Slot& slot;
      ~Firing() { slot.firing = false; }
    } firing{*s};
    s->firing = true;
    tick();
  }
  slots_.erase(std::remove_if(slots_.begin(), slots_.end(), [](const auto& s) { return !s->tick; }),
               slots_.end());
  return fired;
}

std::uint64_t FakeTimers::NextDue() const {
  std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
  for (const auto& s : slots_)
    if (s->running && s->tick) best = std::min(best, s->due);
  return best;
}

int FakeTimers::running() const {
  return static_cast<int>(std::count_if(slots_.begin(), slots_.end(),
                                        [](const auto& s) { return s->running && s->tick; }));
}

MsgResult FakeDialogs::MessageBox(const std::string& text, const std::string& caption,
                                  MsgButtons buttons, MsgIcon) {
  boxes.push_back({text, caption, buttons});
  if (onMessageBox) onMessageBox();
  if (!answers.empty()) {
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  return (buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel) ? MsgResult::Yes
                                                                              : MsgResult::Ok;
}

bool FakeDialogs::InputQuery(const std::string&, const std::string& prompt, std::string& value,
                             bool) {
  inputPrompts.push_back(prompt);
  if (inputs.empty()) return !cancelInput;
  value = inputs.front();
  inputs.pop_front();
  return true;
}

void FakeSpeaker::Beep(unsigned hz, unsigned ms) {
  beeps.push_back({hz, ms});
  clock_.Sleep(ms);
}

FakeLoop::FakeLoop(TDateTime start)
    : clock(start), timers(clock), speaker(clock), services{clock,   dispatcher, *this,   timers,
                                                            dialogs, speaker,    display, ports} {
  // No test reaches a real serial or parallel port by accident.
  ports.SetFallbackDir("/nonexistent-zorvenix-ports");
}

void FakeLoop::ProcessEvents() {
  ++pumpCalls;
  dispatcher.Drain();
  timers.FireDue();
  if (onPump) onPump();
}

void FakeLoop::RunFor(std::uint64_t ms) {
  const std::uint64_t end = clock.TickMs() + ms;
  for (;;) {
    dispatcher.Drain();
    const std::uint64_t next = timers.NextDue();
    if (next > end) break;
    if (next > clock.TickMs()) clock.AdvanceMs(next - clock.TickMs());
    timers.FireDue();
  }
  if (end > clock.TickMs()) clock.AdvanceMs(end - clock.TickMs());
  dispatcher.Drain();
}

}  // namespace zv::test
