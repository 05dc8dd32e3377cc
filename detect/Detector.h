#pragma once
// The motion detector's arithmetic, in its plain form: the difference of two
// frames with the noise filter, the changed-pixel count of a zone, and the
// change level of a camera.  MotionDetector (MotionDetector.h) computes the
// same results quickly; these are the definition it is checked against.
#include <cstdint>
#include <optional>

#include "app/Picture.h"
#include "app/Zones.h"

namespace zv {

// Creates/resizes target to the size of source (only when it differs).
void MatchBitmap(const TPicture& source, TPicture& target);
// MatchBitmap, then a copy of the whole pixel buffer.
void CopyBitmap(const TPicture& source, TPicture& target);

// The difference picture.  current and difference are first given the size
// of previous.  The buffers are walked as one run of (stride * height) div 3
// three-byte steps from the lowest address, so row padding is compared like
// pixel bytes.  Per byte: d = (previous - current) mod 256 read as a signed
// byte; with F = filter read as a signed byte, d becomes 0 when -F < d < F.
// Only filters 1..127 therefore remove anything.  Bytes past the last whole
// step (at most two) are left as they are in difference.
void CompareFrames(const TPicture& previous, TPicture& current, TPicture& difference,
                   std::uint8_t filter);

// Non-zero bytes of the difference picture inside cell (c, r) (bounds
// inclusive, limited to the picture), divided by 3.
int CountZoneChanges(const TPicture& difference, const ZoneGrid& grid, int c, int r);

// Fills changes of every active cell and, when at least one cell is active,
// the alarm flags (changes > Round(eventPercent * W * H) div (active * 100)).
// Returns the change level total * 100 div (W * H), W x H being the grid's
// frame size; 0 when no cell is active.
int MeasureChange(ZoneGrid& grid, const TPicture& difference, double eventPercent);

// The filter threshold from the FilterDeep spin, which has no limits of its
// own: a value outside 0..255 is a range error and changes nothing.
std::optional<std::uint8_t> FilterThresholdFrom(long long value);

// The alarm share of one cell, shared by both implementations.
long long ZoneAlarmShare(double eventPercent, int width, int height, int activeCells);
// total * 100 div (width * height), 0 for an empty frame.
int ChangeLevel(long long total, int width, int height);

}  // namespace zv
