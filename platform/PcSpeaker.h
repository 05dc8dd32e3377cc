#pragma once
#include <string>

#include "platform/Speaker.h"

namespace zv {

// The pcspkr event device (EV_SND/SND_TONE).  Finds it under /dev/input by
// its name; HasDirectAccess() is false when there is none or it can't be
// opened.  Beep() falls back to the given indirect speaker, or sleeps.
class PcSpeaker final : public ISpeaker {
 public:
  explicit PcSpeaker(ISpeaker* fallback = nullptr, std::string devicePath = {});
  ~PcSpeaker() override;
  PcSpeaker(const PcSpeaker&) = delete;
  PcSpeaker& operator=(const PcSpeaker&) = delete;

  bool HasDirectAccess() const override { return fd_ >= 0; }
  void SetDirectTone(unsigned hz) override;
  void Beep(unsigned hz, unsigned ms) override;
  void DefaultBeep() override;

  static std::string FindDevice();

 private:
  ISpeaker* fallback_;
  int fd_ = -1;
};

}  // namespace zv
