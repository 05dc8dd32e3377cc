#pragma once
// Rounding of the percentage thresholds and the decisions made from them.
namespace zv {

// Nearest integer, halves to the even neighbour (0.5 -> 0, 1.5 -> 2,
// -2.5 -> -2), independent of the floating-point rounding mode.  Values
// beyond the range of long long saturate; NaN gives 0.
long long RoundToEven(double v);

// Recording modes of a camera.
constexpr int kRecordAlways = 0;
constexpr int kRecordOnChange = 1;

// Whether a processed frame is recorded: mode 0 always; mode 1 when
// Round(ignorePercent) <= level; any other mode never.
bool ShouldRecordFrame(int recordingMode, double ignorePercent, int level);

// Whether a change level is motion at a camera's event threshold:
// Round(eventPercent) <= level, halves to even.  A level of 0 is never
// motion: a frame with no change at all is quiet, whatever the threshold
// rounds to.  The motion beep, the camera alarm and the alarm outlines on
// the view all decide by this.
bool IsMotionLevel(double eventPercent, int level);

// Whether a recorded frame sounds the motion beep: reaction on and motion.
bool ShouldBeepOnMotion(bool reactionEnabled, double eventPercent, int level);

constexpr unsigned kMotionBeepHz = 1500;
constexpr unsigned kMotionBeepMs = 5;

}  // namespace zv
