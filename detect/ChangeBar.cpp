#include "detect/ChangeBar.h"

#include "app/Thresholds.h"

namespace zv {

int BarY(long long p, int height) {
  return static_cast<int>((height - 1) - p * (height - 2) / 100);
}

ChangeBarGeometry ComputeChangeBar(int level, double ignorePercent, double eventPercent, int width,
                                   int height) {
  ChangeBarGeometry g;
  const int yv = BarY(level, height);
  const int yIgnore = BarY(RoundToEven(ignorePercent), height);
  const int yEvent = BarY(RoundToEven(eventPercent), height);
  g.outline = {0, 0, width, height};
  g.level = {1, yv, width - 1, height - 1};
  if (level >= ignorePercent) {
    g.hasIgnoreFill = true;
    g.ignoreFill = {1, yv, width - 1, yIgnore};
  }
  if (level >= eventPercent) {
    g.hasEventFill = true;
    g.eventFill = {1, yv, width - 1, yEvent};
  }
  g.eventLineY = yEvent;
  g.ignoreLineY = yIgnore;
  return g;
}

}  // namespace zv
