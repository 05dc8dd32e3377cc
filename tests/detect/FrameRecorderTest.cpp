// The processing tick's work on frames from a fake capture, with a fake
// clock: levels, recording decisions, beeps, the pair written, and a viewer
// following the recording live.
#include <gtest/gtest.h>

#include <random>

#include "detect/FrameRecorder.h"
#include "detect/Rounding.h"
#include "detect/Viewer.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace zv {
namespace {

// A grey scene with sensor noise; a bright 40 x 40 block moves when asked.
class FakeCapture {
 public:
  TPicture Frame(int blockX) {
    TPicture p(352, 288);
    for (auto& b : p.Bytes()) b = static_cast<std::uint8_t>(100 + rng_() % 9);
    if (blockX >= 0)
      for (int y = 100; y < 140; ++y)
        for (int x = blockX; x < blockX + 40; ++x)
          for (int k = 0; k < 3; ++k) p.ScreenRow(y)[3 * x + k] = 230;
    return p;
  }

 private:
  std::mt19937 rng_{11};
};

TEST(FrameRecorder, RecordsOnChangeAndTheViewerFollows) {
  test::FakeLoop loop;
  test::TempDir dir;
  JpegCodec codec;
  FrameRecorder recorder(codec);
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(dir.file("cycle.dsc")));
  ViewerSession viewer;
  ASSERT_TRUE(viewer.Open(pair.DscName()));

  DetectState cam;
  cam.zones.UpdateFrameGeometry(352, 288);
  cam.zones.SetAll(true);
  cam.recordingMode = kRecordOnChange;
  cam.ignoreChangesPercent = 1;  // rounds to 1: still frames are not recorded
  cam.changesEventPercent = 1.2;
  cam.colored = true;
  RecordSettings settings;
  DescriptorStatus status{0x21, 0xFF, true};
  FakeCapture capture;

  std::vector<int> levels;
  std::vector<TDateTime> times;
  int beeps = 0, lastLevel = -1;
  for (int tick = 0; tick < 20; ++tick) {
    // The block stands still for ticks 5..9 and is absent after 15.
    const int x = tick >= 15 ? -1 : (tick >= 5 && tick < 10 ? 100 : 10 + tick * 15);
    cam.current = capture.Frame(x);
    FrameResult r =
        recorder.ProcessFrame(cam, 2, 352, 288, 32, loop.clock.Now(), pair, settings, status);
    EXPECT_EQ(r.compared, tick > 0);
    if (tick == 0) {
      EXPECT_EQ(r.level, 0);
    } else {
      const bool still = (tick >= 6 && tick < 10) || tick >= 16;
      EXPECT_EQ(r.level > 0, !still) << tick << " level " << r.level;
    }
    lastLevel = r.level;
    EXPECT_EQ(r.recorded, r.level >= 1);
    if (r.recorded) {
      ASSERT_TRUE(r.write.ok()) << r.write.reason;
      levels.push_back(r.level);
      times.push_back(loop.clock.Now());
      beeps += r.beep;
      EXPECT_EQ(r.beep, r.level >= 1);  // Round(1.2) = 1
      EXPECT_TRUE(viewer.FollowRecorder(r.write.recordNumber));
      EXPECT_EQ(viewer.nav.maximum, static_cast<int>(levels.size()));
    }
    loop.clock.AdvanceMs(600);  // 100 frames a minute
  }
  EXPECT_EQ(cam.frameCounter, 21);
  EXPECT_EQ(cam.changeValue, lastLevel);
  EXPECT_EQ(beeps, static_cast<int>(levels.size()));
  ASSERT_GE(levels.size(), 10u);
  EXPECT_EQ(viewer.Index().Levels(), std::vector<std::int32_t>(levels.begin(), levels.end()));

  // Every record plays back with its descriptor as the tick made it.
  PictureLoader loader(codec);
  for (std::int32_t n = 1; n <= viewer.Index().Count(); ++n) {
    FrameDescriptor d;
    ASSERT_EQ(viewer.Prepare(n, d), ViewerSession::Check::Show);
    EXPECT_EQ(d.recordNumber, n);
    EXPECT_EQ(d.camera, 2);
    EXPECT_EQ(d.format, kFormatJpeg);
    EXPECT_TRUE(d.colored);
    EXPECT_EQ(d.gaugeAlarmMask, 0x21);
    EXPECT_TRUE(d.defence);
    EXPECT_DOUBLE_EQ(d.captureTime, times[n - 1]);
    TPicture shown;
    ASSERT_EQ(loader.Load(viewer.Reader(), d, shown, true), PictureLoader::Loaded);
    EXPECT_EQ(shown.Width(), 352);
  }
}

TEST(FrameRecorder, ModesRawFramesAndAClosedPair) {
  test::TempDir dir;
  JpegCodec codec;
  FrameRecorder recorder(codec);
  RecordingPair pair;
  DetectState cam;
  cam.current = TPicture(352, 288);
  cam.recordingMode = kRecordAlways;
  RecordSettings raw;
  raw.compression = false;
  // No pair open: the decision is made, nothing is written.
  FrameResult r = recorder.ProcessFrame(cam, 1, 352, 288, 32, 45000, pair, raw, {});
  EXPECT_TRUE(r.recorded);
  EXPECT_EQ(r.write.status, AppendResult::NotOpen);
  EXPECT_EQ(cam.frameCounter, 2);

  ASSERT_TRUE(pair.OpenOrCreate(dir.file("raw.dsc")));
  r = recorder.ProcessFrame(cam, 1, 352, 288, 32, 45000, pair, raw, {});
  ASSERT_TRUE(r.write.ok());
  EXPECT_EQ(r.descriptor.length, 304128);
  EXPECT_EQ(r.descriptor.format, kFormatRaw);
  EXPECT_TRUE(r.compared);
  // Any mode other than 0 and 1 records nothing.
  cam.recordingMode = 5;
  r = recorder.ProcessFrame(cam, 1, 352, 288, 32, 45000, pair, raw, {});
  EXPECT_FALSE(r.recorded);
  EXPECT_EQ(pair.RecordCount(), 1);
  // Without an active zone the level is 0 and there is no beep.
  cam.recordingMode = kRecordAlways;
  cam.changesEventPercent = 0;
  cam.current = TPicture(352, 288);
  std::fill(cam.current.Bytes().begin(), cam.current.Bytes().end(), 255);
  r = recorder.ProcessFrame(cam, 1, 352, 288, 32, 45000, pair, raw, {});
  EXPECT_EQ(r.level, 0);
  EXPECT_FALSE(r.beep);
}

}  // namespace
}  // namespace zv
