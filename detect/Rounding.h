#pragma once
// The recording decision and the motion beep, made from the rounded
// percentage thresholds.
#include "app/Thresholds.h"

namespace zv {

// Recording modes of a camera.
constexpr int kRecordAlways = 0;
constexpr int kRecordOnChange = 1;

// Whether a processed frame is recorded: mode 0 always; mode 1 when
// Round(ignorePercent) <= level; any other mode never.
bool ShouldRecordFrame(int recordingMode, double ignorePercent, int level);

// Whether a recorded frame sounds the motion beep: reaction on and motion.
bool ShouldBeepOnMotion(bool reactionEnabled, double eventPercent, int level);

constexpr unsigned kMotionBeepHz = 1500;
constexpr unsigned kMotionBeepMs = 5;

}  // namespace zv
