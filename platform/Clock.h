#pragma once
// Time as the program sees it: date-times are day-number doubles (days since
// 30 December 1899, local time, fraction = time of day).  Everything that
// waits or reads the time goes through IClock so that tests can run hours of
// alarm logic in milliseconds.
#include <cstdint>
#include <string>

namespace zv {

using TDateTime = double;

constexpr double kOneSecond = 1.0 / 86400.0;
constexpr double kOneMinute = 1.0 / 1440.0;

class IClock {
 public:
  virtual ~IClock() = default;
  // Local date and time now.
  virtual TDateTime Now() const = 0;
  // A monotonic millisecond counter (for intervals and time-outs).
  virtual std::uint64_t TickMs() const = 0;
  // Blocks the calling thread for ms milliseconds.
  virtual void Sleep(unsigned ms) = 0;
};

class SystemClock final : public IClock {
 public:
  TDateTime Now() const override;
  std::uint64_t TickMs() const override;
  void Sleep(unsigned ms) override;
};

struct DateTimeParts {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, msec = 0;
};

TDateTime EncodeDateTime(const DateTimeParts& p);
DateTimeParts DecodeDateTime(TDateTime t);

// The system's time of a date-time of the machine's time zone (its seconds;
// the milliseconds are the caller's), and the zone's offset from UTC then,
// in seconds.  False when the C library cannot place it.
bool LocalToSystemTime(TDateTime local, std::int64_t& seconds, long& utcOffset);

// "dd.mm.yy hh:nn:ss"
std::string FormatJournalTime(TDateTime t);
// "dd.mm.yyyy hh:nn:ss"
std::string FormatDateTimeLong(TDateTime t);

}  // namespace zv
