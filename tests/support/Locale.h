#pragma once
// A decimal-comma locale for the tests: the program must read and write its
// numbers the same way on a machine set to Russian (or German, French ...),
// where the C library's "%f" writes "0,5" and strtod stops at ".".
#include <optional>
#include <string>

namespace zv::test {

// The name of a locale whose decimal separator is ",", usable with
// setlocale and LC_ALL.  When the machine has none, one is built with
// localedef into a folder under the temp folder, and LOCPATH is set to it
// (children inherit it).  Empty, with the reason in why, only when no such
// locale can be made.
std::optional<std::string> DecimalCommaLocale(std::string* why = nullptr);

// Switches the process to the decimal-comma locale for its lifetime, as Qt
// does for a program started under such a locale (setlocale(LC_ALL, "")).
class ScopedDecimalCommaLocale {
 public:
  ScopedDecimalCommaLocale();
  ~ScopedDecimalCommaLocale();
  ScopedDecimalCommaLocale(const ScopedDecimalCommaLocale&) = delete;
  ScopedDecimalCommaLocale& operator=(const ScopedDecimalCommaLocale&) = delete;
  bool Active() const { return active_; }
  const std::string& Why() const { return why_; }

 private:
  bool active_ = false;
  std::string previous_;
  std::string why_;
};

// Skips the running test, saying why, when the locale cannot be made.
#define ZV_REQUIRE_DECIMAL_COMMA(scoped) \
  if (!(scoped).Active()) GTEST_SKIP() << "no decimal-comma locale: " << (scoped).Why()

}  // namespace zv::test
