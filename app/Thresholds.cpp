#include "app/Thresholds.h"

#include <cmath>
#include <limits>

namespace zv {

long long RoundToEven(double v) {
  if (std::isnan(v)) return 0;
  constexpr double kMax = 9.2233720368547748e18;  // 2^63
  if (v >= kMax) return std::numeric_limits<long long>::max();
  if (v <= -kMax) return std::numeric_limits<long long>::min();
  const double lower = std::floor(v);
  const double frac = v - lower;
  double r = lower;
  if (frac > 0.5) {
    r = lower + 1;
  } else if (frac == 0.5) {
    r = std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
  }
  if (r >= kMax) return std::numeric_limits<long long>::max();
  return static_cast<long long>(r);
}

bool IsMotionLevel(double eventPercent, int level) {
  return level > 0 && RoundToEven(eventPercent) <= level;
}

}  // namespace zv
