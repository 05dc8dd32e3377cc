#include "platform/Timer.h"

namespace zv {

TTimer::TTimer(ITimerFactory& factory, std::function<void()> onTimer)
    : onTimer_(std::move(onTimer)), backend_(factory.CreateTimer([this] { Tick(); })) {}

TTimer::~TTimer() {
  if (backend_) backend_->Stop();
}

void TTimer::SetEnabled(bool on) {
  enabled_ = on;
  Apply();
}

void TTimer::SetInterval(unsigned ms) {
  interval_ = ms;
  Apply();
}

void TTimer::Apply() {
  if (enabled_ && interval_ > 0)
    backend_->Start(interval_);
  else
    backend_->Stop();
}

void TTimer::Tick() {
  if (enabled_ && onTimer_) onTimer_();
}

}  // namespace zv
