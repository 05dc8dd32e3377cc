#pragma once
// Percent thresholds are real numbers compared after rounding to the
// nearest integer, halves to even: the recorder, the cameras' alarm
// outlines and the gauge poll all decide motion by the same rule.
namespace zv {

// Nearest integer, halves to the even neighbour (0.5 -> 0, 1.5 -> 2,
// -2.5 -> -2), independent of the floating-point rounding mode.  Values
// beyond the range of long long saturate; NaN gives 0.
long long RoundToEven(double v);

// Whether a change level is motion at a camera's event threshold:
// Round(eventPercent) <= level, halves to even.  A level of 0 is never
// motion: a frame with no change at all is quiet, whatever the threshold
// rounds to.  The motion beep, the camera alarm and the alarm outlines on
// the view all decide by this.
bool IsMotionLevel(double eventPercent, int level);

}  // namespace zv
