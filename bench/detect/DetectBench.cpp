// Detection (compare + measure, all 320 zones on) beside a memcpy of one
// frame buffer, for the plain and the fast implementation.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "detect/Detector.h"
#include "detect/MotionDetector.h"
#include "detect/PictureCodec.h"
#include "detect/Viewer.h"

namespace {

struct Frames {
  zv::TPicture prev, cur, diff;
  zv::ZoneGrid grid;
  Frames(int w, int h) : prev(w, h), cur(w, h), diff(w, h) {
    std::mt19937 rng(1);
    for (auto& b : prev.Bytes()) b = static_cast<std::uint8_t>(rng());
    cur = prev;
    // Noise everywhere, real motion in a tenth of the bytes.
    for (std::size_t i = 0; i < cur.SizeBytes(); ++i) {
      int v = cur.Data()[i] + static_cast<int>(rng() % 21) - 10;
      if (rng() % 10 == 0) v += 100;
      cur.Data()[i] = static_cast<std::uint8_t>(v);
    }
    grid.UpdateFrameGeometry(w, h);
    grid.SetAll(true);
  }
};

const char* IsaName(zv::MotionDetector::Isa isa) {
  switch (isa) {
    case zv::MotionDetector::Isa::Scalar:
      return "scalar";
    case zv::MotionDetector::Isa::Sse2:
      return "sse2";
    case zv::MotionDetector::Isa::Avx2:
      return "avx2";
  }
  return "?";
}

// Each instruction set the CPU offers, at one size.
void BM_DetectIsa(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  zv::MotionDetector det(static_cast<zv::MotionDetector::Isa>(state.range(2)));
  if (static_cast<int>(det.isa()) != state.range(2)) {
    state.SkipWithError("not offered by this CPU");
    return;
  }
  state.SetLabel(IsaName(det.isa()));
  for (auto _ : state)
    benchmark::DoNotOptimize(det.CompareAndMeasure(f.prev, f.cur, f.diff, 32, f.grid, 1.2));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(f.prev.SizeBytes()));
}

void SetSize(benchmark::State& state, const Frames& f) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(f.prev.SizeBytes()));
}

void BM_Memcpy(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    std::memcpy(f.diff.Data(), f.cur.Data(), f.cur.SizeBytes());
    benchmark::ClobberMemory();
  }
  SetSize(state, f);
}

void BM_DetectReference(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    zv::CompareFrames(f.prev, f.cur, f.diff, 32);
    benchmark::DoNotOptimize(zv::MeasureChange(f.grid, f.diff, 1.2));
  }
  SetSize(state, f);
}

void BM_DetectFast(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  zv::MotionDetector det;
  state.SetLabel(IsaName(det.isa()));
  for (auto _ : state)
    benchmark::DoNotOptimize(det.CompareAndMeasure(f.prev, f.cur, f.diff, 32, f.grid, 1.2));
  SetSize(state, f);
}

#define ZV_SIZES Args({352, 288})->Args({640, 480})->Args({1920, 1080})
BENCHMARK(BM_Memcpy)->ZV_SIZES;
BENCHMARK(BM_DetectReference)->ZV_SIZES;
BENCHMARK(BM_DetectFast)->ZV_SIZES;
BENCHMARK(BM_DetectIsa)->ArgsProduct({{352}, {288}, {1, 2}})->ArgsProduct({{1920}, {1080}, {1, 2}});

}  // namespace

namespace {
void BM_CompareOnlyFast(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  zv::MotionDetector det;
  for (auto _ : state) {
    det.CompareFrames(f.prev, f.cur, f.diff, 32);
    benchmark::ClobberMemory();
  }
  SetSize(state, f);
}
BENCHMARK(BM_CompareOnlyFast)->ZV_SIZES;
}  // namespace

namespace {

// A camera-like picture: smooth shapes with some noise, as JPEG sees it.
zv::TPicture Scene(int w, int h) {
  zv::TPicture p(w, h);
  std::mt19937 rng(2);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* px = p.StoredRow(y) + 3 * x;
      px[0] = static_cast<std::uint8_t>((x * 255 / w + rng() % 8));
      px[1] = static_cast<std::uint8_t>((y * 255 / h + rng() % 8));
      px[2] = static_cast<std::uint8_t>(((x + y) % 64) * 4);
    }
  return p;
}

void BM_JpegEncode(benchmark::State& state) {
  const zv::TPicture pic = Scene(352, 288);
  zv::JpegCodec codec;
  std::size_t size = 0;
  for (auto _ : state) size = codec.EncodePicture(pic, 60, true).size();
  state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_JpegEncode);

void BM_JpegDecode(benchmark::State& state) {
  const zv::TPicture pic = Scene(352, 288);
  zv::JpegCodec codec;
  auto s = codec.EncodePicture(pic, 60, true);
  const std::vector<std::uint8_t> jpeg(s.begin(), s.end());
  zv::TPicture out(352, 288);
  for (auto _ : state)
    benchmark::DoNotOptimize(codec.DecodePicture(out, jpeg.data(), jpeg.size(), true));
}
BENCHMARK(BM_JpegDecode);

// A pair of 100 000 JPEG records in a temporary folder.
struct BigPair {
  std::filesystem::path dir;
  std::string dsc;
  BigPair() {
    char tmpl[] = "/tmp/zvbench-XXXXXX";
    dir = ::mkdtemp(tmpl);
    dsc = (dir / "big.dsc").string();
    zv::RecordingPair pair;
    pair.OpenOrCreate(dsc);
    zv::JpegCodec codec;
    auto s = codec.EncodePicture(Scene(352, 288), 60, true);
    const std::vector<std::uint8_t> jpeg(s.begin(), s.end());
    for (int i = 0; i < 100000; ++i) {
      zv::FrameDescriptor d;
      d.width = 352;
      d.height = 288;
      d.format = zv::kFormatJpeg;
      d.changeLevel = i % 101;
      // Only every 1000th record carries its own picture; the rest share it.
      if (i % 1000 == 0) {
        pair.Append(d, jpeg.data(), jpeg.size());
      } else {
        pair.Append(d, nullptr, 0);
      }
    }
  }
  ~BigPair() { std::filesystem::remove_all(dir); }
};

BigPair& Big() {
  static BigPair pair;
  return pair;
}

void BM_ViewerOpen100k(benchmark::State& state) {
  BigPair& big = Big();
  zv::ViewerSession viewer;
  for (auto _ : state) {
    if (!viewer.Open(big.dsc)) state.SkipWithError("open failed");
    // Opening draws the change graph once.
    benchmark::DoNotOptimize(zv::ComputeChangeGraph(viewer.Index().Levels(), 484, 27, 1.2));
  }
}
BENCHMARK(BM_ViewerOpen100k)->Unit(benchmark::kMillisecond);

void BM_ViewerShowJpeg(benchmark::State& state) {
  BigPair& big = Big();
  zv::ViewerSession viewer;
  viewer.Open(big.dsc);
  zv::JpegCodec codec;
  zv::PictureLoader loader(codec);
  zv::TPicture shown;
  std::int32_t n = 1;
  for (auto _ : state) {
    zv::FrameDescriptor d;
    if (viewer.Prepare(n, d) != zv::ViewerSession::Check::Show ||
        loader.Load(viewer.Reader(), d, shown, true) != zv::PictureLoader::Loaded)
      state.SkipWithError("show failed");
    n = n % 99001 + 1000;  // records carrying a picture: 1, 1001, 2001, ...
    n -= (n - 1) % 1000;
  }
}
BENCHMARK(BM_ViewerShowJpeg)->Unit(benchmark::kMicrosecond);

// Collects every run's time for the summary lines.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ns;  // name -> CPU time per iteration in ns
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred)
        ns[r.benchmark_name()] =
            r.GetAdjustedCPUTime() * (r.time_unit == benchmark::kMillisecond   ? 1e6
                                      : r.time_unit == benchmark::kMicrosecond ? 1e3
                                                                               : 1.0);
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  // One line per figure: "name value unit".
  std::fflush(stdout);
  std::printf("\n");
  auto get = [&](const std::string& name) {
    auto it = reporter.ns.find(name);
    return it == reporter.ns.end() ? -1.0 : it->second;
  };
  auto ratio = [&](const char* size) {
    const double d = get(std::string("BM_DetectFast/") + size),
                 m = get(std::string("BM_Memcpy/") + size);
    return d > 0 && m > 0 ? d / m : -1.0;
  };
  std::printf("summary: detect_352x288_vs_memcpy %.2f x\n", ratio("352/288"));
  std::printf("summary: detect_1920x1080_vs_memcpy %.2f x\n", ratio("1920/1080"));
  const double enc = get("BM_JpegEncode"), dec = get("BM_JpegDecode");
  std::printf("summary: jpeg_encode_352x288 %.0f per_s\n", enc > 0 ? 1e9 / enc : -1.0);
  std::printf("summary: jpeg_decode_352x288 %.0f per_s\n", dec > 0 ? 1e9 / dec : -1.0);
  std::printf("summary: viewer_open_100k %.2f ms\n", get("BM_ViewerOpen100k") / 1e6);
  std::printf("summary: viewer_show_jpeg %.3f ms\n", get("BM_ViewerShowJpeg") / 1e6);
  return 0;
}
