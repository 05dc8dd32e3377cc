// Clip export from a recording pair, read back with FFmpeg's libraries.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <set>

#include "ClipProbe.h"
#include "detect/ClipExport.h"
#include "detect/ExportCommand.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "platform/FfmpegClipWriter.h"
#include "support/TempDir.h"

namespace zv::test {
namespace {

namespace fs = std::filesystem;

const TDateTime kStart = EncodeDateTime(DateTimeParts{2024, 3, 1, 10, 0, 0, 0});
constexpr double kSec = 1.0 / 86400.0;

// A dark picture with a bright block whose place tells the record, in the
// lower half (the time stamp goes top right): red for camera 1, blue for
// camera 2.
TPicture RecordPicture(int w, int h, int camera, int n) {
  TPicture p(w, h);
  for (int y = h / 2; y < h; ++y) {
    std::uint8_t* row = p.ScreenRow(y);
    for (int x = 0; x < w; ++x) {
      const bool block = x / 16 == n % (w / 16);
      row[x * 3 + (camera == 1 ? 2 : 0)] = block ? 250 : 90;
    }
  }
  return p;
}

struct Rec {
  int camera;
  double second;  // after kStart
  std::uint8_t format = kFormatJpeg;
  int w = 160, h = 120;
  std::uint8_t kind = kKindPicture;
  bool empty = false;  // a JPEG that failed to encode: no bytes
  int object = 1;
};

// Writes the records into a new pair; returns the JPEG bytes of each record.
std::vector<std::vector<std::uint8_t>> MakePair(const std::string& name,
                                                const std::vector<Rec>& recs) {
  RecordingPair pair;
  EXPECT_TRUE(pair.OpenOrCreate(name));
  JpegCodec codec;
  std::vector<std::vector<std::uint8_t>> bytes;
  int n = 0;
  for (const Rec& r : recs) {
    const TPicture pic = RecordPicture(r.w, r.h, r.camera, n++);
    std::vector<std::uint8_t> data;
    if (r.format == kFormatRaw)
      data = pic.Bytes();
    else if (r.format == kFormatZlib)
      data = DeflatePicture(pic);
    else if (!r.empty) {
      auto span = codec.EncodePicture(pic, 80, true);
      data.assign(span.begin(), span.end());
    }
    FrameDescriptor d;
    d.captureTime = kStart + r.second * kSec;
    d.width = static_cast<std::int16_t>(r.w);
    d.height = static_cast<std::int16_t>(r.h);
    d.colored = true;
    d.camera = static_cast<std::uint8_t>(r.camera);
    d.object = static_cast<std::uint8_t>(r.object);
    d.format = r.format;
    d.kind = r.kind;
    EXPECT_TRUE(pair.Append(d, data.data(), data.size()).ok());
    bytes.push_back(data);
  }
  return bytes;
}

// The pair most tests use: irregular times, records out of time order (as
// after a wrap), every picture format, a record that is no picture, one
// without data and one of another size.
const std::vector<Rec> kMixed = {
    {1, 10.0},                                             // 0
    {2, 10.5},                                             // 1
    {1, 11.25},                                            // 2
    {1, 13.0, kFormatRaw},                                 // 3
    {1, 12.0},                                             // 4: written after 3, taken before it
    {1, 14.0, kFormatJpeg, 160, 120, kKindOverwritten},    // 5
    {1, 15.0, kFormatJpeg, 160, 120, kKindPicture, true},  // 6: no data
    {1, 16.5, kFormatZlib},                                // 7
    {1, 17.0, kFormatJpeg, 176, 144},                      // 8
    {2, 18.0},                                             // 9
    {1, 19.0, kFormatJpeg, 160, 120, kKindPicture, false, 2},  // 10: another site
};

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

class ClipExportTest : public ::testing::Test {
 protected:
  ClipExportResult Run(ClipExportRequest r, const ClipExporter::Progress& p = {}) {
    r.pairName = dir.file("rec.dsc");
    ClipExporter exporter(writers);
    return exporter.Export(r, p);
  }
  TempDir dir;
  FfmpegClipWriterFactory writers;
};

TEST_F(ClipExportTest, MjpegCopyKeepsTheRecordsBytesAndCaptureTimes) {
  const auto bytes = MakePair(dir.file("rec.dsc"), kMixed);
  ClipExportRequest r;
  r.camera = 1;
  r.object = 1;
  r.output = dir.file("cam1.mkv");
  std::vector<int> seen;
  const ClipExportResult res = Run(r, [&](const ClipExportProgress& p) {
    seen.push_back(p.done);
    EXPECT_EQ(p.total, 7);
    return true;
  });
  ASSERT_TRUE(res.ok()) << res.error;
  EXPECT_EQ(res.frames, 6);
  EXPECT_EQ(res.copied, 3);
  EXPECT_EQ(res.skipped, 1);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 7);

  ProbedClip clip;
  std::string error;
  ASSERT_TRUE(ProbeClip(r.output, clip, error, true)) << error;
  EXPECT_EQ(clip.container.find("matroska"), 0u);
  EXPECT_EQ(clip.videoCodec, "mjpeg");
  EXPECT_EQ(clip.width, 160);
  EXPECT_EQ(clip.height, 120);
  // Records 0, 2, 4, 3, 7, 8 in time order, at their capture times.
  const std::vector<std::int64_t> ms = {0, 1250, 2000, 3000, 6500, 7000};
  EXPECT_EQ(clip.videoMs, ms);
  ASSERT_EQ(clip.videoPackets.size(), 6u);
  EXPECT_EQ(clip.videoPackets[0], bytes[0]);  // copied, not coded again
  EXPECT_EQ(clip.videoPackets[1], bytes[2]);
  EXPECT_EQ(clip.videoPackets[2], bytes[4]);
  ASSERT_EQ(clip.pictures.size(), 6u);
  for (const TPicture& p : clip.pictures) {
    EXPECT_EQ(p.Width(), 160);
    EXPECT_EQ(p.Height(), 120);
  }
  // The raw record (3) and the zlib one (7) carry their pictures: the block
  // of record n at x = 16 n.
  EXPECT_GT(clip.pictures[3].ScreenRow(100)[3 * (16 * 3 + 8) + 2], 200);
  EXPECT_GT(clip.pictures[4].ScreenRow(100)[3 * (16 * 7 + 8) + 2], 200);

  // The times as subtitles, each shown until the next picture.
  ASSERT_EQ(clip.texts.size(), 6u);
  EXPECT_EQ(clip.texts[0], "01.03.2024 10:00:10");
  EXPECT_EQ(clip.texts[1], "01.03.2024 10:00:11");
  EXPECT_EQ(clip.textMs, ms);
  EXPECT_EQ(clip.textDurationMs[0], 1250);
  EXPECT_EQ(clip.textDurationMs[5], 500);  // the last lasts as long as the one before
  EXPECT_NE(clip.title.find("Камера 1"), std::string::npos) << clip.title;

  // Nothing but the pair and the clip in the folder.
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"rec.dsc", "rec.bin", "cam1.mkv"}));
}

TEST_F(ClipExportTest, RangeCameraAndSiteChooseTheRecords) {
  MakePair(dir.file("rec.dsc"), kMixed);
  ClipExportRequest r;
  r.camera = 1;
  r.from = kStart + 11.25 * kSec;  // both ends taken in
  r.to = kStart + 13.0 * kSec;
  r.output = dir.file("a.mkv");
  ClipExportResult res = Run(r);
  ASSERT_TRUE(res.ok()) << res.error;
  EXPECT_EQ(res.frames, 3);

  r.from.reset();
  r.to.reset();
  r.camera = 2;
  r.output = dir.file("b.mkv");
  res = Run(r);
  ASSERT_TRUE(res.ok()) << res.error;
  ProbedClip clip;
  std::string error;
  ASSERT_TRUE(ProbeClip(r.output, clip, error)) << error;
  EXPECT_EQ(clip.videoMs, (std::vector<std::int64_t>{0, 7500}));

  // Any site: camera 1 of site 2 joins in.
  r.camera = 1;
  r.output = dir.file("c.mkv");
  res = Run(r);
  EXPECT_EQ(res.frames, 7);
  r.object = 2;
  res = Run(r);
  EXPECT_EQ(res.frames, 1);
}

TEST_F(ClipExportTest, H264HasEveryRecordAtItsTimeWithTheTimeDrawnIn) {
  MakePair(dir.file("rec.dsc"), kMixed);
  ClipExportRequest r;
  r.camera = 1;
  r.object = 1;
  r.h264 = true;
  r.output = dir.file("cam1.mp4");
  const ClipExportResult res = Run(r);
  ASSERT_TRUE(res.ok()) << res.error;
  EXPECT_EQ(res.frames, 6);
  EXPECT_EQ(res.copied, 0);

  ProbedClip clip;
  std::string error;
  ASSERT_TRUE(ProbeClip(r.output, clip, error, true)) << error;
  EXPECT_NE(clip.container.find("mp4"), std::string::npos);
  EXPECT_EQ(clip.videoCodec, "h264");
  EXPECT_EQ(clip.videoMs, (std::vector<std::int64_t>{0, 1250, 2000, 3000, 6500, 7000}));
  ASSERT_EQ(clip.pictures.size(), 6u);
  // The stamp, green on the dark top of the picture: about 113 x 7 pixels
  // ending 2 pixels from the right edge.
  for (const TPicture& p : clip.pictures) {
    ASSERT_EQ(p.Width(), 160);
    double green = 0, other = 0;
    for (int y = 2; y < 9; ++y)
      for (int x = 46; x < 158; ++x) {
        green += p.ScreenRow(y)[x * 3 + 1];
        other += p.ScreenRow(y)[x * 3 + 2] + p.ScreenRow(y)[x * 3];
      }
    EXPECT_GT(green / (7 * 112), 20.0);
    EXPECT_LT(other / (2 * 7 * 112), 15.0);
    // Left of it the top stays dark.
    EXPECT_LT(p.ScreenRow(5)[10 * 3 + 1], 20);
  }
}

TEST_F(ClipExportTest, AllCamerasAreTiledAndEveryRecordIsAPicture) {
  MakePair(dir.file("rec.dsc"), {{1, 0.0}, {2, 1.0}, {1, 2.0}, {3, 3.0, kFormatRaw}});
  ClipExportRequest r;
  r.camera = kAllCameras;
  r.output = dir.file("all.mkv");
  const ClipExportResult res = Run(r);
  ASSERT_TRUE(res.ok()) << res.error;
  ProbedClip clip;
  std::string error;
  ASSERT_TRUE(ProbeClip(r.output, clip, error, true)) << error;
  // Three cameras: two by two tiles of 160 x 120.
  EXPECT_EQ(clip.width, 320);
  EXPECT_EQ(clip.height, 240);
  EXPECT_EQ(clip.videoMs, (std::vector<std::int64_t>{0, 1000, 2000, 3000}));
  ASSERT_EQ(clip.pictures.size(), 4u);
  auto at = [&](int frame, int x, int y) { return clip.pictures[frame].ScreenRow(y) + x * 3; };
  // Camera 1 top left (red), camera 2 top right (blue) from its first record
  // on, camera 3 bottom left; a tile keeps its last picture.
  EXPECT_GT(at(0, 40, 100)[2], 60);
  EXPECT_LT(at(0, 200, 100)[0], 30);
  EXPECT_GT(at(1, 200, 100)[0], 60);
  EXPECT_GT(at(3, 40, 100)[2], 60);
  EXPECT_GT(at(3, 200, 100)[0], 60);
  EXPECT_GT(at(3, 40, 220)[0], 60);
  EXPECT_LT(at(2, 40, 220)[0], 30);
  // Each tile has its own time drawn in, at its own top right.
  double green = 0;
  for (int y = 2; y < 9; ++y)
    for (int x = 206; x < 318; ++x) green += at(1, x, y)[1];
  EXPECT_GT(green / (7 * 112), 20.0);
}

// A writer that fails on its third picture, as a full disk would.
class FailingWriter final : public IClipWriter {
 public:
  bool Open(const std::string& path, const ClipWriterConfig& c) override {
    return real.Open(path, c);
  }
  bool WriteJpeg(const std::uint8_t* d, std::size_t n, std::int64_t pts,
                 std::int64_t dur) override {
    return Count() && real.WriteJpeg(d, n, pts, dur);
  }
  bool WritePicture(const ClipPicture& p, std::int64_t pts, std::int64_t dur) override {
    return Count() && real.WritePicture(p, pts, dur);
  }
  bool WriteText(const std::string& t, std::int64_t pts, std::int64_t dur) override {
    return real.WriteText(t, pts, dur);
  }
  bool Finish() override { return real.Finish(); }
  void Abort() override { real.Abort(); }
  std::string LastError() const override { return pictures > 2 ? "No space left on device" : ""; }

 private:
  bool Count() { return ++pictures <= 2; }
  FfmpegClipWriter real;
  int pictures = 0;
};
struct FailingWriters final : IClipWriterFactory {
  std::unique_ptr<IClipWriter> Create() override { return std::make_unique<FailingWriter>(); }
};

TEST_F(ClipExportTest, CancelAndFailureLeaveNothingBehind) {
  MakePair(dir.file("rec.dsc"), kMixed);
  WriteFile(dir.file("clip.mkv"), "the clip of yesterday");
  const std::set<std::string> before = Listing(dir.path());
  ClipExportRequest r;
  r.camera = 1;
  r.output = dir.file("clip.mkv");

  ClipExportResult res = Run(r, [](const ClipExportProgress& p) { return p.done < 4; });
  EXPECT_EQ(res.status, ClipExportResult::Status::Cancelled);
  EXPECT_EQ(Listing(dir.path()), before);
  EXPECT_EQ(ReadFile(dir.file("clip.mkv")), "the clip of yesterday");

  FailingWriters failing;
  r.pairName = dir.file("rec.dsc");
  res = ClipExporter(failing).Export(r);
  EXPECT_EQ(res.status, ClipExportResult::Status::Failed);
  EXPECT_EQ(res.error, "No space left on device");
  EXPECT_EQ(Listing(dir.path()), before);

  r.from = kStart + 100 * kSec;
  res = Run(r);
  EXPECT_FALSE(res.ok());
  EXPECT_EQ(res.error, "no records of camera 1 in the range");
  r.from.reset();

  r.output = dir.file("no such folder/clip.mkv");
  res = Run(r);
  EXPECT_FALSE(res.ok());
  EXPECT_NE(res.error.find("no such folder"), std::string::npos) << res.error;

  // Never over the recording itself.
  r.output = dir.file("rec.bin");
  res = Run(r);
  EXPECT_FALSE(res.ok());
  EXPECT_NE(res.error.find("rec.bin"), std::string::npos) << res.error;

  r.output = dir.file("clip.mkv");
  r.pairName = dir.file("missing.dsc");
  res = ClipExporter(writers).Export(r);
  EXPECT_FALSE(res.ok());
  EXPECT_NE(res.error.find("missing.dsc"), std::string::npos) << res.error;
  EXPECT_EQ(Listing(dir.path()), before);
}

// --- the command line

TEST(ExportCommand, ReadsItsArguments) {
  ClipExportRequest r;
  std::string error;
  ASSERT_TRUE(ParseExportCommand({"--export", "Video.dsc", "--camera", "0", "--from",
                                  "2024-03-01 10:00:05", "--to", "2024-03-01", "--h264", "out.mp4"},
                                 r, error))
      << error;
  EXPECT_EQ(r.pairName, "Video.dsc");
  EXPECT_EQ(r.camera, kAllCameras);
  EXPECT_TRUE(r.h264);
  EXPECT_EQ(r.output, "out.mp4");
  EXPECT_NEAR(*r.from, kStart + 5 * kSec, 1e-9);
  // A day named in --to takes in the whole day.
  EXPECT_GT(*r.to, EncodeDateTime({2024, 3, 1, 23, 59, 59, 999}) - 1e-9);
  EXPECT_LT(*r.to, EncodeDateTime({2024, 3, 2, 0, 0, 0, 0}));
  ASSERT_TRUE(ParseExportCommand(
      {"--export", "V", "--camera", "2", "--to", "2024-03-01 10:00", "o.mkv"}, r, error));
  EXPECT_LT(*r.to, kStart + 60 * kSec);
  EXPECT_GT(*r.to, kStart + 59.999 * kSec);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--export", "V", "o.mkv"},                                       // no camera
           {"--export", "V", "--camera", "256", "o.mkv"},                    // no such camera
           {"--export", "V", "--camera", "1"},                               // no output
           {"--export", "V", "--camera", "1", "--from", "2024-02-30", "o"},  // no such day
           {"--export", "V", "--camera", "1", "--from", "10:00", "o"},
           {"--export", "V", "--camera", "1", "--from", "2024-03-02", "--to", "2024-03-01", "o"},
           {"--export", "V", "--camera", "1", "--fast", "o"},
           {"--export", "V", "--camera", "1", "a", "b"},
       }) {
    EXPECT_FALSE(ParseExportCommand(bad, r, error)) << bad.back();
    EXPECT_FALSE(error.empty());
  }
}

// The program itself, without any display.
int RunProgram(const std::vector<std::string>& args, std::string& out) {
  int pipeFd[2];
  if (::pipe(pipeFd) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFd[1], 1);
    ::dup2(pipeFd[1], 2);
    ::close(pipeFd[0]);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    std::vector<char*> argv = {const_cast<char*>(ZORVENIX_BIN)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(ZORVENIX_BIN, argv.data());
    ::_exit(127);
  }
  ::close(pipeFd[1]);
  char buf[4096];
  ssize_t n;
  while ((n = ::read(pipeFd[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  ::close(pipeFd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ExportCommand, TheProgramExportsWithoutADisplay) {
  TempDir dir;
  MakePair(dir.file("rec.dsc"), kMixed);
  std::string out;
  ASSERT_EQ(RunProgram({"--export", dir.file("rec.dsc"), "--camera", "1", "--object", "1", "--from",
                        "2024-03-01 10:00:11", "--to", "2024-03-01 10:00:16", dir.file("cam1.mkv")},
                       out),
            0)
      << out;
  EXPECT_NE(out.find("export:   0% (0 of 5 records)"), std::string::npos) << out;
  EXPECT_NE(out.find("export: 100% (5 of 5 records)"), std::string::npos) << out;
  ProbedClip clip;
  std::string error;
  ASSERT_TRUE(ProbeClip(dir.file("cam1.mkv"), clip, error)) << error;
  // 10:00:11.25, 12, 13 and (the whole of second 16) 16.5; 15 has no picture.
  EXPECT_EQ(clip.videoMs, (std::vector<std::int64_t>{0, 750, 1750, 5250}));

  out.clear();
  EXPECT_EQ(RunProgram({"--export", dir.file("rec.dsc"), "--camera", "one", "x.mkv"}, out), 2);
  EXPECT_NE(out.find("--camera"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunProgram({"--export", dir.file("none.dsc"), "--camera", "1", dir.file("x.mkv")}, out),
            1);
  EXPECT_NE(out.find("export failed"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir.file("x.mkv")));
}

}  // namespace
}  // namespace zv::test
