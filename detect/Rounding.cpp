#include "detect/Rounding.h"

namespace zv {

bool ShouldRecordFrame(int recordingMode, double ignorePercent, int level) {
  if (recordingMode == kRecordAlways) return true;
  if (recordingMode == kRecordOnChange) return RoundToEven(ignorePercent) <= level;
  return false;
}

bool ShouldBeepOnMotion(bool reactionEnabled, double eventPercent, int level) {
  return reactionEnabled && IsMotionLevel(eventPercent, level);
}

}  // namespace zv
