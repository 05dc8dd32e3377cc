#pragma once
// A minimal observer list: the core announces state changes, ui/ listens.
#include <functional>
#include <utility>
#include <vector>

namespace zv {

template <class... Args>
class Signal {
 public:
  using Slot = std::function<void(Args...)>;
  int Connect(Slot slot) {
    slots_.emplace_back(++lastId_, std::move(slot));
    return lastId_;
  }
  void Disconnect(int id) {
    for (auto it = slots_.begin(); it != slots_.end(); ++it)
      if (it->first == id) {
        slots_.erase(it);
        return;
      }
  }
  void operator()(Args... args) const {
    // Copy: a slot may connect or disconnect others.
    const auto copy = slots_;
    for (const auto& s : copy) s.second(args...);
  }
  bool empty() const { return slots_.empty(); }

 private:
  std::vector<std::pair<int, Slot>> slots_;
  int lastId_ = 0;
};

}  // namespace zv
