#pragma once
// The PC speaker.  "Direct" means the program can program the speaker's tone
// generator itself (here: the pcspkr input device); without it, Beep() plays
// the tone some other way (the sound card) or, failing that, stays silent.
// Every tone blocks its caller for its duration.
#include <string>

namespace zv {

class ISpeaker {
 public:
  virtual ~ISpeaker() = default;
  // Whether the tone generator can be driven directly (the old port-I/O path).
  virtual bool HasDirectAccess() const = 0;
  // Direct path: sound a continuous tone of hz (0 silences it).  Returns at once.
  virtual void SetDirectTone(unsigned hz) = 0;
  // Indirect path: a tone of the given frequency and length; blocks for ms.
  virtual void Beep(unsigned hz, unsigned ms) = 0;
  // The desktop's default notification beep.
  virtual void DefaultBeep() = 0;
};

}  // namespace zv
