#pragma once
// Qt implementations of the loop-facing platform interfaces.
#include <QObject>
#include <memory>

#include "platform/Services.h"

namespace zv::ui {

// Dispatches worker-thread calls onto the Qt event loop.
class QtDispatcher final : public IDispatcher {
 public:
  QtDispatcher();
  ~QtDispatcher() override;
  bool Invoke(std::function<void()> fn, std::stop_token stop = {}) override {
    return queue_.Invoke(std::move(fn), stop);
  }
  void Post(std::function<void()> fn) override { queue_.Post(std::move(fn)); }
  bool IsMainThread() const override { return queue_.IsMainThread(); }
  void Drain() { queue_.Drain(); }
  void Shutdown() { queue_.Shutdown(); }

 private:
  QueueDispatcher queue_;
  std::unique_ptr<QObject> receiver_;
};

class QtEventPump final : public IEventPump {
 public:
  explicit QtEventPump(QtDispatcher& d) : d_(d) {}
  void ProcessEvents() override;

 private:
  QtDispatcher& d_;
};

class QtTimerFactory final : public ITimerFactory {
 public:
  std::unique_ptr<ITimerBackend> CreateTimer(std::function<void()> onTick) override;
};

class QtDialogs final : public IDialogs {
 public:
  MsgResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override;
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                  bool password) override;
};

// A sine tone on the sound card through Qt Multimedia; silence (but the same
// wait) where there is no audio output.
class QtToneSpeaker final : public ISpeaker {
 public:
  bool HasDirectAccess() const override { return false; }
  void SetDirectTone(unsigned) override {}
  void Beep(unsigned hz, unsigned ms) override;
  void DefaultBeep() override;
};

class QtDisplayInfo final : public IDisplayInfo {
 public:
  DisplayMetrics Query() const override;
};

}  // namespace zv::ui
