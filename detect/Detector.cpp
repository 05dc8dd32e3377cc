#include "detect/Detector.h"

#include <cstring>

#include "app/Thresholds.h"

namespace zv {

void MatchBitmap(const TPicture& source, TPicture& target) {
  target.SetSize(source.Width(), source.Height());
}

void CopyBitmap(const TPicture& source, TPicture& target) {
  MatchBitmap(source, target);
  if (source.SizeBytes() > 0) std::memcpy(target.Data(), source.Data(), source.SizeBytes());
}

void CompareFrames(const TPicture& previous, TPicture& current, TPicture& difference,
                   std::uint8_t filter) {
  MatchBitmap(previous, current);
  MatchBitmap(previous, difference);
  const std::size_t steps =
      static_cast<std::size_t>(previous.Stride()) * static_cast<std::size_t>(previous.Height()) / 3;
  const std::uint8_t* p = previous.Data();
  const std::uint8_t* c = current.Data();
  std::uint8_t* out = difference.Data();
  const int f = static_cast<std::int8_t>(filter);
  for (std::size_t i = 0; i < steps * 3; ++i) {
    int d = static_cast<std::int8_t>(static_cast<std::uint8_t>(p[i] - c[i]));
    if (-f < d && d < f) d = 0;
    out[i] = static_cast<std::uint8_t>(d);
  }
}

int CountZoneChanges(const TPicture& difference, const ZoneGrid& grid, int c, int r) {
  ZoneRect z;
  if (!CountedZone(grid, c, r, difference.Width(), difference.Height(), z)) return 0;
  long long count = 0;
  for (int y = z.bottom; y >= z.top; --y) {
    const std::uint8_t* row = difference.ScreenRow(y);
    for (int x = z.left; x <= z.right; ++x)
      for (int k = 0; k < 3; ++k) count += row[x * 3 + k] != 0 ? 1 : 0;
  }
  return static_cast<int>(count / 3);
}

std::optional<std::uint8_t> FilterThresholdFrom(long long value) {
  if (value < 0 || value > 255) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

long long ZoneAlarmShare(double eventPercent, int width, int height, int activeCells) {
  const long long area = RoundToEven(eventPercent * width * height);
  return area / (static_cast<long long>(activeCells) * 100);
}

int ChangeLevel(long long total, int width, int height) {
  const long long area = static_cast<long long>(width) * height;
  if (area <= 0) return 0;
  return static_cast<int>(total * 100 / area);
}

int MeasureChange(ZoneGrid& grid, const TPicture& difference, double eventPercent) {
  long long total = 0;
  int active = 0;
  for (int c = 0; c < ZoneGrid::kCols; ++c)
    for (int r = 0; r < ZoneGrid::kRows; ++r) {
      if (!grid.on[c][r]) continue;
      grid.changes[c][r] = CountZoneChanges(difference, grid, c, r);
      total += grid.changes[c][r];
      ++active;
    }
  if (active > 0) {
    const long long share = ZoneAlarmShare(eventPercent, grid.frameWidth, grid.frameHeight, active);
    for (int c = 0; c < ZoneGrid::kCols; ++c)
      for (int r = 0; r < ZoneGrid::kRows; ++r)
        grid.alarm[c][r] = grid.on[c][r] && grid.changes[c][r] > share;
  }
  return ChangeLevel(total, grid.frameWidth, grid.frameHeight);
}

}  // namespace zv
