#pragma once
// Lets pending events run in the middle of a long operation (a modem call, a
// countdown, a modal wait): timers, socket data and keys are served
// re-entrantly while the caller waits.

namespace zv {

class IEventPump {
 public:
  virtual ~IEventPump() = default;
  virtual void ProcessEvents() = 0;
};

}  // namespace zv
