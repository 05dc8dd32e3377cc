// Network cameras and clip export:
//   netcam_decode_1080p_h264  CPU of one camera sending 1080p H.264 at 25
//                             pictures a second, decoded and scaled to the
//                             processing size (352 x 288), as a share of one
//                             core (demuxing, decoding, scaling, hand-over)
//   export_mjpeg_records_per_s  JPEG records of 352 x 288 copied from a
//                             recording pair into a Matroska clip
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "detect/ClipExport.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "platform/Dispatcher.h"
#include "platform/FfmpegCamera.h"
#include "platform/FfmpegClipWriter.h"
#include "video/Picture.h"

namespace {

namespace fs = std::filesystem;

fs::path WorkFolder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("zv-netcam-bench-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// A scene a street camera might see: a lit gradient with some texture, a
// bright disc crossing it, and the sensor's noise (which is what makes a
// real camera's stream cost bits).
zv::TPicture Scene(int w, int h, int n) {
  zv::TPicture p(w, h);
  const int cx = (n * 37) % w, cy = h / 2 + static_cast<int>(h / 4 * std::sin(n * 0.2));
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = p.ScreenRow(y);
    for (int x = 0; x < w; ++x) {
      const int dx = x - cx, dy = y - cy;
      const bool disc = dx * dx + dy * dy < 120 * 120;
      const unsigned noise =
          (static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y + n * 7919) * 40503u) >>
          27;
      const int tex =
          ((x / 24 + y / 24) & 1) * 24 + ((x * 7 + y * 13) & 15) + static_cast<int>(noise);
      row[x * 3] = static_cast<std::uint8_t>(disc ? 240 : 40 + x * 120 / w + tex);
      row[x * 3 + 1] = static_cast<std::uint8_t>(disc ? 230 : 60 + y * 100 / h + tex);
      row[x * 3 + 2] = static_cast<std::uint8_t>(disc ? 30 : 50 + tex);
    }
  }
  return p;
}

// Two seconds of a 1080p camera at 25 pictures a second, H.264 with a key
// picture every second.
std::string Clip1080p() {
  static const std::string path = [] {
    const std::string file = (WorkFolder() / "camera-1080p.mp4").string();
    zv::FfmpegClipWriter w;
    zv::ClipWriterConfig c;
    c.kind = zv::ClipKind::H264Mp4;
    c.width = 1920;
    c.height = 1080;
    c.frameRate = 12.5;  // a key picture every 25 pictures
    c.quality = 60;
    if (!w.Open(file, c)) std::fprintf(stderr, "clip: %s\n", w.LastError().c_str());
    for (int i = 0; i < 50; ++i) {
      const zv::TPicture p = Scene(1920, 1080, i);
      w.WritePicture(zv::ClipPicture{p.Data(), p.Width(), p.Height(), p.Stride(), false}, i * 40,
                     40);
    }
    if (!w.Finish()) std::fprintf(stderr, "clip: %s\n", w.LastError().c_str());
    return file;
  }();
  return path;
}

// One iteration: one picture decoded, scaled and handed to the main thread.
void BM_NetcamDecode1080pH264(benchmark::State& state) {
  zv::QueueDispatcher dispatcher;
  zv::NetworkCameraConfig c;
  c.url = Clip1080p();
  c.width = 352;
  c.height = 288;
  c.paceFiles = false;  // as fast as it decodes: the CPU per picture is the figure
  std::uint64_t frames = 0;
  zv::NetworkCameraEvents ev;
  ev.onFrame = [&](const zv::NetFrame&) { ++frames; };
  zv::FfmpegCamera camera(c, dispatcher, ev);
  camera.Start();
  // The file's first pictures include opening it: not part of the figure.
  while (camera.Stats().decoded < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (auto _ : state) {
    const std::uint64_t next = camera.Stats().decoded + 1;
    while (camera.Stats().decoded < next) {
      dispatcher.Drain();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  camera.Stop();
  state.counters["delivered"] = static_cast<double>(frames);
  // The stream's rate, to compare with a real camera's (4 to 8 Mbit/s).
  state.counters["Mbit_per_s"] = static_cast<double>(fs::file_size(c.url)) * 8 / 2 / 1e6;
}
BENCHMARK(BM_NetcamDecode1080pH264)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// A pair of 500 JPEG records of 352 x 288, one every 600 ms.
std::string Pair() {
  static const std::string name = [] {
    const std::string dsc = (WorkFolder() / "records.dsc").string();
    zv::RecordingPair pair;
    pair.OpenOrCreate(dsc);
    zv::JpegCodec codec;
    std::vector<std::vector<std::uint8_t>> jpegs;
    for (int i = 0; i < 10; ++i) {
      auto s = codec.EncodePicture(Scene(352, 288, i * 5), 60, true);
      jpegs.emplace_back(s.begin(), s.end());
    }
    for (int i = 0; i < 500; ++i) {
      zv::FrameDescriptor d;
      d.captureTime = 45000.5 + i * 0.6 / 86400.0;
      d.width = 352;
      d.height = 288;
      d.colored = true;
      d.format = zv::kFormatJpeg;
      d.camera = 1;
      const auto& j = jpegs[static_cast<std::size_t>(i % 10)];
      pair.Append(d, j.data(), j.size());
    }
    return dsc;
  }();
  return name;
}

void BM_ExportMjpegRecords(benchmark::State& state) {
  zv::FfmpegClipWriterFactory writers;
  zv::ClipExporter exporter(writers);
  zv::ClipExportRequest r;
  r.pairName = Pair();
  r.camera = 1;
  r.output = (WorkFolder() / "export.mkv").string();
  for (auto _ : state) {
    const zv::ClipExportResult res = exporter.Export(r);
    if (!res.ok() || res.copied != 500) state.SkipWithError(res.error.c_str());
  }
  state.SetItemsProcessed(static_cast<long long>(state.iterations()) * 500);
}
BENCHMARK(BM_ExportMjpegRecords)->Unit(benchmark::kMillisecond)->UseRealTime();

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ns;  // name -> time per iteration in ns
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) {
        const double unit = r.time_unit == benchmark::kMillisecond   ? 1e6
                            : r.time_unit == benchmark::kMicrosecond ? 1e3
                                                                     : 1.0;
        ns[r.benchmark_name() + ":cpu"] = r.GetAdjustedCPUTime() * unit;
        ns[r.benchmark_name() + ":real"] = r.GetAdjustedRealTime() * unit;
      }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(WorkFolder(), ec);
  std::fflush(stdout);
  std::printf("\n");
  // Names carry suffixes such as "/process_time/real_time".
  auto get = [&](const std::string& base, const std::string& kind) {
    for (const auto& [name, v] : reporter.ns)
      if (name.rfind(base, 0) == 0 && name.size() > kind.size() &&
          name.compare(name.size() - kind.size(), kind.size(), kind) == 0)
        return v;
    return -1.0;
  };
  const double decode = get("BM_NetcamDecode1080pH264", ":cpu");
  const double exportNs = get("BM_ExportMjpegRecords", ":real");
  std::printf("summary: netcam_decode_1080p_h264 %.1f %%_of_a_core\n",
              decode > 0 ? decode * 25 / 1e9 * 100 : -1.0);
  std::printf("summary: export_mjpeg_records_per_s %.0f per_s\n",
              exportNs > 0 ? 500 * 1e9 / exportNs : -1.0);
  return 0;
}
