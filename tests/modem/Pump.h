#pragma once
#include <chrono>
#include <functional>
#include <thread>

#include "platform/Dispatcher.h"

namespace zv::test {

// Runs the main thread's share of the dispatcher until pred holds or ms pass.
inline bool PumpUntil(QueueDispatcher& d, const std::function<bool()>& pred, int ms = 3000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    d.Drain();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

inline void PumpFor(QueueDispatcher& d, int ms) {
  PumpUntil(
      d, [] { return false; }, ms);
}

}  // namespace zv::test
