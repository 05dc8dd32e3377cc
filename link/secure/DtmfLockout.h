#pragma once
// Arming and disarming by DTMF with a limit on guessing: the caller keys
// digits, and the codes are looked for anywhere among the digits keyed in
// the call (extra digits before and after a code still match).
//
// Every run of digits as long as the code that applies (the arming code
// while disarmed, the disarming code while armed) that ends without a
// match counts as one wrong code.  After three wrong codes in one call the
// site hangs up.  A call with a wrong code and no right one is a failed
// call; after a number of failed calls within an hour, DTMF arming and
// disarming are locked for a while: a code keyed then, right or wrong, is
// refused and journaled, and the caller hears exactly what a wrong code
// gives (nothing), so the lock does not tell a guesser which code was right.
//
// Pure logic on a millisecond clock the caller passes (IClock::TickMs).
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace zv {

struct DtmfLockoutLimits {
  int wrongCodesPerCall = 3;              // then the site hangs up
  int failedCallsLimit = 3;               // failed calls within the window lock DTMF control
  std::uint64_t windowMs = 3600u * 1000;  // an hour
  std::uint64_t lockoutMs = 3600u * 1000;
};

class DtmfLockout {
 public:
  enum class Verdict : std::uint8_t {
    None,       // nothing to do yet
    Arm,        // the arming code: the caller checks the sensors and arms
    Disarm,     // the disarming code: the caller disarms
    WrongCode,  // a wrong code; the call goes on
    HangUp,     // the caller hangs up now
    Refused,    // a code keyed while DTMF control is locked; nothing is done
  };
  struct JournalLine {
    std::string text;
    int kind = 2;  // the journal's kind: 2 events, 3 alarms
  };
  struct Result {
    Verdict verdict = Verdict::None;
    std::vector<JournalLine> journal;  // what to journal for this digit, in order
  };

  explicit DtmfLockout(DtmfLockoutLimits limits = {}) : limits_(limits) {}

  // An incoming call was answered: its digits start afresh.
  void CallStarted(std::uint64_t nowMs);
  // The call ended (hung up by either side).
  void CallEnded();

  // A digit of the call.  armed: the site's state now; onCode, offCode: the
  // arming and disarming codes (an empty code never matches, and digits
  // keyed for it do not count).
  Result Digit(char digit, bool armed, const std::string& onCode, const std::string& offCode,
               std::uint64_t nowMs);

  // DTMF control is locked now.
  bool Locked(std::uint64_t nowMs) const { return lockedUntil_ > nowMs; }
  // The journal line (kind 2) when a lock has run out, once; "" else.
  // Called from the heartbeat.
  std::string Tick(std::uint64_t nowMs);

  // The digits of the call not yet matched.
  const std::string& Digits() const { return digits_; }
  int WrongCodes() const { return wrong_; }
  // Failed calls within the window, as of the last digit.
  int FailedCalls() const { return static_cast<int>(failures_.size()); }

 private:
  void CountFailedCall(std::uint64_t nowMs, Result& r);
  DtmfLockoutLimits limits_;
  std::string digits_;
  std::size_t pending_ = 0;  // digits since the last code's end, unmatched
  int wrong_ = 0;
  bool inCall_ = false;
  bool callFailed_ = false;
  std::uint64_t callFailedAt_ = 0;
  bool hungUp_ = false;
  std::deque<std::uint64_t> failures_;  // when each failed call failed
  std::uint64_t lockedUntil_ = 0;
  bool lockReported_ = false;  // a lock is on whose end is still to be journaled
};

}  // namespace zv
