#include "link/secure/DtmfLockout.h"

#include <algorithm>

namespace zv {

namespace {
// Digits kept for matching: a code keyed with noise around it still fits.
constexpr std::size_t kKeptDigits = 64;

// "раз" or "раза" after a number.
const char* Times(int n) {
  const int d = n % 10, h = n % 100;
  return d >= 2 && d <= 4 && !(h >= 12 && h <= 14) ? "раза" : "раз";
}
}  // namespace

void DtmfLockout::CallStarted(std::uint64_t nowMs) {
  (void)nowMs;
  digits_.clear();
  pending_ = 0;
  wrong_ = 0;
  inCall_ = true;
  callFailed_ = false;
  hungUp_ = false;
}

void DtmfLockout::CallEnded() {
  inCall_ = false;
}

void DtmfLockout::CountFailedCall(std::uint64_t nowMs, Result& r) {
  if (!callFailed_) {
    callFailed_ = true;
    callFailedAt_ = nowMs;
    failures_.push_back(nowMs);
  }
  while (!failures_.empty() && nowMs - failures_.front() >= limits_.windowMs) failures_.pop_front();
  if (static_cast<int>(failures_.size()) < limits_.failedCallsLimit) return;
  const bool was = Locked(nowMs);
  // Guessing goes on while locked: the lock runs from the last failed call.
  lockedUntil_ = std::max(lockedUntil_, nowMs + limits_.lockoutMs);
  if (was) return;
  lockReported_ = true;
  const std::size_t n = failures_.size();
  r.journal.push_back(
      {"Управление охраной по DTMF заблокировано на " +
           std::to_string((limits_.lockoutMs + 59999) / 60000) + " мин. после " +
           (n == 1 ? std::string("неудачного звонка") : std::to_string(n) + " неудачных звонков") +
           " с неверными кодами !",
       3});
}

DtmfLockout::Result DtmfLockout::Digit(char digit, bool armed, const std::string& onCode,
                                       const std::string& offCode, std::uint64_t nowMs) {
  Result r;
  if (!inCall_) CallStarted(nowMs);
  if (hungUp_) return r;  // the line is being hung up: nothing more counts
  digits_.push_back(digit);
  if (digits_.size() > kKeptDigits) digits_.erase(0, digits_.size() - kKeptDigits);
  const std::string& code = armed ? offCode : onCode;
  if (code.empty()) return r;  // no code for this direction: nothing to guess
  const bool locked = Locked(nowMs);
  const char* what = armed ? "снятия с охраны" : "постановки на охрану";

  if (digits_.find(code) != std::string::npos) {
    digits_.clear();
    pending_ = 0;
    if (!locked) {
      // The owner who mistyped first: the call is not a failed one.
      if (callFailed_) {
        const auto it = std::find(failures_.rbegin(), failures_.rend(), callFailedAt_);
        if (it != failures_.rend()) failures_.erase(std::next(it).base());
        callFailed_ = false;
      }
      wrong_ = 0;
      r.verdict = armed ? Verdict::Disarm : Verdict::Arm;
      return r;
    }
    // Refused, and counted like a wrong code, so that the caller hears what
    // a wrong code gives.
    r.verdict = Verdict::Refused;
    r.journal.push_back({std::string("Верный код ") + what +
                             " по DTMF отклонён: управление охраной по DTMF заблокировано !",
                         3});
  } else {
    if (++pending_ < code.size()) return r;
    pending_ = 0;
    r.verdict = locked ? Verdict::Refused : Verdict::WrongCode;
    r.journal.push_back({locked ? std::string("Попытка ") + what +
                                      " по DTMF при заблокированном управлении: неверный код !"
                                : "Неверный код DTMF (" + std::to_string(wrong_ + 1) + " из " +
                                      std::to_string(limits_.wrongCodesPerCall) + ")",
                         locked ? 3 : 2});
    CountFailedCall(nowMs, r);
  }
  if (++wrong_ >= limits_.wrongCodesPerCall) {
    hungUp_ = true;
    r.verdict = Verdict::HangUp;
    r.journal.push_back({"Неверный код DTMF набран " + std::to_string(wrong_) + " " +
                             Times(wrong_) + ": звонок прерван !",
                         3});
  }
  return r;
}

std::string DtmfLockout::Tick(std::uint64_t nowMs) {
  if (!lockReported_ || Locked(nowMs)) return {};
  lockReported_ = false;
  return "Управление охраной по DTMF снова разрешено";
}

}  // namespace zv
