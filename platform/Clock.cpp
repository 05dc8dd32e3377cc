#include "platform/Clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>

namespace zv {

namespace {

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

constexpr long long kEpochOffset = 25569;  // days from 1899-12-30 to 1970-01-01

}  // namespace

TDateTime EncodeDateTime(const DateTimeParts& p) {
  const long long days =
      DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) +
      kEpochOffset;
  const double frac =
      (p.hour * 3600000.0 + p.minute * 60000.0 + p.second * 1000.0 + p.msec) / 86400000.0;
  return static_cast<double>(days) + frac;
}

bool LocalToSystemTime(TDateTime local, std::int64_t& seconds, long& utcOffset) {
  const DateTimeParts p = DecodeDateTime(local);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;  // the zone's rule for that day
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return false;
  seconds = static_cast<std::int64_t>(t);
  utcOffset = tm.tm_gmtoff;
  return true;
}

DateTimeParts DecodeDateTime(TDateTime t) {
  DateTimeParts p;
  // Work in whole milliseconds, rounded, so that 14:07:09 never shows as 14:07:08.999.
  const long long totalMs = std::llround(t * 86400000.0);
  long long days = totalMs / 86400000;
  long long ms = totalMs % 86400000;
  if (ms < 0) {
    ms += 86400000;
    days -= 1;
  }
  CivilFromDays(days - kEpochOffset, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.msec = static_cast<int>(ms % 1000);
  return p;
}

std::string FormatJournalTime(TDateTime t) {
  const DateTimeParts p = DecodeDateTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%02d %02d:%02d:%02d", p.day, p.month, p.year % 100,
                p.hour, p.minute, p.second);
  return buf;
}

std::string FormatDateTimeLong(TDateTime t) {
  const DateTimeParts p = DecodeDateTime(t);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", p.day, p.month, p.year, p.hour,
                p.minute, p.second);
  return buf;
}

TDateTime SystemClock::Now() const {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t tt = system_clock::to_time_t(now);
  std::tm lt{};
  localtime_r(&tt, &lt);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  DateTimeParts p;
  p.year = lt.tm_year + 1900;
  p.month = lt.tm_mon + 1;
  p.day = lt.tm_mday;
  p.hour = lt.tm_hour;
  p.minute = lt.tm_min;
  p.second = lt.tm_sec;
  p.msec = static_cast<int>(ms);
  return EncodeDateTime(p);
}

std::uint64_t SystemClock::TickMs() const {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::Sleep(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace zv
