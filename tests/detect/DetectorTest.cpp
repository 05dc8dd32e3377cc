// The detector's arithmetic: the plain implementation and every vector
// variant of the fast one must give the same difference picture, zone
// counts, alarms and change level.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "detect/Detector.h"
#include "detect/MotionDetector.h"

namespace zv {
namespace {

enum class Impl { Reference, Scalar, Sse2, Avx2 };

std::string Name(const testing::TestParamInfo<Impl>& info) {
  switch (info.param) {
    case Impl::Reference:
      return "Reference";
    case Impl::Scalar:
      return "Scalar";
    case Impl::Sse2:
      return "Sse2";
    case Impl::Avx2:
      return "Avx2";
  }
  return "?";
}

MotionDetector::Isa IsaOf(Impl impl) {
  switch (impl) {
    case Impl::Sse2:
      return MotionDetector::Isa::Sse2;
    case Impl::Avx2:
      return MotionDetector::Isa::Avx2;
    default:
      return MotionDetector::Isa::Scalar;
  }
}

int Detect(Impl impl, const TPicture& prev, TPicture& cur, TPicture& diff, std::uint8_t filter,
           ZoneGrid& grid, double eventPercent) {
  if (impl == Impl::Reference) {
    CompareFrames(prev, cur, diff, filter);
    return MeasureChange(grid, diff, eventPercent);
  }
  MotionDetector det(IsaOf(impl));
  return det.CompareAndMeasure(prev, cur, diff, filter, grid, eventPercent);
}

void Compare(Impl impl, const TPicture& prev, TPicture& cur, TPicture& diff, std::uint8_t filter) {
  if (impl == Impl::Reference) {
    CompareFrames(prev, cur, diff, filter);
  } else {
    MotionDetector det(IsaOf(impl));
    det.CompareFrames(prev, cur, diff, filter);
  }
}

TPicture Filled(int w, int h, std::uint8_t v) {
  TPicture p(w, h);
  std::fill(p.Bytes().begin(), p.Bytes().end(), v);
  return p;
}

ZoneGrid AllOn(int w, int h) {
  ZoneGrid g;
  g.UpdateFrameGeometry(w, h);
  g.SetAll(true);
  return g;
}

class DetectorEdges : public testing::TestWithParam<Impl> {};

TEST_P(DetectorEdges, FilterBoundsAreStrictAndSigned) {
  // Byte differences of 32, 31, -32, -31, wrap-around 250 - 5 and -128.
  TPicture prev = Filled(4, 1, 100), cur = Filled(4, 1, 100), diff;
  const std::uint8_t p[] = {132, 131, 100, 100, 250, 0, 200};
  const std::uint8_t c[] = {100, 100, 132, 131, 5, 128, 200};
  for (int i = 0; i < 7; ++i) prev.Data()[i] = p[i], cur.Data()[i] = c[i];
  Compare(GetParam(), prev, cur, diff, 32);
  const std::uint8_t* d = diff.Data();
  EXPECT_EQ(d[0], 32);        // exactly the threshold survives
  EXPECT_EQ(d[1], 0);         // one below is zeroed
  EXPECT_EQ(d[2], 256 - 32);  // -32 survives, stored unsigned
  EXPECT_EQ(d[3], 0);         // -31 zeroed
  EXPECT_EQ(d[4], 0);         // 245 reads as -11: filtered
  EXPECT_EQ(d[5], 128);       // -128 is beyond every threshold
  EXPECT_EQ(d[6], 0);
}

TEST_P(DetectorEdges, FiltersZeroAndAbove127FilterNothing) {
  for (int filter : {0, 128, 200, 255}) {
    TPicture prev = Filled(8, 2, 10), cur = Filled(8, 2, 10), diff;
    cur.Data()[0] = 11;    // difference -1
    cur.Data()[5] = 9;     // +1
    cur.Data()[30] = 138;  // -128
    Compare(GetParam(), prev, cur, diff, static_cast<std::uint8_t>(filter));
    EXPECT_EQ(diff.Data()[0], 255) << filter;
    EXPECT_EQ(diff.Data()[5], 1) << filter;
    EXPECT_EQ(diff.Data()[30], 128) << filter;
    int nonZero = 0;
    for (auto b : diff.Bytes()) nonZero += b != 0;
    EXPECT_EQ(nonZero, 3) << filter;
  }
}

TEST_P(DetectorEdges, IdenticalFramesAndNoActiveZoneMeasureZero) {
  TPicture prev = Filled(352, 288, 77), cur = prev, diff;
  ZoneGrid g = AllOn(352, 288);
  EXPECT_EQ(Detect(GetParam(), prev, cur, diff, 32, g, 1.2), 0);
  for (auto b : diff.Bytes()) ASSERT_EQ(b, 0);

  // Everything changed, but no cell is active: level 0, alarms untouched.
  TPicture other = Filled(352, 288, 0);
  ZoneGrid none;
  none.UpdateFrameGeometry(352, 288);
  none.alarm[3][4] = true;
  EXPECT_EQ(Detect(GetParam(), prev, other, diff, 32, none, 1.2), 0);
  EXPECT_TRUE(none.alarm[3][4]);
  EXPECT_EQ(none.changes[3][4], 0);
}

TEST_P(DetectorEdges, WholeFrameChangeWithSharedBoundsCountsMoreThanTheFrame) {
  // Shared boundary rows and columns are counted by both neighbours, so a
  // fully changed frame measures above 100 percent.
  TPicture prev = Filled(352, 288, 200), cur = Filled(352, 288, 0), diff;
  ZoneGrid g = AllOn(352, 288);
  const int level = Detect(GetParam(), prev, cur, diff, 32, g, 1.2);
  // Cells are 17 or 18 pixels wide plus a shared column, 18 rows plus one.
  long long total = 0;
  for (int c = 0; c < 20; ++c)
    for (int r = 0; r < 16; ++r) {
      const ZoneRect& z = g.frame[c][r];
      const long long w = std::min(z.right, 351) - z.left + 1;
      const long long h = std::min(z.bottom, 287) - z.top + 1;
      EXPECT_EQ(g.changes[c][r], w * h) << c << "," << r;
      total += w * h;
      EXPECT_TRUE(g.alarm[c][r]);
    }
  EXPECT_EQ(level, total * 100 / (352 * 288));
  EXPECT_GT(level, 100);
}

TEST_P(DetectorEdges, BoundaryPixelCountsInBothNeighboursAndLastColumnIsClipped) {
  const int w = 40, h = 32;  // cells 2 x 2 pixels plus the shared bound
  TPicture prev = Filled(w, h, 0), cur = Filled(w, h, 0), diff;
  // Screen pixel (2, 0): right bound of column 0, left bound of column 1.
  cur.ScreenRow(0)[2 * 3 + 1] = 100;
  // Screen pixel (39, 31): only in the last cell (bounds 40 and 32 clipped).
  cur.ScreenRow(31)[39 * 3] = 100;
  cur.ScreenRow(31)[39 * 3 + 2] = 100;
  ZoneGrid g = AllOn(w, h);
  Detect(GetParam(), prev, cur, diff, 32, g, 0);
  // One changed byte of three counts as 1 div 3 = 0 pixels; two as 0.
  EXPECT_EQ(g.changes[0][0], 0);
  EXPECT_EQ(g.changes[19][15], 0);
  // Three changed bytes make a pixel.
  cur.ScreenRow(0)[2 * 3] = 100;
  cur.ScreenRow(0)[2 * 3 + 2] = 100;
  cur.ScreenRow(31)[39 * 3 + 1] = 100;
  Detect(GetParam(), prev, cur, diff, 32, g, 0);
  EXPECT_EQ(g.changes[0][0], 1);
  EXPECT_EQ(g.changes[1][0], 1);
  EXPECT_EQ(g.changes[2][0], 0);
  EXPECT_EQ(g.changes[19][15], 1);
  EXPECT_EQ(g.changes[18][15], 0);
  // Share = Round(0 * w * h) div ... = 0: cells with any change alarm.
  EXPECT_TRUE(g.alarm[0][0]);
  EXPECT_TRUE(g.alarm[1][0]);
  EXPECT_FALSE(g.alarm[2][0]);
}

TEST_P(DetectorEdges, AlarmShareIsStrictAndLevelTruncates) {
  // 100 x 100 frame, one active cell of 5 x 6.25 -> bounds 0..5 x 0..6.
  const int w = 100, h = 100;
  TPicture prev = Filled(w, h, 0), cur = Filled(w, h, 0), diff;
  ZoneGrid g;
  g.UpdateFrameGeometry(w, h);
  g.on[0][0] = true;
  // Change 40 pixels of the cell (42 in it).
  int changed = 0;
  for (int y = 0; y <= 6 && changed < 40; ++y)
    for (int x = 0; x <= 5 && changed < 40; ++x, ++changed)
      for (int k = 0; k < 3; ++k) cur.ScreenRow(y)[x * 3 + k] = 99;
  // share = Round(0.4 * 10000) div 100 = 40: 40 is not above it.
  EXPECT_EQ(Detect(GetParam(), prev, cur, diff, 32, g, 0.4), 0);  // 4000 div 10000
  EXPECT_EQ(g.changes[0][0], 40);
  EXPECT_FALSE(g.alarm[0][0]);
  EXPECT_FALSE(g.alarm[1][0]);
  // share = Round(0.39 * 10000) div 100 = 39: alarm.
  Detect(GetParam(), prev, cur, diff, 32, g, 0.39);
  EXPECT_TRUE(g.alarm[0][0]);
}

TEST_P(DetectorEdges, PaddingBytesAreComparedAndTheTailIsLeftAsItWas) {
  // Width 1: stride 4, one padding byte per row; height 2 gives 8 bytes,
  // two whole steps (6 bytes); bytes 6 and 7 are never compared.
  TPicture prev = Filled(1, 2, 0), cur = Filled(1, 2, 0), diff(1, 2);
  prev.Data()[3] = 90;  // padding of the bottom row
  prev.Data()[6] = 90;  // red of the top pixel: past the last step
  diff.Data()[6] = 7;   // stale value stays
  ZoneGrid g = AllOn(1, 2);
  Detect(GetParam(), prev, cur, diff, 32, g, 1.2);
  EXPECT_EQ(diff.Data()[3], 90);
  EXPECT_EQ(diff.Data()[6], 7);
  // A 1 x 2 frame: every cell is clipped to pixel (0, 0) / (0, 0..1).
  TPicture diff2(1, 2);
  diff2.Data()[4] = diff2.Data()[5] = diff2.Data()[6] = 1;
  ZoneGrid g2 = AllOn(1, 2);
  EXPECT_EQ(CountZoneChanges(diff2, g2, 0, 0), 1);  // rows 0..0: top pixel
}

TEST_P(DetectorEdges, CurrentAndDifferenceTakeThePreviousSize) {
  TPicture prev = Filled(10, 6, 5), cur(3, 3), diff(50, 50);
  Compare(GetParam(), prev, cur, diff, 32);
  EXPECT_EQ(cur.Width(), 10);
  EXPECT_EQ(cur.Height(), 6);
  EXPECT_EQ(diff.Width(), 10);
  EXPECT_EQ(diff.Height(), 6);
}

INSTANTIATE_TEST_SUITE_P(All, DetectorEdges,
                         testing::Values(Impl::Reference, Impl::Scalar, Impl::Sse2, Impl::Avx2),
                         Name);

// Random pictures of many sizes, with sparse and dense changes, random
// filters and zone sets: every fast variant equals the reference exactly.
TEST(DetectorRandom, FastEqualsReference) {
  std::mt19937 rng(12345);
  const int sizes[][2] = {{1, 1},    {1, 2},     {2, 3},     {5, 7},     {19, 15},
                          {20, 16},  {21, 17},   {33, 9},    {64, 4},    {85, 3},
                          {127, 31}, {160, 120}, {352, 288}, {353, 289}, {640, 480}};
  for (auto [w, h] : sizes)
    for (int round = 0; round < 6; ++round) {
      TPicture prev(w, h), cur(w, h);
      const int density = round % 3;  // 0 dense noise, 1 sparse, 2 small noise
      for (std::size_t i = 0; i < prev.SizeBytes(); ++i) {
        prev.Data()[i] = static_cast<std::uint8_t>(rng());
        std::uint8_t v = prev.Data()[i];
        if (density == 0)
          v = static_cast<std::uint8_t>(rng());
        else if (density == 1)
          v = (rng() % 50 == 0) ? static_cast<std::uint8_t>(rng()) : v;
        else
          v = static_cast<std::uint8_t>(v + static_cast<int>(rng() % 81) - 40);
        cur.Data()[i] = v;
      }
      const std::uint8_t filter =
          static_cast<std::uint8_t>(round == 5 ? rng() : (round == 4 ? 0 : 1 + rng() % 60));
      ZoneGrid grid;
      grid.UpdateFrameGeometry(w, h);
      for (int c = 0; c < 20; ++c)
        for (int r = 0; r < 16; ++r) grid.on[c][r] = round == 3 || rng() % 3 == 0;
      const double eventPercent = (rng() % 400) / 100.0;

      // A stale tail in the difference picture must be treated alike.
      TPicture refDiff(w, h);
      std::fill(refDiff.Bytes().begin(), refDiff.Bytes().end(), 0x5A);
      TPicture refCur = cur;
      ZoneGrid refGrid = grid;
      const int refLevel =
          Detect(Impl::Reference, prev, refCur, refDiff, filter, refGrid, eventPercent);
      for (Impl impl : {Impl::Scalar, Impl::Sse2, Impl::Avx2}) {
        TPicture diff(w, h);
        std::fill(diff.Bytes().begin(), diff.Bytes().end(), 0x5A);
        TPicture c2 = cur;
        ZoneGrid g = grid;
        const int level = Detect(impl, prev, c2, diff, filter, g, eventPercent);
        const std::string where = std::to_string(w) + "x" + std::to_string(h) + " round " +
                                  std::to_string(round) + " impl " +
                                  std::to_string(static_cast<int>(impl));
        ASSERT_EQ(level, refLevel) << where;
        ASSERT_TRUE(diff == refDiff) << where;
        for (int c = 0; c < 20; ++c)
          for (int r = 0; r < 16; ++r) {
            ASSERT_EQ(g.changes[c][r], refGrid.changes[c][r]) << where << " " << c << "," << r;
            ASSERT_EQ(g.alarm[c][r], refGrid.alarm[c][r]) << where << " " << c << "," << r;
          }
      }
    }
}

TEST(DetectorRandom, ReusedDetectorFollowsSizeChanges) {
  // One detector object across frames of changing size keeps no stale bits.
  MotionDetector det;
  std::mt19937 rng(7);
  for (auto [w, h] : {std::pair{640, 480}, {352, 288}, {7, 5}, {640, 480}}) {
    TPicture prev(w, h), cur(w, h);
    for (auto& b : prev.Bytes()) b = static_cast<std::uint8_t>(rng());
    cur = prev;
    for (int i = 0; i < 50; ++i) cur.Data()[rng() % cur.SizeBytes()] ^= 0x80;
    ZoneGrid g = AllOn(w, h), rg = g;
    TPicture d1, d2, c1 = cur, c2 = cur;
    const int fast = det.CompareAndMeasure(prev, c1, d1, 32, g, 0.5);
    CompareFrames(prev, c2, d2, 32);
    EXPECT_EQ(fast, MeasureChange(rg, d2, 0.5));
    EXPECT_TRUE(d1 == d2);
    for (int c = 0; c < 20; ++c)
      for (int r = 0; r < 16; ++r) ASSERT_EQ(g.changes[c][r], rg.changes[c][r]);
  }
}

TEST(DetectorRandom, BestIsaIsUsable) {
  MotionDetector det;
  EXPECT_EQ(det.isa(), MotionDetector::BestIsa());
}

}  // namespace
}  // namespace zv
