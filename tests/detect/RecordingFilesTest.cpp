// The ".bin"/".dsc" pair on real files: descriptor layout, numbering,
// repair of a torn descriptor file, failures reported, volume limits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

#include "app/Picture.h"
#include "detect/RecordingFiles.h"
#include "support/TempDir.h"

namespace zv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(FrameDescriptor, GoldenBytes) {
  FrameDescriptor d;
  d.recordNumber = 0x01020304;
  d.captureTime = 45000.5;
  d.width = 352;
  d.height = 288;
  d.offset = 0x11223344;
  d.colored = true;
  d.changeLevel = 0x7F;
  d.length = 304128;
  d.kind = 0;
  d.format = 2;
  d.camera = 3;
  d.object = 200;
  d.gaugeAlarmMask = 0xA5;
  d.gaugeEnabledMask = 0x5A;
  d.defence = true;
  const std::uint8_t golden[52] = {
      0x04, 0x03, 0x02, 0x01,                          // record number
      0x00, 0x00, 0x00, 0x00, 0x10, 0xF9, 0xE5, 0x40,  // 45000.5
      0x60, 0x01, 0x20, 0x01,                          // 352, 288
      0x44, 0x33, 0x22, 0x11,                          // offset
      0x00, 0x00, 0x00, 0x00,                          // reserved
      0x01, 0x00, 0x00, 0x00,                          // colour, reserved
      0x7F, 0x00, 0x00, 0x00,                          // change level
      0x00, 0x00, 0x00, 0x00,                          // reserved
      0x00, 0xA4, 0x04, 0x00,                          // length 304128
      0x00, 0x02, 0x03, 0xC8, 0xA5, 0x5A, 0x00, 0x01,  // kind .. defence
      0x00, 0x00, 0x00, 0x00};
  const DescriptorBytes b = EncodeDescriptor(d);
  for (int i = 0; i < 52; ++i) EXPECT_EQ(b[i], golden[i]) << "byte " << i;
  EXPECT_EQ(DecodeDescriptor(golden), d);

  // Negative values survive; any non-zero boolean byte reads as true;
  // reserved bytes are ignored.
  FrameDescriptor n;
  n.recordNumber = -5;
  n.width = -1;
  n.height = -32768;
  n.offset = -2;
  n.changeLevel = -100;
  n.captureTime = -1.25;
  DescriptorBytes nb = EncodeDescriptor(n);
  EXPECT_EQ(DecodeDescriptor(nb.data()), n);
  nb[dsc::kColored] = 7;
  nb[dsc::kDefence] = 0xFF;
  nb[20] = nb[46] = nb[50] = 0x99;
  const FrameDescriptor back = DecodeDescriptor(nb.data());
  EXPECT_TRUE(back.colored);
  EXPECT_TRUE(back.defence);
  EXPECT_EQ(back.offset, -2);
}

TEST(RecordingNames, ExtensionIsReplaced) {
  EXPECT_EQ(DscNameFor("Video.dsc"), "Video.dsc");
  EXPECT_EQ(DscNameFor("/rec/Video.avi"), "/rec/Video.dsc");
  EXPECT_EQ(DscNameFor("/rec.d/Video"), "/rec.d/Video.dsc");
  EXPECT_EQ(DscNameFor("a.b.c"), "a.b.dsc");
  EXPECT_EQ(BinNameFor("/rec/Video.dsc"), "/rec/Video.bin");
  EXPECT_EQ(VolumeLimitBytes(100), 104857600);
  EXPECT_EQ(VolumeLimitBytes(0), 0);
  EXPECT_EQ(VolumeLimitBytes(-3), 0);
}

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t v) {
  return std::vector<std::uint8_t>(n, v);
}

FrameDescriptor Desc(int level = 0) {
  FrameDescriptor d;
  d.width = 352;
  d.height = 288;
  d.changeLevel = level;
  return d;
}

TEST(RecordingPair, NumberingOffsetsAndReopen) {
  TempDir dir;
  const std::string name = dir.file("rec.avi");  // any extension becomes .dsc
  RecordingPair pair;
  ASSERT_FALSE(pair.OpenExisting(name));  // neither file exists yet
  EXPECT_FALSE(pair.IsOpen());
  ASSERT_TRUE(pair.OpenOrCreate(name));
  EXPECT_EQ(pair.DscName(), dir.file("rec.dsc"));
  EXPECT_EQ(pair.BinName(), dir.file("rec.bin"));

  TPicture raw(352, 288);
  EXPECT_EQ(raw.SizeBytes(), 304128u);
  FrameDescriptor d = Desc(5);
  AppendResult r = pair.Append(d, raw.Data(), raw.SizeBytes());
  ASSERT_TRUE(r.ok()) << r.reason;
  EXPECT_EQ(d.recordNumber, 1);
  EXPECT_EQ(d.offset, 0);
  EXPECT_EQ(d.length, 304128);
  auto jpeg = Bytes(1234, 7);
  FrameDescriptor d2 = Desc();
  d2.format = kFormatJpeg;
  ASSERT_TRUE(pair.Append(d2, jpeg.data(), jpeg.size()).ok());
  EXPECT_EQ(d2.recordNumber, 2);
  EXPECT_EQ(d2.offset, 304128);
  // A failed encoding: descriptor with length 0, nothing in the .bin.
  FrameDescriptor d3 = Desc();
  ASSERT_TRUE(pair.Append(d3, nullptr, 0).ok());
  EXPECT_EQ(d3.length, 0);
  EXPECT_EQ(d3.offset, 304128 + 1234);
  pair.Close();
  EXPECT_EQ(std::filesystem::file_size(dir.file("rec.bin")), 304128u + 1234u);
  EXPECT_EQ(std::filesystem::file_size(dir.file("rec.dsc")), 3u * 52u);

  // Reopened by name, numbering continues from the file's record count.
  ASSERT_TRUE(pair.OpenExisting(dir.file("rec.dsc")));
  FrameDescriptor d4 = Desc();
  ASSERT_TRUE(pair.Append(d4, jpeg.data(), jpeg.size()).ok());
  EXPECT_EQ(d4.recordNumber, 4);
  EXPECT_EQ(d4.offset, 304128 + 1234);

  RecordingReader reader;
  ASSERT_TRUE(reader.Open(dir.file("rec.dsc")));
  ASSERT_EQ(reader.RecordCount(), 4);
  for (int n = 1; n <= 4; ++n) {
    FrameDescriptor got;
    ASSERT_TRUE(reader.ReadDescriptor(n, got));
    EXPECT_EQ(got.recordNumber, n);
  }
  FrameDescriptor got;
  EXPECT_FALSE(reader.ReadDescriptor(5, got));
  EXPECT_FALSE(reader.ReadDescriptor(0, got));
  std::vector<std::int32_t> levels;
  ASSERT_TRUE(reader.ReadChangeLevels(1, 4, levels));
  EXPECT_EQ(levels, (std::vector<std::int32_t>{5, 0, 0, 0}));
}

TEST(RecordingPair, MissingBinIsCreatedOnlyByTheRecordButton) {
  TempDir dir;
  WriteFile(dir.file("a.dsc"), "");
  RecordingPair pair;
  EXPECT_FALSE(pair.OpenExisting(dir.file("a.dsc")));
  EXPECT_FALSE(pair.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(dir.file("a.bin")));
  ASSERT_TRUE(pair.OpenOrCreate(dir.file("a.dsc")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("a.bin")));
  EXPECT_EQ(pair.RecordCount(), 0);
}

TEST(RecordingPair, TornDescriptorFileIsCutBackToWholeRecords) {
  TempDir dir;
  const std::string name = dir.file("t.dsc");
  {
    RecordingPair pair;
    ASSERT_TRUE(pair.OpenOrCreate(name));
    auto pic = Bytes(100, 1);
    for (int i = 0; i < 2; ++i) {
      FrameDescriptor d = Desc();
      ASSERT_TRUE(pair.Append(d, pic.data(), pic.size()).ok());
    }
  }
  // A crash in the middle of the third descriptor.
  WriteFile(name, ReadFile(name) + std::string(20, '\x33'));
  RecordingReader reader;
  ASSERT_TRUE(reader.Open(name));
  EXPECT_EQ(reader.RecordCount(), 2);  // the torn tail is not a record

  RecordingPair pair;
  ASSERT_TRUE(pair.OpenExisting(name));
  EXPECT_EQ(pair.RepairedBytes(), 20);
  EXPECT_EQ(std::filesystem::file_size(name), 104u);
  auto pic = Bytes(50, 2);
  FrameDescriptor d = Desc();
  ASSERT_TRUE(pair.Append(d, pic.data(), pic.size()).ok());
  EXPECT_EQ(d.recordNumber, 3);
  FrameDescriptor back;
  ASSERT_TRUE(reader.ReadDescriptor(3, back));
  EXPECT_EQ(back.recordNumber, 3);
  EXPECT_EQ(back.offset, 200);
  EXPECT_EQ(back.length, 50);
}

TEST(RecordingPair, OpenFailuresAreReportedAndLeaveNothingOpen) {
  TempDir dir;
  RecordingPair pair;
  // A folder that does not exist.
  IoResult r = pair.OpenOrCreate(dir.file("missing/x.dsc"));
  EXPECT_FALSE(r);
  EXPECT_NE(r.reason.find("x.dsc"), std::string::npos) << r.reason;
  EXPECT_FALSE(pair.IsOpen());
  // The .dsc can be created but the .bin cannot be opened for writing.
  std::filesystem::create_directory(dir.file("y.bin"));
  r = pair.OpenOrCreate(dir.file("y.dsc"));
  EXPECT_FALSE(r);
  EXPECT_NE(r.reason.find("y.bin"), std::string::npos) << r.reason;
  EXPECT_FALSE(pair.IsOpen());
  FrameDescriptor d = Desc();
  EXPECT_EQ(pair.Append(d, nullptr, 0).status, AppendResult::NotOpen);

  // A second writer of the same pair is refused; a reader is not.
  RecordingPair first, second;
  ASSERT_TRUE(first.OpenOrCreate(dir.file("z.dsc")));
  EXPECT_FALSE(second.OpenOrCreate(dir.file("z.dsc")));
  RecordingReader reader;
  EXPECT_TRUE(reader.Open(dir.file("z.dsc")));
  first.Close();
  EXPECT_TRUE(second.OpenOrCreate(dir.file("z.dsc")));
}

TEST(RecordingPair, FailedWritesAreReportedOnceAndLeaveNoDescriptor) {
  TempDir dir;
  // Every write to the .bin fails with "no space left on device".
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_EQ(::symlink("/dev/full", dir.file("f.bin").c_str()), 0);
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(dir.file("f.dsc")));
  auto pic = Bytes(1000, 9);
  FrameDescriptor d = Desc();
  AppendResult r = pair.Append(d, pic.data(), pic.size());
  EXPECT_EQ(r.status, AppendResult::WriteFailed);
  EXPECT_TRUE(r.reportNow);
  EXPECT_NE(r.reason.find("f.bin"), std::string::npos) << r.reason;
  r = pair.Append(d, pic.data(), pic.size());
  EXPECT_EQ(r.status, AppendResult::WriteFailed);
  EXPECT_FALSE(r.reportNow);  // the same run of failures
  EXPECT_EQ(pair.RecordCount(), 0);
  // A record without picture data still goes through; the next failure is new.
  ASSERT_TRUE(pair.Append(d, nullptr, 0).ok());
  EXPECT_TRUE(pair.Append(d, pic.data(), pic.size()).reportNow);
  EXPECT_EQ(pair.RecordCount(), 1);
}

TEST(RecordingPair, OffsetsNeverPassTheDescriptorsRange) {
  // Offsets are signed 32-bit: a picture that would end past 2 GiB - 1 is
  // refused instead of writing a wrapped offset.
  TempDir dir;
  test::WriteFile(dir.file("g.dsc"), "");
  test::WriteFile(dir.file("g.bin"), "");
  ASSERT_EQ(::truncate(dir.file("g.bin").c_str(), 0x7FFFFF00), 0);  // sparse
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenExisting(dir.file("g.dsc")));
  auto pic = Bytes(0x80, 1);
  FrameDescriptor d = Desc();
  ASSERT_TRUE(pair.Append(d, pic.data(), pic.size()).ok());
  EXPECT_EQ(d.offset, 0x7FFFFF00);
  AppendResult r = pair.Append(d, pic.data(), pic.size());
  EXPECT_EQ(r.status, AppendResult::WriteFailed);
  EXPECT_TRUE(r.reportNow);
  EXPECT_EQ(pair.RecordCount(), 1);
}

TEST(RecordingPair, VolumeLimitStop) {
  TempDir dir;
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(dir.file("s.dsc")));
  pair.SetVolumePolicy({3 * (1000 + 52), VolumeLimitAction::Stop});
  auto pic = Bytes(1000, 1);
  for (int i = 0; i < 3; ++i) {
    FrameDescriptor d = Desc();
    ASSERT_TRUE(pair.Append(d, pic.data(), pic.size()).ok());
  }
  FrameDescriptor d = Desc();
  AppendResult r = pair.Append(d, pic.data(), pic.size());
  EXPECT_EQ(r.status, AppendResult::StoppedByLimit);
  EXPECT_TRUE(r.reportNow);
  EXPECT_FALSE(r.reason.empty());
  EXPECT_EQ(pair.RecordCount(), 3);
  EXPECT_EQ(std::filesystem::file_size(dir.file("s.bin")), 3000u);
  // Records without picture data still fit until the descriptors fill the limit.
  pair.SetVolumePolicy({3 * (1000 + 52) + 52, VolumeLimitAction::Stop});
  EXPECT_TRUE(pair.Append(d, nullptr, 0).ok());
  EXPECT_EQ(pair.Append(d, nullptr, 0).status, AppendResult::StoppedByLimit);
}

TEST(RecordingPair, VolumeLimitNextFile) {
  TempDir dir;
  WriteFile(dir.file("n_1.bin"), "someone else's");  // taken: skipped
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(dir.file("n.dsc")));
  pair.SetVolumePolicy({2 * (500 + 52), VolumeLimitAction::NextFile});
  auto pic = Bytes(500, 4);
  std::vector<std::string> names;
  for (int i = 0; i < 5; ++i) {
    FrameDescriptor d = Desc();
    AppendResult r = pair.Append(d, pic.data(), pic.size());
    ASSERT_TRUE(r.ok()) << r.reason;
    EXPECT_EQ(r.switchedFile, i == 2 || i == 4);
    EXPECT_EQ(d.recordNumber, i % 2 + 1);
    EXPECT_EQ(d.offset, i % 2 * 500);
    names.push_back(pair.DscName());
  }
  EXPECT_EQ(names[0], dir.file("n.dsc"));
  EXPECT_EQ(names[2], dir.file("n_2.dsc"));
  EXPECT_EQ(names[4], dir.file("n_3.dsc"));
  EXPECT_EQ(ReadFile(dir.file("n_1.bin")), "someone else's");
  EXPECT_EQ(std::filesystem::file_size(dir.file("n.dsc")), 104u);
  // A picture larger than the whole limit can never fit: stop.
  auto big = Bytes(5000, 1);
  FrameDescriptor d = Desc();
  EXPECT_EQ(pair.Append(d, big.data(), big.size()).status, AppendResult::StoppedByLimit);
}

// Every picture record must point at its own picture: record n is at
// position n, its bytes lie inside the .bin and are the ones written for it.
void CheckWrappedPair(const std::string& name, std::int64_t limit, int& shown) {
  RecordingReader reader;
  ASSERT_TRUE(reader.Open(name));
  const auto binSize = static_cast<std::int64_t>(std::filesystem::file_size(BinNameFor(name)));
  const std::int32_t count = reader.RecordCount();
  EXPECT_LE(binSize + count * 52, limit);
  shown = 0;
  for (std::int32_t n = 1; n <= count; ++n) {
    FrameDescriptor d;
    ASSERT_TRUE(reader.ReadDescriptor(n, d));
    ASSERT_EQ(d.recordNumber, n);
    if (d.kind != kKindPicture) continue;
    ++shown;
    ASSERT_GE(d.offset, 0);
    ASSERT_LE(d.offset + d.length, binSize);
    std::vector<std::uint8_t> pic(static_cast<std::size_t>(d.length));
    ASSERT_TRUE(reader.ReadPicture(d.offset, pic.data(), pic.size()));
    for (auto b : pic) ASSERT_EQ(b, static_cast<std::uint8_t>(d.changeLevel)) << "record " << n;
  }
}

TEST(RecordingPair, VolumeLimitWrapKeepsRecordsAtTheirPositions) {
  TempDir dir;
  const std::string name = dir.file("w.dsc");
  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(name));
  const std::int64_t limit = 20000;
  pair.SetVolumePolicy({limit, VolumeLimitAction::Wrap});
  std::mt19937 rng(3);
  int wraps = 0;
  for (int id = 1; id <= 300; ++id) {
    // Sizes vary so that later pictures overlap several older ones.
    auto pic = Bytes(200 + rng() % 2500, static_cast<std::uint8_t>(id));
    FrameDescriptor d = Desc(id % 256);
    AppendResult r = pair.Append(d, pic.data(), pic.size());
    ASSERT_TRUE(r.ok()) << r.reason;
    wraps += r.wrapped;
    if (r.wrapped) {
      EXPECT_EQ(d.recordNumber, 1);
    }
    if (id % 25 == 0) {
      int shown = 0;
      CheckWrappedPair(name, limit, shown);
      EXPECT_GT(shown, 0);
    }
  }
  EXPECT_GT(wraps, 5);
}

// A pair that has gone round, closed (a restart, or chosen again) and opened
// again goes on after its newest record: the newest survive, the oldest go
// first.  A clock set back in the middle of the last round does not mislead it.
TEST(RecordingPair, ReopenedWrapPairGoesOnAfterItsNewestRecord) {
  TempDir dir;
  const std::string name = dir.file("ring.dsc");
  const std::int64_t limit = 20000;
  std::mt19937 rng(7);
  auto append = [&](RecordingPair& pair, int id, double time) {
    auto pic = Bytes(300 + rng() % 2000, static_cast<std::uint8_t>(id));
    FrameDescriptor d = Desc(id);
    d.captureTime = time;
    const AppendResult r = pair.Append(d, pic.data(), pic.size());
    EXPECT_TRUE(r.ok()) << r.reason;
    return d.recordNumber;
  };
  std::map<int, std::int32_t> slotOf;  // id -> record number
  {
    RecordingPair pair;
    ASSERT_TRUE(pair.OpenOrCreate(name));
    pair.SetVolumePolicy({limit, VolumeLimitAction::Wrap});
    // The clock is set back a little (summer time ends) from id 58 on,
    // inside the round that is written last.
    for (int id = 1; id <= 60; ++id) slotOf[id] = append(pair, id, id < 58 ? id : id - 3.5);
  }
  ASSERT_GT(slotOf[60], 1);  // gone round, and not just at its start
  int shown = 0;
  CheckWrappedPair(name, limit, shown);

  RecordingPair pair;
  ASSERT_TRUE(pair.OpenOrCreate(name));
  pair.SetVolumePolicy({limit, VolumeLimitAction::Wrap});
  const std::int32_t next = append(pair, 61, 100);
  EXPECT_EQ(next, slotOf[60] + 1);
  append(pair, 62, 101);
  CheckWrappedPair(name, limit, shown);
  // The newest records of the first run are still there, whole.
  RecordingReader reader;
  ASSERT_TRUE(reader.Open(name));
  for (int id = 58; id <= 60; ++id) {
    FrameDescriptor d;
    ASSERT_TRUE(reader.ReadDescriptor(slotOf[id], d));
    EXPECT_EQ(d.kind, kKindPicture) << id;
    EXPECT_EQ(d.changeLevel, id);
  }
}

}  // namespace
}  // namespace zv
