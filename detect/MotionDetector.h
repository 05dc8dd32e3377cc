#pragma once
// The motion detector's hot path: the same results as CompareFrames and
// MeasureChange of Detector.h, computed with vector instructions in one pass
// over the pictures.  While comparing it keeps one bit per buffer byte
// ("this difference byte is non-zero"); the zones are then counted from
// those bits, 1/8 of the data, instead of walking the difference picture
// again.  Buffers are kept between frames: no allocation once the frame size
// is settled.
#include <cstdint>
#include <vector>

#include "app/Picture.h"
#include "app/Zones.h"

namespace zv {

class MotionDetector {
 public:
  enum class Isa { Scalar, Sse2, Avx2 };

  // The best instruction set this CPU offers.
  static Isa BestIsa();
  explicit MotionDetector(Isa isa = BestIsa());
  Isa isa() const { return isa_; }

  // Same result as zv::CompareFrames.
  void CompareFrames(const TPicture& previous, TPicture& current, TPicture& difference,
                     std::uint8_t filter);

  // CompareFrames followed by MeasureChange, fused; same results (difference
  // picture, grid changes and alarms, returned level) as the plain pair.
  int CompareAndMeasure(const TPicture& previous, TPicture& current, TPicture& difference,
                        std::uint8_t filter, ZoneGrid& grid, double eventPercent);

 private:
  void Run(const TPicture& previous, TPicture& current, TPicture& difference, std::uint8_t filter,
           bool wantMask);
  bool BandsApply(const TPicture& previous, const ZoneGrid& grid) const;
  long long RunBands(const TPicture& previous, TPicture& current, TPicture& difference,
                     std::uint8_t filter, ZoneGrid& grid);

  Isa isa_;
  std::vector<std::uint64_t> mask_;
  std::vector<std::uint8_t> acc_;
};

}  // namespace zv
