// Threshold rounding, the recording and beep decisions, and the change bar.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "detect/ChangeBar.h"
#include "detect/Detector.h"
#include "detect/Rounding.h"

namespace zv {
namespace {

TEST(Rounding, HalvesGoToEven) {
  EXPECT_EQ(RoundToEven(0.5), 0);
  EXPECT_EQ(RoundToEven(1.5), 2);
  EXPECT_EQ(RoundToEven(2.5), 2);
  EXPECT_EQ(RoundToEven(-0.5), 0);
  EXPECT_EQ(RoundToEven(-1.5), -2);
  EXPECT_EQ(RoundToEven(-2.5), -2);
  EXPECT_EQ(RoundToEven(0.49999), 0);
  EXPECT_EQ(RoundToEven(0.50001), 1);
  EXPECT_EQ(RoundToEven(1.2), 1);
  EXPECT_EQ(RoundToEven(-1.7), -2);
  EXPECT_EQ(RoundToEven(std::nan("")), 0);
  EXPECT_EQ(RoundToEven(1e300), std::numeric_limits<long long>::max());
  EXPECT_EQ(RoundToEven(-1e300), std::numeric_limits<long long>::min());
}

TEST(Rounding, RecordingDecision) {
  // The form default 0.02 rounds to 0: every frame is recorded in mode 1,
  // the first frame (level 0) included.
  EXPECT_TRUE(ShouldRecordFrame(kRecordOnChange, 0.02, 0));
  // 0.5 rounds to 0 as well, 1.5 to 2.
  EXPECT_TRUE(ShouldRecordFrame(kRecordOnChange, 0.5, 0));
  EXPECT_FALSE(ShouldRecordFrame(kRecordOnChange, 1.5, 1));
  EXPECT_TRUE(ShouldRecordFrame(kRecordOnChange, 1.5, 2));
  // A first frame is level 0 and is not recorded once the threshold rounds to 1.
  EXPECT_FALSE(ShouldRecordFrame(kRecordOnChange, 0.6, 0));
  EXPECT_TRUE(ShouldRecordFrame(kRecordAlways, 99, 0));
  EXPECT_FALSE(ShouldRecordFrame(2, 0, 100));
  EXPECT_FALSE(ShouldRecordFrame(-1, 0, 100));
}

TEST(Rounding, MotionBeepNeverForLevelZero) {
  EXPECT_FALSE(ShouldBeepOnMotion(true, 0.02, 0));  // rounds to 0 <= 0, still quiet
  EXPECT_TRUE(ShouldBeepOnMotion(true, 0.02, 1));
  EXPECT_TRUE(ShouldBeepOnMotion(true, 1.2, 1));
  EXPECT_FALSE(ShouldBeepOnMotion(true, 2.5, 1));  // 2.5 rounds to 2
  EXPECT_TRUE(ShouldBeepOnMotion(true, 2.5, 2));
  EXPECT_FALSE(ShouldBeepOnMotion(false, 0, 50));
}

TEST(Rounding, FilterThresholdRange) {
  EXPECT_EQ(FilterThresholdFrom(0), 0);
  EXPECT_EQ(FilterThresholdFrom(32), 32);
  EXPECT_EQ(FilterThresholdFrom(255), 255);
  EXPECT_FALSE(FilterThresholdFrom(256));
  EXPECT_FALSE(FilterThresholdFrom(-1));
}

TEST(ChangeBar, GeometryOfTheRecordingPageBar) {
  // The 17 x 110 bar: y(p) = 109 - p * 108 div 100.
  EXPECT_EQ(BarY(0, 110), 109);
  EXPECT_EQ(BarY(100, 110), 1);
  EXPECT_EQ(BarY(50, 110), 55);
  EXPECT_EQ(BarY(1, 110), 108);

  ChangeBarGeometry g = ComputeChangeBar(50, 0.02, 1.2, 17, 110);
  EXPECT_EQ(g.outline, (BarRect{0, 0, 17, 110}));
  EXPECT_EQ(g.level, (BarRect{1, 55, 16, 109}));
  ASSERT_TRUE(g.hasIgnoreFill);
  EXPECT_EQ(g.ignoreFill, (BarRect{1, 55, 16, 109}));  // Round(0.02) = 0
  ASSERT_TRUE(g.hasEventFill);
  EXPECT_EQ(g.eventFill, (BarRect{1, 55, 16, 108}));  // Round(1.2) = 1
  EXPECT_EQ(g.eventLineY, 108);
  EXPECT_EQ(g.ignoreLineY, 109);

  // Thresholds compared as reals: level 1 is below 1.2, level 0 below 0.02.
  g = ComputeChangeBar(1, 0.02, 1.2, 17, 110);
  EXPECT_TRUE(g.hasIgnoreFill);
  EXPECT_FALSE(g.hasEventFill);
  g = ComputeChangeBar(0, 0.02, 1.2, 17, 110);
  EXPECT_FALSE(g.hasIgnoreFill);
  EXPECT_FALSE(g.hasEventFill);
  // Threshold 2.5 rounds to 2 for the line, but level 2 is below 2.5.
  g = ComputeChangeBar(2, 0, 2.5, 17, 110);
  EXPECT_FALSE(g.hasEventFill);
  EXPECT_EQ(g.eventLineY, BarY(2, 110));
}

}  // namespace
}  // namespace zv
