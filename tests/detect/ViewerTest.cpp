// The viewer's logic on real recording pairs: opening, limits, record
// checks, picture loading of every format, live following, the change
// graph and the navigation buttons.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "detect/Viewer.h"
#include "support/TempDir.h"

namespace zv {
namespace {

using test::TempDir;

TPicture Pattern(int w, int h, int seed) {
  TPicture p(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x)
      p.StoredRow(y)[x] = static_cast<std::uint8_t>((x / 3 + y) * 4 + seed * 40);
  return p;
}

FrameDescriptor Desc(const TPicture& p, std::uint8_t format, int level = 0) {
  FrameDescriptor d;
  d.width = static_cast<std::int16_t>(p.Width());
  d.height = static_cast<std::int16_t>(p.Height());
  d.format = format;
  d.colored = true;
  d.changeLevel = level;
  return d;
}

TEST(Viewer, EveryFormatPlaysBack) {
  TempDir dir;
  JpegCodec codec;
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(dir.file("v.dsc")));
  const TPicture a = Pattern(352, 288, 1), b = Pattern(352, 288, 2), c = Pattern(64, 48, 3);
  // Raw, then JPEG, in one pair; then a zlib picture the recorder never writes.
  FrameDescriptor d = Desc(a, kFormatRaw, 4);
  ASSERT_TRUE(pair.Append(d, a.Data(), a.SizeBytes()).ok());
  auto jpeg = codec.EncodePicture(b, 90, true);
  d = Desc(b, kFormatJpeg, 7);
  ASSERT_TRUE(pair.Append(d, jpeg.data(), jpeg.size()).ok());
  const auto z = DeflatePicture(c);
  d = Desc(c, kFormatZlib);
  ASSERT_TRUE(pair.Append(d, z.data(), z.size()).ok());
  d = Desc(c, 9);  // unknown formats are read as JPEG
  auto small = codec.EncodePicture(c, 90, true);
  ASSERT_TRUE(pair.Append(d, small.data(), small.size()).ok());

  ViewerSession viewer;
  ASSERT_TRUE(viewer.Open(dir.file("v.bin")));  // any extension
  EXPECT_EQ(viewer.nav.value, 1);
  EXPECT_EQ(viewer.nav.maximum, 4);
  EXPECT_EQ(viewer.Index().Count(), 4);
  EXPECT_EQ(viewer.Index().Level(2), 7);

  PictureLoader loader(codec);
  TPicture shown;
  FrameDescriptor got;
  ASSERT_EQ(viewer.Prepare(1, got), ViewerSession::Check::Show);
  ASSERT_EQ(loader.Load(viewer.Reader(), got, shown, true), PictureLoader::Loaded);
  EXPECT_TRUE(shown == a);
  ASSERT_EQ(viewer.Prepare(2, got), ViewerSession::Check::Show);
  ASSERT_EQ(loader.Load(viewer.Reader(), got, shown, true), PictureLoader::Loaded);
  double err = 0;
  for (std::size_t i = 0; i < b.SizeBytes(); ++i) err += std::abs(shown.Data()[i] - b.Data()[i]);
  EXPECT_LT(err / b.SizeBytes(), 8.0);
  ASSERT_EQ(viewer.Prepare(3, got), ViewerSession::Check::Show);
  ASSERT_EQ(loader.Load(viewer.Reader(), got, shown, true), PictureLoader::Loaded);
  EXPECT_TRUE(shown == c);
  ASSERT_EQ(viewer.Prepare(4, got), ViewerSession::Check::Show);
  EXPECT_EQ(loader.Load(viewer.Reader(), got, shown, true), PictureLoader::Loaded);
  EXPECT_EQ(viewer.Prepare(5, got), ViewerSession::Check::OutOfRange);
  EXPECT_EQ(viewer.Prepare(0, got), ViewerSession::Check::OutOfRange);
}

TEST(Viewer, RecordsThatAreNotShown) {
  TempDir dir;
  JpegCodec codec;
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(dir.file("k.dsc")));
  const TPicture p = Pattern(32, 16, 1);
  auto jpeg = codec.EncodePicture(p, 60, true);
  FrameDescriptor d = Desc(p, kFormatJpeg);
  d.kind = 1;
  ASSERT_TRUE(pair.Append(d, jpeg.data(), jpeg.size()).ok());
  d = Desc(p, kFormatJpeg);
  ASSERT_TRUE(pair.Append(d, nullptr, 0).ok());  // encoding had failed
  d = Desc(p, kFormatJpeg);
  ASSERT_TRUE(pair.Append(d, jpeg.data(), jpeg.size()).ok());

  ViewerSession viewer;
  ASSERT_TRUE(viewer.Open(dir.file("k.dsc")));
  PictureLoader loader(codec);
  FrameDescriptor got;
  EXPECT_EQ(viewer.Prepare(1, got), ViewerSession::Check::NotAPicture);
  TPicture shown = Pattern(32, 16, 5);
  const TPicture before = shown;
  ASSERT_EQ(viewer.Prepare(2, got), ViewerSession::Check::Show);
  EXPECT_EQ(loader.Load(viewer.Reader(), got, shown, true), PictureLoader::NoData);
  EXPECT_TRUE(shown == before);
  // A coded picture longer than the read buffer is skipped, not read.
  ASSERT_EQ(viewer.Prepare(3, got), ViewerSession::Check::Show);
  got.length = static_cast<std::int32_t>(kReadBufferSize) + 1;
  EXPECT_EQ(loader.Load(viewer.Reader(), got, shown, true), PictureLoader::TooLong);
  EXPECT_TRUE(shown == before);
  // A length beyond the end of the .bin.
  got.length = 5000;
  EXPECT_EQ(loader.Load(viewer.Reader(), got, shown, true), PictureLoader::ReadFailed);
  // Damaged JPEG: the picture stays as it was.
  got.length = 100;
  EXPECT_EQ(loader.Load(viewer.Reader(), got, shown, true), PictureLoader::DecodeFailed);
  EXPECT_TRUE(shown == before);
  // An impossible size in the descriptor allocates nothing.
  got.width = 32767;
  got.height = 32767;
  EXPECT_EQ(loader.Load(viewer.Reader(), got, shown, true), PictureLoader::BadSize);
  EXPECT_TRUE(shown == before);
}

TEST(Viewer, OpeningLimits) {
  TempDir dir;
  ViewerSession viewer;
  EXPECT_FALSE(viewer.Open(dir.file("none.dsc")));
  // 0 records: opens, the slider stays at 1.
  test::WriteFile(dir.file("e.dsc"), "");
  test::WriteFile(dir.file("e.bin"), "");
  viewer.nav.maximum = 1;
  ASSERT_TRUE(viewer.Open(dir.file("e.dsc")));
  EXPECT_EQ(viewer.nav.value, 1);
  EXPECT_EQ(viewer.nav.maximum, 1);
  FrameDescriptor d;
  EXPECT_EQ(viewer.Prepare(1, d), ViewerSession::Check::OutOfRange);
  // .dsc without .bin: stays closed.
  test::WriteFile(dir.file("o.dsc"), "");
  EXPECT_FALSE(viewer.Open(dir.file("o.dsc")));
  EXPECT_FALSE(viewer.IsOpen());

  // 100 000 records open; 100 001 do not.
  test::WriteFile(dir.file("big.bin"), "");
  test::WriteFile(dir.file("big.dsc"), "");
  ASSERT_EQ(::truncate(dir.file("big.dsc").c_str(), 100000 * 52), 0);
  EXPECT_TRUE(viewer.Open(dir.file("big.dsc")));
  EXPECT_EQ(viewer.nav.maximum, 100000);
  ASSERT_EQ(::truncate(dir.file("big.dsc").c_str(), 100001 * 52), 0);
  EXPECT_FALSE(viewer.Open(dir.file("big.dsc")));
  EXPECT_FALSE(viewer.IsOpen());
  EXPECT_EQ(viewer.Index().Count(), 0);
}

TEST(Viewer, FollowsThePairBeingRecorded) {
  TempDir dir;
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(dir.file("live.dsc")));
  ViewerSession viewer;
  ASSERT_TRUE(viewer.Open(pair.DscName()));
  EXPECT_EQ(viewer.Index().Count(), 0);
  std::vector<std::uint8_t> pic(100, 1);
  for (int i = 1; i <= 5; ++i) {
    FrameDescriptor d;
    d.changeLevel = i * 10;
    AppendResult r = pair.Append(d, pic.data(), pic.size());
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(viewer.FollowRecorder(r.recordNumber));
    EXPECT_EQ(viewer.Index().Count(), i);
    EXPECT_EQ(viewer.nav.maximum, i);
    EXPECT_EQ(viewer.nav.value, 1);  // the picture shown moves only with the slider
  }
  EXPECT_EQ(viewer.Index().Levels(), (std::vector<std::int32_t>{10, 20, 30, 40, 50}));

  // A wrapping recording rewrites record 1: the index follows.
  pair.SetVolumePolicy({5 * (100 + 52), VolumeLimitAction::Wrap});
  FrameDescriptor d;
  d.changeLevel = 99;
  AppendResult r = pair.Append(d, pic.data(), pic.size());
  ASSERT_TRUE(r.ok());
  ASSERT_TRUE(r.wrapped);
  EXPECT_TRUE(viewer.FollowRecorder(r.recordNumber));
  EXPECT_EQ(viewer.Index().Levels(), (std::vector<std::int32_t>{99, 20, 30, 40, 50}));
}

TEST(ChangeGraph, PeakPerColumnWithTheEventPartInRed) {
  // W = 6 gives slices of 4 records over 4 columns; y(p) = 26 - p * 25 div 100.
  const std::vector<std::int32_t> levels{10, 50, 0, 90};
  const ChangeGraph g = ComputeChangeGraph(levels, 6, 27, 40);
  EXPECT_EQ(g.thresholdY, 16);
  ASSERT_EQ(g.columns.size(), 5u);
  const int tops[] = {14, 14, 4, 4, 26};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(g.columns[i].x, i + 1);
    EXPECT_EQ(g.columns[i].top, tops[i]) << i;
    EXPECT_EQ(g.columns[i].red, tops[i] < 16) << i;
    if (g.columns[i].red) {
      EXPECT_EQ(g.columns[i].redFrom, 16);
    }
  }
  EXPECT_EQ(g.thresholdPen, PenColor::Navy);  // the last column had no red part
  // Empty index: only the threshold line, in the black pen.
  EXPECT_TRUE(ComputeChangeGraph({}, 484, 27, 1.2).columns.empty());
  EXPECT_EQ(ComputeChangeGraph({}, 484, 27, 1.2).thresholdPen, PenColor::Black);
  // Too narrow for slices: no division by zero.
  EXPECT_TRUE(ComputeChangeGraph(levels, 2, 27, 1.2).columns.empty());
  // Many records per column: the peak wins.
  std::vector<std::int32_t> many(100000, 1);
  many[54321] = 77;
  const ChangeGraph wide = ComputeChangeGraph(many, 484, 27, 100);
  int peaks = 0;
  for (const auto& c : wide.columns) peaks += c.top == 26 - 77 * 25 / 100;
  EXPECT_EQ(peaks, 1);
}

TEST(PlaybackNav, ButtonsAndTimer) {
  PlaybackNav nav;
  nav.maximum = 3;
  EXPECT_FALSE(nav.PrevCadrClick());  // stays at 1
  EXPECT_EQ(nav.value, 1);
  EXPECT_TRUE(nav.NextCadrClick());
  EXPECT_TRUE(nav.NextCadrClick());
  EXPECT_FALSE(nav.NextCadrClick());  // stays at the maximum
  EXPECT_EQ(nav.value, 3);

  // Playing forward from the last record stops at once.
  nav.ForwardButtonClick(true, 20);
  EXPECT_EQ(nav.timerIntervalMs, 50u);
  EXPECT_TRUE(nav.timerEnabled);
  EXPECT_EQ(nav.forwardCaption, "Стоп");
  EXPECT_FALSE(nav.Timer2Timer());
  EXPECT_FALSE(nav.timerEnabled);
  EXPECT_FALSE(nav.forwardDown);
  EXPECT_EQ(nav.forwardCaption, ">>");

  // Backward play steps down to 1 and stops; pressing it releases forward.
  nav.ForwardButtonClick(true, 20);
  nav.BackwardButtonClick(true, 3);
  EXPECT_FALSE(nav.forwardDown);
  EXPECT_EQ(nav.forwardCaption, ">>");
  EXPECT_EQ(nav.backwardCaption, "Стоп");
  EXPECT_EQ(nav.timerIntervalMs, 333u);
  EXPECT_TRUE(nav.Timer2Timer());
  EXPECT_TRUE(nav.Timer2Timer());
  EXPECT_EQ(nav.value, 1);
  EXPECT_FALSE(nav.Timer2Timer());
  EXPECT_FALSE(nav.timerEnabled);
  EXPECT_EQ(nav.backwardCaption, "<<");

  // A step button stops playback.
  nav.ForwardButtonClick(true, 20);
  EXPECT_TRUE(nav.NextCadrClick());
  EXPECT_FALSE(nav.timerEnabled);
  EXPECT_FALSE(nav.forwardDown);

  EXPECT_EQ(PlaybackIntervalMs(20), 50u);
  EXPECT_EQ(PlaybackIntervalMs(0.001), 1000000u);
  EXPECT_EQ(PlaybackIntervalMs(16), 62u);  // 62.5 rounds to even
  EXPECT_EQ(PlaybackIntervalMs(0), 0u);
  nav.ViewFreqChange(0);  // ignored, the interval stays
  EXPECT_EQ(nav.timerIntervalMs, 50u);
}

}  // namespace
}  // namespace zv
